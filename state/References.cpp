#include "state/References.h"

#include "state/TextCase.h"

namespace pelotest {

namespace {

// The runaway guard (see the header): passes beyond the opening markers written into the text.
constexpr std::size_t kMaxReformedPasses = 100;
constexpr std::size_t kMaxReformedLength = 64 * 1024;

std::size_t countOccurrences(std::string_view text, std::string_view needle) {
    std::size_t count = 0;
    for (std::size_t at = text.find(needle); at != std::string_view::npos;
         at = text.find(needle, at + needle.size()))
        ++count;
    return count;
}

} // namespace

ExpandedReferences expandVariableReferences(AppState& state, Host* host, std::string_view text,
                                            const ReferencePolicy& policy) REQUIRES(state.mutex) {
    const std::string& before = state.settings.varBefore;
    const std::string& after = state.settings.varAfter;
    ExpandedReferences result{std::string(text), false};
    std::string& out = result.text;
    if (before.empty() || after.empty())
        return result;

    VariableTable& variables = state.variables;
    const bool marking = policy.markRows && state.settings.variablesAutoSort;
    bool unreported = false; // rows changed since the host was last told
    const auto report = [&] {
        if (unreported && host)
            host->variablesChanged();
        unreported = false;
    };

    const std::size_t writtenMarkers = countOccurrences(out, before);
    for (std::size_t pass = 0;; ++pass) {
        if (pass >= writtenMarkers &&
            (pass >= kMaxReformedPasses || out.size() > kMaxReformedLength))
            break;
        const std::size_t open = out.find(before);
        if (open == std::string::npos)
            break;
        const std::size_t nameStart = open + before.size();
        const std::size_t close = out.find(after, nameStart);
        if (close == std::string::npos)
            break;
        const std::string name = out.substr(nameStart, close - nameStart);
        result.found = true;

        std::string value;
        if (const std::optional<std::size_t> row = variables.find(name)) {
            value = stripVariableReferences(variables[*row].value, before, after);
            if (marking && variables[*row].mark == Mark::Plain) {
                variables.markUsed(*row, variables.leadingPassedCount() + policy.markBelowPassed);
                state.variablesChanged = unreported = true;
            }
        } else if (policy.createUnknown &&
                   variables.withinLimits(variables.size() + 1, variables.bytes() + name.size())) {
            const std::size_t added = variables.add(name, "");
            if (marking)
                variables.markUsed(added, variables.leadingPassedCount() + policy.markBelowPassed);
            state.variablesChanged = unreported = true;
        }
        if (policy.ask) {
            // The list shows the marks before the question does.
            report();
            if (std::optional<std::string> answer = policy.ask(name, value))
                value = std::move(*answer);
        }
        out = replaceAll(out, before + name + after, value);
    }
    report();
    return result;
}

} // namespace pelotest

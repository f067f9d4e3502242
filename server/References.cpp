#include "server/References.h"

#include "state/TextCase.h"

namespace pelotest {

namespace {

// A line whose references keep re-forming (a value that ends in an opening marker placed before
// a closing marker, say) would loop for ever; after this many passes the rest stays as it is.
constexpr int kMaxExpansionPasses = 10000;

} // namespace

std::string expandReferences(AppState& state, Host& host, std::string_view line) {
    const std::string& before = state.settings.VarBefore;
    const std::string& after = state.settings.VarAfter;
    std::string text(line);
    if (before.empty() || after.empty())
        return text; // without both markers nothing is a reference

    bool changedRows = false;
    for (int pass = 0; pass < kMaxExpansionPasses; ++pass) {
        const std::size_t open = text.find(before);
        if (open == std::string::npos)
            break;
        const std::size_t nameStart = open + before.size();
        const std::size_t close = text.find(after, nameStart);
        if (close == std::string::npos)
            break;
        const std::string name = text.substr(nameStart, close - nameStart);

        VariableTable& variables = state.variables;
        const bool autoSort = state.settings.VariablesAutoSort;
        std::string replacement;
        if (const std::optional<std::size_t> row = variables.find(name)) {
            replacement = stripVariableReferences(variables[*row].Value, before, after);
            if (autoSort && variables[*row].mark == Mark::Plain) {
                variables.markUsed(*row, variables.leadingPassedCount());
                changedRows = true;
            }
        } else if (variables.withinLimits(variables.size() + 1, variables.bytes() + name.size())) {
            // A full list takes no more names; the reference still renders empty.
            const std::size_t added = variables.add(name, "");
            if (autoSort)
                variables.markUsed(added, variables.leadingPassedCount());
            changedRows = true;
        }
        text = replaceAll(text, before + name + after, replacement);
    }
    if (changedRows) {
        state.VariablesChanged = true;
        host.variablesChanged();
    }
    return text;
}

} // namespace pelotest

#include "state/VariableReferences.h"

#include "state/TextEdits.h"

#include <limits>
#include <unordered_map>

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

    // Rows that a planned expansion marked are placed first: this expansion finds rows by index.
    variables.placeUsedRows();
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

namespace {

bool holdsByte(std::string_view bytes, char c) {
    return bytes.find(c) != std::string_view::npos;
}

} // namespace

TextReferences findTextReferences(std::string_view text, std::string_view before,
                                  std::string_view after) {
    TextReferences found;
    found.text = std::string(text);
    if (before.empty() || after.empty())
        return found;
    const std::size_t first = text.find(before);
    if (first == std::string_view::npos ||
        text.find(after, first + before.size()) == std::string_view::npos)
        return found;
    found.kind = TextReferences::Kind::General;
    if (text.size() > std::numeric_limits<std::uint32_t>::max())
        return found;

    // The references one after the other, as a single left-to-right scan sees them. The general
    // expansion replaces the same ones pass by pass exactly when every opening marker of the text
    // (overlapping ones included) starts one of them: no name then holds a marker, no opening
    // marker stands after the last reference, and a name's whole reference matches only where it
    // is written.
    const auto piece = [](std::size_t at, std::size_t size) {
        return TextReferences::Piece{static_cast<std::uint32_t>(at),
                                     static_cast<std::uint32_t>(size)};
    };
    std::unordered_map<std::string_view, std::uint32_t> nameIndexes;
    std::size_t literal = 0;
    std::size_t open = first;
    while (open != std::string_view::npos) {
        const std::size_t nameStart = open + before.size();
        const std::size_t close = text.find(after, nameStart);
        if (close == std::string_view::npos)
            return found;
        // Any opening marker from the second byte of this one up to the next one that the scan
        // finds lies inside this reference or before the next: the text is not planned.
        const std::size_t end = close + after.size();
        const std::size_t next = text.find(before, end);
        const std::size_t inside = text.find(before, open + 1);
        if (inside != next)
            return found;
        const std::string_view name = text.substr(nameStart, close - nameStart);
        const auto [known, added] =
            nameIndexes.try_emplace(name, static_cast<std::uint32_t>(found.names.size()));
        if (added)
            found.names.push_back(piece(nameStart, name.size()));
        found.literals.push_back(piece(literal, open - literal));
        found.references.push_back(TextReferences::Reference{known->second, false});
        literal = end;
        open = next;
    }
    found.literals.push_back(piece(literal, text.size() - literal));

    // An empty value joins the literals on both sides of its reference. A marker can form
    // across it only if the byte just before and the byte just after both belong to one.
    for (std::size_t i = 0; i < found.references.size(); ++i) {
        const TextReferences::Piece left = found.literals[i];
        const TextReferences::Piece right = found.literals[i + 1];
        found.references[i].emptyIsInert =
            (left.size > 0 && !holdsByte(before, text[left.at + left.size - 1])) ||
            (right.size > 0 && !holdsByte(before, text[right.at]));
    }
    found.kind = TextReferences::Kind::Planned;
    return found;
}

namespace {

// The text with every reference replaced by valueOf(its name's index).
template <typename ValueOf>
void appendPieces(std::string& out, const TextReferences& text, ValueOf valueOf) {
    const std::string_view written = text.text;
    const std::size_t count = text.references.size();
    for (std::size_t i = 0; i < count; ++i) {
        const TextReferences::Piece literal = text.literals[i];
        out.append(written.data() + literal.at, literal.size);
        out.append(valueOf(text.references[i].name));
    }
    const TextReferences::Piece tail = text.literals[count];
    out.append(written.data() + tail.at, tail.size);
}

// The changes of a planned expansion, name by name in the order the passes would make them;
// rowOf(i) is the row name i was found in before anything changed.
template <typename RowOf>
void applyPlannedChanges(AppState& state, Host* host, const TextReferences& text, RowOf rowOf)
    REQUIRES(state.mutex) {
    VariableTable& variables = state.variables;
    const std::string_view written = text.text;
    const bool marking = state.settings.variablesAutoSort;
    bool changed = false;
    for (std::size_t i = 0; i < text.names.size(); ++i) {
        std::optional<std::size_t> row = rowOf(i);
        const std::string_view name = written.substr(text.names[i].at, text.names[i].size);
        if (!row) // another spelling of the name may have created its row meanwhile
            row = variables.find(name);
        if (row) {
            if (marking && variables[*row].mark == Mark::Plain) {
                variables.markUsedLater(*row);
                changed = true;
            }
        } else if (variables.withinLimits(variables.size() + 1, variables.bytes() + name.size())) {
            const std::size_t added = variables.add(std::string(name), "");
            if (marking)
                variables.markUsedLater(added);
            changed = true;
        }
    }
    if (changed) {
        state.variablesChanged = true;
        if (host)
            host->variablesChanged();
    }
}

} // namespace

bool appendPlannedExpansion(AppState& state, Host* host, const TextReferences& text,
                            std::string& out, PlannedLookup& lookup, RememberedRows* remembered)
    REQUIRES(state.mutex) {
    const std::string& before = state.settings.varBefore;
    const std::string& after = state.settings.varAfter;
    if (text.kind != TextReferences::Kind::Planned || before.empty() || after.empty())
        return false;
    VariableTable& variables = state.variables;
    const std::string_view written = text.text;
    const std::size_t nameCount = text.names.size();
    const std::uint64_t generation = variables.generation();
    const std::uint64_t valuesGeneration = variables.valuesGeneration();

    // The same rows with the same values as when they were last found to stand as they are: no
    // name to look up and no value to check.
    if (remembered && remembered->generation == generation &&
        remembered->plainValues == valuesGeneration && remembered->rows.size() == nameCount) {
        const std::size_t* rows = remembered->rows.data();
        const std::vector<Variable>& rowList = variables.rows();
        appendPieces(out, text, [&](std::uint32_t name) {
            const std::size_t row = rows[name];
            return row == RememberedRows::kUnknown ? std::string_view()
                                                   : std::string_view(rowList[row].value);
        });
        applyPlannedChanges(state, host, text, [&](std::size_t name) {
            const std::size_t row = rows[name];
            return row == RememberedRows::kUnknown ? std::nullopt : std::optional(row);
        });
        return true;
    }

    if (lookup.markerBytesOf != before) {
        lookup.markerBytesOf = before;
        lookup.markerBytes.reset();
        for (const char c : before)
            lookup.markerBytes.set(static_cast<unsigned char>(c));
    }
    const auto markerByte = [&lookup](char c) {
        return lookup.markerBytes.test(static_cast<unsigned char>(c));
    };

    // Every name once, as the general expansion would find it; nothing changes yet.
    lookup.names.resize(nameCount);
    if (remembered &&
        (remembered->generation != generation || remembered->rows.size() != nameCount)) {
        remembered->generation = generation;
        remembered->plainValues = 0;
        remembered->rows.resize(nameCount);
        for (std::size_t i = 0; i < nameCount; ++i) {
            const std::optional<std::size_t> row =
                variables.find(written.substr(text.names[i].at, text.names[i].size));
            remembered->rows[i] = row.value_or(RememberedRows::kUnknown);
        }
    }
    bool stripped = false;
    for (std::size_t i = 0; i < nameCount; ++i) {
        PlannedLookup::Name& name = lookup.names[i];
        if (remembered) {
            const std::size_t row = remembered->rows[i];
            name.row = row == RememberedRows::kUnknown ? std::nullopt : std::optional(row);
        } else {
            name.row = variables.find(written.substr(text.names[i].at, text.names[i].size));
        }
        name.value = {};
        if (!name.row)
            continue;
        name.value = variables[*name.row].value;
        if (name.value.find(before) != std::string_view::npos) {
            name.stripped = stripVariableReferences(name.value, before, after);
            // Cutting references out can leave an opening marker whose reference never closes.
            if (name.stripped.find(before) != std::string::npos)
                return false;
            name.value = name.stripped;
            stripped = true;
        }
    }
    // A value that could form an opening marker with its surroundings leaves the text to the
    // general expansion (no value holds a whole marker any more).
    for (const TextReferences::Reference& reference : text.references) {
        const std::string_view value = lookup.names[reference.name].value;
        if (value.empty() ? !reference.emptyIsInert
                          : markerByte(value.front()) || markerByte(value.back()))
            return false;
    }
    if (remembered && !stripped)
        remembered->plainValues = valuesGeneration;

    appendPieces(out, text, [&](std::uint32_t name) { return lookup.names[name].value; });
    applyPlannedChanges(state, host, text,
                        [&](std::size_t name) { return lookup.names[name].row; });
    return true;
}

} // namespace pelotest

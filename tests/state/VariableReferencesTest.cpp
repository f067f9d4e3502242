#include "state/VariableReferences.h"

#include "support/FakeHost.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace pelotest {
namespace {

using test::FakeHost;

// The runaway guard cuts off only references that values keep forming again: whatever is written
// into a text expands in full, however many references it holds and however long it gets.
TEST(ReferenceExpansion, TheGuardStopsOnlyReformedReferences) {
    struct Case {
        const char* what;
        std::vector<std::pair<std::string, std::string>> rows;
        std::string text;
        std::string expanded;
    };
    std::vector<std::pair<std::string, std::string>> many;
    std::string manyText, manyExpanded;
    for (int i = 0; i < 300; ++i) {
        many.emplace_back("v" + std::to_string(i), std::to_string(i));
        manyText += "/(v" + std::to_string(i) + ")-";
        manyExpanded += std::to_string(i) + "-";
    }
    const std::string big(70 * 1024, 'b');
    const Case cases[] = {
        {"300 names written into one line", many, manyText, manyExpanded},
        {"a value longer than 64 KiB before another reference",
         {{"big", big}, {"x", "1"}},
         "/(big)/(x)/(big)",
         big + "1" + big},
        {"a text longer than 64 KiB to begin with",
         {{"x", "1"}},
         std::string(100 * 1024, 't') + "/(x)",
         std::string(100 * 1024, 't') + "1"},
        {"a value that forms its reference again: 100 passes in all",
         {{"A", "x/(A"}},
         "/(A)" + std::string(500, ')'),
         std::string(100, 'x') + "/(A)" + std::string(400, ')')},
        {"after 150 written markers a value forms its reference again for 150 passes",
         {{"A", "x/(A"}, {"b", ""}},
         [] {
             std::string s;
             for (int i = 0; i < 150; ++i)
                 s += "/(b)";
             return s;
         }() +
             "/(A)" + std::string(300, ')'),
         std::string(150, 'x') + "/(A" + std::string(151, ')')},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        AppState state;
        FakeHost host;
        for (const auto& [name, value] : c.rows)
            state.variables.add(name, value);
        const ExpandedReferences result = expandVariableReferences(state, &host, c.text, {});
        EXPECT_EQ(result.text, c.expanded);
        EXPECT_TRUE(result.found);
    }
}

TEST(ReferenceExpansion, PoliciesCreateMarkAndAsk) {
    AppState state;
    FakeHost host;
    state.variables.add("p", "1");
    state.variables.add("a", "2");
    state.variables.add("b", "3");
    state.variables.markPassed(0); // p

    // Created rows and found Plain rows are marked, one place below the Passed block here.
    const ReferencePolicy place{.createUnknown = true, .markRows = true, .markBelowPassed = 1};
    EXPECT_EQ(expandVariableReferences(state, &host, "/(b)/(new)", place).text, "3");
    std::vector<std::string> order;
    for (const Variable& row : state.variables.rows())
        order.push_back(row.name);
    EXPECT_EQ(order, (std::vector<std::string>{"p", "a", "new", "b"}));
    EXPECT_EQ(state.variables[2].mark, Mark::Used);
    EXPECT_TRUE(state.variablesChanged);
    EXPECT_EQ(host.variablesNotes, 1);

    // The user is asked for every name, after the list has been told about the marks; an
    // answer serves this expansion only.
    state.variablesChanged = false;
    std::vector<int> notesWhenAsked;
    ReferencePolicy ask{.markRows = true};
    ask.ask = [&](const std::string& name, const std::string&) {
        notesWhenAsked.push_back(host.variablesNotes);
        return name == "a" ? std::optional<std::string>("mine") : std::nullopt;
    };
    EXPECT_EQ(expandVariableReferences(state, &host, "[/(a)|/(none)]", ask).text, "[mine|]");
    EXPECT_EQ(notesWhenAsked, (std::vector<int>{2, 2}));
    EXPECT_EQ(state.variables[*state.variables.find("a")].value, "2");

    // Without a host and without markers nothing is told and nothing is a reference.
    state.settings.varAfter.clear();
    const ExpandedReferences none = expandVariableReferences(state, nullptr, "/(a)", place);
    EXPECT_EQ(none.text, "/(a)");
    EXPECT_FALSE(none.found);
}

// The planned expansion of template lines against the general one, on random lines and tables:
// markers of one and more bytes that overlap themselves, values that hold marker bytes, empty
// values, names in other letter cases, unknown names at the table's limit, auto-sort on and off.
// Several lines run one after the other on one table, as in a template, so that the rows marked
// for later placement meet the lines after them (and the general expansion of a line the plan
// refused). The same lines are then expanded again, as by the next requests, with the rows they
// found remembered, after the table has changed in one of the ways it can (rows added, removed,
// renamed, moved, sorted, replaced, values set, marks reset, parameters applied). Text, rows
// (order, values, marks) and notifications must all agree after every request.
TEST(ReferenceExpansion, PlannedExpansionMatchesTheGeneralOne) {
    struct Markers {
        std::string before, after;
    };
    const Markers markers[] = {{"/(", ")"}, {"((", "))"}, {"aa", "a"}, {"#", "#"}, {"<%", "%>"}};
    const std::string names[] = {"a", "A", "ab", "x", "X1", "x1", "n(", "q"};
    std::mt19937 random(20261207);
    const auto pick = [&random](std::size_t n) {
        return std::uniform_int_distribution<std::size_t>(0, n - 1)(random);
    };
    int planned = 0, refused = 0, remembered = 0;
    for (int round = 0; round < 3000; ++round) {
        const Markers& m = markers[pick(std::size(markers))];
        const std::string bytes = m.before + m.after + "ab/x ";
        const auto someText = [&](std::size_t most) {
            std::string text;
            for (std::size_t n = pick(most + 1); n > 0; --n)
                text += bytes[pick(bytes.size())];
            return text;
        };
        AppState general, plannedState;
        for (AppState* state : {&general, &plannedState}) {
            state->settings.varBefore = m.before;
            state->settings.varAfter = m.after;
            state->settings.variablesAutoSort = pick(4) != 0;
        }
        plannedState.settings.variablesAutoSort = general.settings.variablesAutoSort;
        const bool autoSort = general.settings.variablesAutoSort;
        // The same table in both: rows of some names (plain values mostly), a Passed head.
        const std::size_t rows = pick(7);
        for (std::size_t i = 0; i < rows; ++i) {
            const std::string name = names[pick(std::size(names))];
            const std::string value = pick(3) == 0 ? someText(4) : "v" + std::to_string(i);
            general.variables.add(name, value);
            plannedState.variables.add(name, value);
        }
        for (std::size_t i = 0, passed = pick(3); i < passed && i < rows; ++i) {
            const std::size_t at = pick(rows);
            general.variables.markPassed(at);
            plannedState.variables.markPassed(at);
        }
        for (std::size_t i = 0, used = pick(3); i < used && i < rows; ++i) {
            const std::size_t at = pick(rows), target = pick(rows + 1);
            general.variables.markUsed(at, target);
            plannedState.variables.markUsed(at, target);
        }
        if (pick(3) == 0) { // room for one more row at most
            const VariableLimits tight{rows + pick(2), 1024};
            general.variables.setLimits(tight);
            plannedState.variables.setLimits(tight);
        }
        std::vector<std::string> texts;
        for (std::size_t line = 0, lines = 1 + pick(4); line < lines; ++line) {
            std::string text = someText(3);
            for (std::size_t n = pick(4); n > 0; --n) {
                text += m.before + names[pick(std::size(names))] + m.after;
                text += pick(2) ? someText(3) : "";
            }
            texts.push_back(std::move(text));
        }
        std::vector<TextReferences> found;
        for (const std::string& text : texts)
            found.push_back(findTextReferences(text, m.before, m.after));
        std::vector<RememberedRows> rowsOf(texts.size());

        // One change of the table between two requests, the same in both.
        const auto change = [&] {
            const std::size_t size = general.variables.size();
            const std::string name = names[pick(std::size(names))];
            const std::string value = pick(2) ? "w" + std::to_string(pick(100)) : someText(3);
            const std::size_t at = size == 0 ? 0 : pick(size);
            const std::size_t target = pick(size + 1);
            // A value that cannot stand as it is: it holds a reference or ends in a marker byte.
            const std::string awkward = pick(2) ? m.before + names[pick(std::size(names))] + m.after
                                                : "z" + m.before.substr(0, 1);
            const std::size_t kind = pick(13);
            const VariableColumn column = pick(2) ? VariableColumn::Name : VariableColumn::Value;
            if (size == 0 && kind >= 1 && kind <= 5)
                return;
            for (AppState* state : {&general, &plannedState}) {
                VariableTable& table = state->variables;
                switch (kind) {
                case 0:
                    table.add(name, value);
                    break;
                case 1:
                    table.remove(at);
                    break;
                case 2:
                    table.setName(at, name);
                    break;
                case 3:
                    table.setValue(at, value);
                    break;
                case 4:
                    table.markPassed(at);
                    break;
                case 5:
                    table.move(at, target);
                    break;
                case 6:
                    sortVariablesByColumn(*state, column);
                    break;
                case 7:
                    table.applyParameters({{name, value}, {names[0], "p"}}, autoSort);
                    break;
                case 8:
                    table.resetMarks();
                    break;
                case 9: { // loaded again from the settings file
                    std::vector<Variable> loaded = table.rows();
                    std::reverse(loaded.begin(), loaded.end());
                    table.assignLoaded(std::move(loaded));
                    break;
                }
                case 10: { // replaced by a copy, the old table left behind empty
                    VariableTable copy = table;
                    table = VariableTable();
                    table = std::move(copy);
                    break;
                }
                case 11: // a name that lines refer to gets such a value
                    if (const std::optional<std::size_t> row = table.find(name))
                        table.setValue(*row, awkward);
                    break;
                default:
                    break; // nothing changed: the rows found last time still hold
                }
            }
        };
        FakeHost generalHost, plannedHost;
        PlannedLookup lookup;
        for (int request = 0; request < 3; ++request) {
            if (request > 0)
                change();
            for (std::size_t line = 0; line < texts.size(); ++line) {
                const std::string& text = texts[line];
                SCOPED_TRACE("request " + std::to_string(request) + " line [" + text +
                             "] markers " + m.before + " " + m.after);
                const std::string expected =
                    expandVariableReferences(general, &generalHost, text,
                                             {.createUnknown = true, .markRows = true})
                        .text;
                std::string got;
                const bool known = rowsOf[line].generation == plannedState.variables.generation();
                if (found[line].kind == TextReferences::Kind::Literal) {
                    got = text;
                } else if (appendPlannedExpansion(plannedState, &plannedHost, found[line], got,
                                                  lookup, &rowsOf[line])) {
                    ++planned;
                    remembered += known;
                } else {
                    ++refused;
                    got = expandVariableReferences(plannedState, &plannedHost, text,
                                                   {.createUnknown = true, .markRows = true})
                              .text;
                }
                EXPECT_EQ(got, expected);
            }
            plannedState.variables.placeUsedRows();
            ASSERT_EQ(plannedState.variables.size(), general.variables.size());
            for (std::size_t i = 0; i < general.variables.size(); ++i) {
                const Variable& want = general.variables[i];
                const Variable& have = plannedState.variables[i];
                EXPECT_EQ(have.name, want.name) << "row " << i;
                EXPECT_EQ(have.value, want.value) << "row " << i;
                EXPECT_EQ(have.mark, want.mark) << "row " << i;
                EXPECT_EQ(plannedState.variables.find(want.name),
                          general.variables.find(want.name));
            }
            EXPECT_EQ(plannedState.variablesChanged, general.variablesChanged);
            EXPECT_EQ(plannedHost.variablesNotes, generalHost.variablesNotes);
        }
    }
    // Every way was taken often enough to mean something.
    EXPECT_GT(planned, 1000);
    EXPECT_GT(refused, 100);
    EXPECT_GT(remembered, 500);
}

} // namespace
} // namespace pelotest

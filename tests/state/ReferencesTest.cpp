#include "state/References.h"

#include "support/FakeHost.h"

#include <gtest/gtest.h>

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

} // namespace
} // namespace pelotest

#include "state/VariableTable.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace pelotest {
namespace {

VariableTable tableOf(const std::vector<std::string>& names) {
    VariableTable table;
    for (const std::string& name : names)
        table.add(name, "");
    return table;
}

std::vector<std::string> namesOf(const VariableTable& table) {
    std::vector<std::string> names;
    for (const Variable& row : table.rows())
        names.push_back(row.name);
    return names;
}

TEST(VariableTable, RequestMarksBuildPassedThenUsedBlock) {
    VariableTable table = tableOf({"Alpha", "Beta", "Gamma"});
    // A request sets the existing Beta ...
    std::optional<std::size_t> beta = table.find("beta");
    ASSERT_TRUE(beta);
    table.setValue(*beta, "1");
    table.markPassed(*beta);
    EXPECT_EQ(namesOf(table), (std::vector<std::string>{"Beta", "Alpha", "Gamma"}));
    EXPECT_EQ(table[0].mark, Mark::Passed);
    // ... and creates Delta, which lands just below the Passed block.
    const std::size_t delta = table.add("Delta", "2");
    EXPECT_EQ(delta, 3u);
    table.markUsed(delta, table.leadingPassedCount());
    EXPECT_EQ(namesOf(table), (std::vector<std::string>{"Beta", "Delta", "Alpha", "Gamma"}));
    EXPECT_EQ(table[1].mark, Mark::Used);
    EXPECT_EQ(table[2].mark, Mark::Plain);
    EXPECT_EQ(table.leadingPassedCount(), 1u);
    EXPECT_EQ(table.find("DELTA"), 1u);
    EXPECT_EQ(table.find("alpha"), 2u);

    table.resetMarks();
    EXPECT_EQ(table.leadingPassedCount(), 0u);
    EXPECT_EQ(namesOf(table), (std::vector<std::string>{"Beta", "Delta", "Alpha", "Gamma"}));
    for (const Variable& row : table.rows())
        EXPECT_EQ(row.mark, Mark::Plain);
}

TEST(VariableTable, MoveFollowsInsertCopyThenRemoveRule) {
    struct Case {
        std::vector<std::string> before;
        std::size_t index, target;
        std::vector<std::string> after;
    };
    const Case cases[] = {
        // Two rows: target 1 is the last row's index, so nothing moves.
        {{"A", "B"}, 0, 1, {"A", "B"}},
        {{"A", "B"}, 1, 0, {"B", "A"}},
        // Upwards: the row ends at the target.
        {{"A", "B", "C", "D"}, 3, 1, {"A", "D", "B", "C"}},
        {{"A", "B", "C", "D"}, 2, 0, {"C", "A", "B", "D"}},
        // Downwards: the row ends just before the target.
        {{"A", "B", "C", "D"}, 0, 2, {"B", "A", "C", "D"}},
        {{"A", "B", "C", "D"}, 0, 1, {"A", "B", "C", "D"}},
        // A target at or beyond the last row, or onto itself, leaves the order.
        {{"A", "B", "C", "D"}, 0, 3, {"A", "B", "C", "D"}},
        {{"A", "B", "C", "D"}, 1, 9, {"A", "B", "C", "D"}},
        {{"A", "B", "C", "D"}, 2, 2, {"A", "B", "C", "D"}},
        // An index outside the list is ignored.
        {{"A", "B", "C"}, 7, 0, {"A", "B", "C"}},
        {{"A"}, 0, 0, {"A"}},
    };
    for (const Case& c : cases) {
        VariableTable table = tableOf(c.before);
        table.move(c.index, c.target);
        EXPECT_EQ(namesOf(table), c.after) << "move " << c.index << " -> " << c.target;
        // The lookup index follows every move.
        for (std::size_t i = 0; i < c.after.size(); ++i)
            EXPECT_EQ(table.find(c.after[i]), i) << c.after[i];
    }
}

TEST(VariableTable, FindYieldsFirstRowOfThatNameIgnoringCase) {
    VariableTable table = tableOf({"x", "Name", "y", "NAME", "\xC4rger"});
    EXPECT_EQ(table.find("name"), 1u);
    EXPECT_EQ(table.find("\xE4RGER"), 4u); // Windows-1252 letters fold too
    EXPECT_FALSE(table.find("nam"));
    EXPECT_FALSE(table.find(""));

    table.move(3, 0); // the second "NAME" is now first in list order
    EXPECT_EQ(table.find("Name"), 0u);
    EXPECT_EQ(table[0].name, "NAME");

    table.remove(0);
    EXPECT_EQ(table.find("name"), 1u);
    table.setName(1, "Other");
    EXPECT_FALSE(table.find("name"));
    EXPECT_EQ(table.find("OTHER"), 1u);
    EXPECT_EQ(table.find("y"), 2u);

    // Ids freed by remove are reused without confusing the lookup.
    table.remove(0);
    const std::size_t added = table.add("name", "v");
    EXPECT_EQ(table.find("Name"), added);
    EXPECT_EQ(table.find("x"), std::nullopt);
    EXPECT_EQ(table.find("y"), 1u);

    table.assign({{"b", "2", Mark::Used}, {"a", "1", Mark::Passed}});
    EXPECT_EQ(table.find("A"), 1u);
    EXPECT_EQ(table[1].mark, Mark::Passed);
    EXPECT_FALSE(table.find("Other"));
    table.clear();
    EXPECT_TRUE(table.empty());
    EXPECT_FALSE(table.find("a"));
}

TEST(VariableTable, LeadingPassedCountStopsAtFirstOtherRow) {
    VariableTable table = tableOf({"a", "b", "c", "d"});
    EXPECT_EQ(table.leadingPassedCount(), 0u);
    table.markPassed(2); // c, a, b, d
    table.markPassed(3); // d, c, a, b
    EXPECT_EQ(table.leadingPassedCount(), 2u);
    table.markUsed(3, table.leadingPassedCount()); // b at 2
    EXPECT_EQ(namesOf(table), (std::vector<std::string>{"d", "c", "b", "a"}));
    EXPECT_EQ(table.leadingPassedCount(), 2u);
}

// Setting parameters one after the other, the simple way (a move of the list per parameter).
void applyOneByOne(VariableTable& table, std::vector<Parameter> params, bool autoSort) {
    for (Parameter& param : params) {
        if (const auto row = table.find(param.name)) {
            table.setValue(*row, std::move(param.value));
            if (autoSort)
                table.markPassed(*row);
        } else {
            const std::size_t added = table.add(std::move(param.name), std::move(param.value));
            if (autoSort)
                table.markUsed(added, table.leadingPassedCount());
        }
    }
}

std::vector<std::string> describe(const VariableTable& table) {
    std::vector<std::string> out;
    for (const Variable& row : table.rows())
        out.push_back(row.name + "=" + row.value + "|" +
                      std::to_string(static_cast<int>(row.mark)));
    return out;
}

// The batched capture against the one-by-one reference on random lists: marks anywhere (a sort
// scatters them), names repeated in other letter cases, parameters repeating, finding and adding.
// Afterwards the lookup, the byte count and the mark reset agree too.
TEST(VariableTable, ApplyParametersMatchesSettingThemOneByOne) {
    std::mt19937 random(11);
    const std::vector<std::string> pool = {"a", "A", "b", "B", "c", "d", "e", "f", "g", "h"};
    const auto pick = [&](std::size_t n) {
        return std::uniform_int_distribution<std::size_t>(0, n - 1)(random);
    };
    for (int round = 0; round < 3000; ++round) {
        const bool autoSort = round % 5 != 0;
        VariableTable batched, reference;
        const std::size_t rows = pick(9);
        std::vector<Variable> initial;
        for (std::size_t i = 0; i < rows; ++i)
            initial.push_back(
                Variable{pool[pick(pool.size())], std::to_string(i), static_cast<Mark>(pick(3))});
        batched.assign(initial);
        reference.assign(initial);
        std::vector<Parameter> params;
        for (std::size_t i = pick(12); i > 0; --i)
            params.push_back(Parameter{pool[pick(pool.size())], "v" + std::to_string(i)});
        SCOPED_TRACE("round " + std::to_string(round));

        applyOneByOne(reference, params, autoSort);
        const auto growth = batched.afterParameters(params);
        EXPECT_EQ(growth.rows + rows, reference.size());
        EXPECT_EQ(growth.bytes, reference.bytes());
        batched.applyParameters(params, autoSort);

        ASSERT_EQ(describe(batched), describe(reference));
        std::size_t bytes = 0;
        for (const Variable& row : reference.rows())
            bytes += row.name.size() + row.value.size();
        EXPECT_EQ(batched.bytes(), bytes);
        for (const std::string& name : pool)
            EXPECT_EQ(batched.find(name), reference.find(name)) << name;
        batched.resetMarks();
        reference.resetMarks();
        EXPECT_EQ(describe(batched), describe(reference));
        EXPECT_FALSE(batched.anyMarked());
    }
}

// Marks placed later against one markUsed per mark: rows with any marks (a sort scatters them),
// rows marked twice, rows added between the marks, then a placement by an explicit call or by
// the next change of the order.
TEST(VariableTable, MarksPlacedLaterLandWhereMarkUsedPutsThem) {
    std::mt19937 random(7);
    const auto pick = [&](std::size_t n) {
        return std::uniform_int_distribution<std::size_t>(0, n - 1)(random);
    };
    for (int round = 0; round < 3000; ++round) {
        VariableTable later, reference;
        std::vector<Variable> initial;
        for (std::size_t i = 0, rows = pick(9); i < rows; ++i)
            initial.push_back(Variable{"r" + std::to_string(i), "", static_cast<Mark>(pick(3))});
        later.assign(initial);
        reference.assign(initial);
        for (std::size_t i = pick(7); i > 0 && !reference.empty(); --i) {
            if (pick(4) == 0) {
                const std::string name = "n" + std::to_string(i);
                EXPECT_EQ(later.add(name, ""), reference.add(name, ""));
            }
            // The row at `at` in `later`, known by its name (every name is unique here).
            const std::size_t at = pick(reference.size());
            const std::string name = later[at].name;
            reference.markUsed(*reference.find(name), reference.leadingPassedCount());
            later.markUsedLater(at);
        }
        SCOPED_TRACE("round " + std::to_string(round));
        if (pick(2) == 0)
            later.placeUsedRows();
        else
            later.move(0, 0); // moves nothing itself, but places first
        ASSERT_EQ(describe(later), describe(reference));
        for (const Variable& row : reference.rows())
            EXPECT_EQ(later.find(row.name), reference.find(row.name)) << row.name;
        later.resetMarks();
        reference.resetMarks();
        EXPECT_EQ(describe(later), describe(reference));
    }
}

TEST(StripVariableReferences, CutsLeftmostReferenceUntilNoneIsLeft) {
    struct Case {
        std::string value, before, after, expected;
    };
    const Case cases[] = {
        {"x/(A)y/(B)z", "/(", ")", "xyz"},
        {"x/(A", "/(", ")", "x/(A"},
        {"a)b/(c)d", "/(", ")", "a)bd"},
        {"", "/(", ")", ""},
        {"/()", "/(", ")", ""},
        // A cut can join text into a new reference, which goes too.
        {"x//(A)(B)y", "/(", ")", "xy"},
        {"a{{{{b}}c}}d", "{{", "}}", "ac}}d"},
        {"{x{{y}}", "{{", "}}", "{x"},
        {"/(a/(b)c)", "/(", ")", "c)"},
        // Nothing to cut when both markers are empty.
        {"abc", "", "", "abc"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(stripVariableReferences(c.value, c.before, c.after), c.expected) << c.value;
}

TEST(StripVariableReferences, StaysLinearOnManyReferences) {
    // A million references must not take quadratic time (a request can set such a value).
    std::string value;
    for (int i = 0; i < 1000000; ++i)
        value += "/(a)";
    value += "end";
    EXPECT_EQ(stripVariableReferences(value, "/(", ")"), "end");
}

} // namespace
} // namespace pelotest

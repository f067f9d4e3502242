// Resetting the marks touches only the rows marked since the last reset; whatever happened to
// the list in between (removals, re-used rows, a re-ordered list), every row ends Plain.

#include "state/VariableTable.h"

#include <gtest/gtest.h>

namespace pelotest {
namespace {

bool allPlain(const VariableTable& table) {
    for (const Variable& row : table.rows())
        if (row.mark != Mark::Plain)
            return false;
    return true;
}

TEST(VariableMarksReset, EveryRowEndsPlainAfterRemovalsReuseAndReordering) {
    VariableTable table;
    for (const char* name : {"A", "B", "C", "D", "E"})
        table.add(name, "x");
    EXPECT_FALSE(table.anyMarked());

    table.markPassed(*table.find("C"));
    table.markUsed(*table.find("E"), table.leadingPassedCount());
    EXPECT_TRUE(table.anyMarked());
    table.remove(*table.find("C")); // a marked row leaves; its id is free for the next row
    table.add("F", "y");
    table.markUsed(*table.find("F"), table.leadingPassedCount());
    table.markPassed(*table.find("F")); // marked twice before the reset
    std::vector<Variable> reordered(table.rows().rbegin(), table.rows().rend());
    table.assign(reordered); // a sort keeps the marks
    EXPECT_TRUE(table.anyMarked());

    table.resetMarks();
    EXPECT_TRUE(allPlain(table));
    EXPECT_FALSE(table.anyMarked());
    ASSERT_EQ(table.size(), 5u);

    // The next round starts from nothing marked.
    table.markPassed(*table.find("A"));
    EXPECT_EQ(table.rows().front().name, "A");
    table.resetMarks();
    EXPECT_TRUE(allPlain(table));
}

} // namespace
} // namespace pelotest

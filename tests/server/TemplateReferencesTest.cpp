#include "server/TemplateReferences.h"

#include "CountingHost.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace pelotest {
namespace {

using test::CountingHost;

struct Row {
    std::string name, value;
    Mark mark = Mark::Plain;
    bool operator==(const Row&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Row& row) {
    static const char* const marks[] = {"Plain", "Passed", "Used"};
    return out << "{" << row.name << "=" << row.value << " " << marks[static_cast<int>(row.mark)]
               << "}";
}

void fill(VariableTable& table, const std::vector<Row>& rows) {
    for (const Row& row : rows) {
        const std::size_t index = table.add(row.name, row.value);
        if (row.mark == Mark::Passed)
            table.markPassed(index); // moves to the top: give Passed rows last-first
        else if (row.mark == Mark::Used)
            table.markUsed(index, index);
    }
}

std::vector<Row> rowsOf(const VariableTable& table) {
    std::vector<Row> rows;
    for (const Variable& v : table.rows())
        rows.push_back({v.name, v.value, v.mark});
    return rows;
}

// ---------------------------------------------------------------------------------------------
// ExpandReferences

TEST(ExpandReferences, ReplacesCreatesAndMarksRows) {
    struct Case {
        const char* what;
        bool autoSort;
        std::vector<Row> before;
        std::string line;
        std::string expanded;
        std::vector<Row> after;
    };
    const Mark P = Mark::Plain, S = Mark::Passed, U = Mark::Used;
    const Case cases[] = {
        {"lookup ignores case, replacement matches the name as written (two passes)",
         true,
         {{"b", "1", P}, {"a", "x", P}},
         "/(A)/(a)",
         "xx",
         {{"a", "x", U}, {"b", "1", P}}},
        {"a value's own references are removed, never expanded",
         true,
         {{"v", "1/(B)2", P}},
         "[/(v)]",
         "[12]",
         {{"v", "1/(B)2", U}}},
        {"no closing marker", true, {}, "Preis: /(Preis", "Preis: /(Preis", {}},
        {"closing before opening", true, {}, "a)b/(c", "a)b/(c", {}},
        {"unknown name created Used below the Passed block",
         true,
         {{"p", "1", S}, {"x", "2", P}},
         "<b>/(Neu)</b>",
         "<b></b>",
         {{"p", "1", S}, {"Neu", "", U}, {"x", "2", P}}},
        {"unknown name without auto-sort appended Plain",
         false,
         {{"x", "2", P}},
         "/(Neu)",
         "",
         {{"x", "2", P}, {"Neu", "", P}}},
        {"known name without auto-sort keeps order and marks",
         false,
         {{"x", "2", P}, {"y", "3", P}},
         "/(y)/(x)",
         "32",
         {{"x", "2", P}, {"y", "3", P}}},
        {"Plain row moves to LeadingPassedCount; Passed and Used rows stay",
         true,
         {{"p2", "b", S}, {"p1", "a", S}, {"u", "c", U}, {"z", "d", P}},
         "/(p1)/(u)/(z)",
         "acd",
         {{"p1", "a", S}, {"p2", "b", S}, {"z", "d", U}, {"u", "c", U}}},
        {"every occurrence replaced in one pass",
         true,
         {{"k", "4711", P}},
         "/(k)-/(k)-/(k)",
         "4711-4711-4711",
         {{"k", "4711", U}}},
        {"name holding the opening marker",
         true,
         {{"/(a", "x", P}},
         "/(/(a)",
         "x",
         {{"/(a", "x", U}}},
        {"empty name", true, {}, "a/()b", "ab", {{"", "", U}}},
        {"a replacement that forms a new reference is expanded too",
         true,
         {{"a", "/(", P}, {"b", "ok", P}},
         "/(a)b)",
         "ok",
         {{"b", "ok", U}, {"a", "/(", U}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        AppState state;
        CountingHost host{state};
        state.settings.variablesAutoSort = c.autoSort;
        fill(state.variables, c.before);
        EXPECT_EQ(expandReferences(state, host, c.line), c.expanded);
        EXPECT_EQ(rowsOf(state.variables), c.after);
    }
}

TEST(ExpandReferences, UsesTheConfiguredMarkers) {
    AppState state;
    CountingHost host{state};
    state.settings.varBefore = "{{";
    state.settings.varAfter = "}}";
    fill(state.variables, {{"Kunde", "Meier"}});
    EXPECT_EQ(expandReferences(state, host, "/(Kunde) {{kunde}}"), "/(Kunde) Meier");
}

TEST(ExpandReferences, ReportsChangedRowsOnlyWhenRowsChange) {
    AppState state;
    CountingHost host{state};
    fill(state.variables, {{"a", "1", Mark::Used}});
    expandReferences(state, host, "/(a) plain text");
    EXPECT_FALSE(state.variablesChanged);
    EXPECT_EQ(host.variables, 0);

    expandReferences(state, host, "/(b) /(c)");
    EXPECT_TRUE(state.variablesChanged);
    EXPECT_EQ(host.variables, 1) << "one notification per line";
}

} // namespace
} // namespace pelotest

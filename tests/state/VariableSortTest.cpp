// Sorting the variables by a column: the keyed sort gives exactly the order of a stable sort by
// collateVariableText, whichever way it is called, and a sort whose list changed while the lock
// was released begins again.

#include "state/VariableSort.h"
#include "state/AppState.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace pelotest {
namespace {

using Rows = std::vector<std::pair<std::string, std::string>>;

Rows rowsOf(const AppState& state) {
    Rows rows;
    for (const Variable& v : state.variables.rows())
        rows.emplace_back(v.name, v.value);
    return rows;
}

void fill(AppState& state, const Rows& rows) {
    for (const auto& [name, value] : rows)
        state.variables.add(name, value);
}

// The order as comparing the texts themselves gives it, pair by pair.
Rows sortedByComparing(Rows rows, VariableColumn column, bool descending) {
    std::stable_sort(rows.begin(), rows.end(), [&](const auto& x, const auto& y) {
        const int order = column == VariableColumn::Name ? collateVariableText(x.first, y.first)
                                                         : collateVariableText(x.second, y.second);
        return descending ? order > 0 : order < 0;
    });
    return rows;
}

// Short texts from few letters, so that many are equal ignoring case and many differ only by an
// accent, a case or a letter that folds to two (ß, æ).
std::string randomText(std::mt19937& random) {
    static const std::string letters =
        "aAbsSz\xE4\xC4\xDF\x9A\x8A\xE6\xFF\x9F" + std::string(1, '\0');
    std::string text(std::uniform_int_distribution<int>(0, 5)(random), ' ');
    for (char& c : text)
        c = letters[std::uniform_int_distribution<std::size_t>(0, letters.size() - 1)(random)];
    return text;
}

using SortCall = void (*)(AppState&, VariableColumn);
void sortHoldingLock(AppState& state, VariableColumn column) {
    const StateLock lock(state.mutex);
    sortVariablesByColumn(state, column);
}
void sortReleasingLock(AppState& state, VariableColumn column) {
    const StateLock lock(state.mutex);
    sortVariablesReleasingLock(state, column);
}

TEST(VariableSort, KeyedSortOrdersAsComparingTheTexts) {
    const std::pair<const char*, SortCall> calls[] = {
        {"holding the lock", sortHoldingLock},
        {"releasing the lock", sortReleasingLock},
        {"outside the lock", sortVariablesOutsideLock}};
    std::mt19937 random(24);
    for (const auto& [how, sort] : calls) {
        for (int table = 0; table < 40; ++table) {
            SCOPED_TRACE(std::string(how) + ", table " + std::to_string(table));
            AppState state;
            Rows expected(std::uniform_int_distribution<int>(0, 300)(random));
            for (auto& [name, value] : expected)
                value = randomText(random), name = randomText(random);
            fill(state, expected);
            // Clicks on either heading, the same one twice in a row reversing the order.
            bool descending = false;
            VariableColumn last = VariableColumn::Value;
            for (int click = 0; click < 6; ++click) {
                const auto column = click % 3 == 2 ? VariableColumn::Value : VariableColumn::Name;
                descending = column == last ? !descending : false;
                last = column;
                sort(state, column);
                expected = sortedByComparing(std::move(expected), column, descending);
                ASSERT_EQ(rowsOf(state), expected) << "click " << click;
            }
        }
    }
}

struct Interference {
    const char* what;
    VariableColumn column;
    int roundsChanged;                   // the first rounds in which the list changes
    void (*change)(VariableTable&, int); // what changes, with the round's number
    int roundsExpected;
};

TEST(VariableSort, AChangeWhileTheLockIsReleasedSortsAgain) {
    const Interference cases[] = {
        {"a row added", VariableColumn::Name, 1, [](VariableTable& t, int) { t.add("a0", "new"); },
         2},
        {"a row renamed", VariableColumn::Name, 1,
         [](VariableTable& t, int) { t.setName(t.size() - 1, "a1"); }, 2},
        {"a row moved", VariableColumn::Name, 1,
         [](VariableTable& t, int) { t.move(t.size() - 1, 0); }, 2},
        {"a value, sorting by name", VariableColumn::Name, 1,
         [](VariableTable& t, int) { t.setValue(0, "zzz"); }, 1},
        {"a value, sorting by value", VariableColumn::Value, 1,
         [](VariableTable& t, int) { t.setValue(0, "zzz"); }, 2},
        // Changed in every round: the last round runs under the lock and still sorts.
        {"rows added in every round", VariableColumn::Name, 99,
         [](VariableTable& t, int round) { t.add("a" + std::to_string(round), "new"); }, 3},
    };
    for (const Interference& c : cases) {
        SCOPED_TRACE(c.what);
        AppState state;
        fill(state, {{"m", "4"}, {"B", "2"}, {"c", "3"}, {"X", "1"}});
        int rounds = 0;
        {
            const StateLock lock(state.mutex);
            sortVariablesReleasingLock(state, c.column, [&] {
                if (rounds++ < c.roundsChanged) {
                    const StateLock relocked(state.mutex);
                    c.change(state.variables, rounds);
                }
            });
            EXPECT_EQ(state.variablesSort, (VariableSortState{static_cast<int>(c.column), false}));
        }
        EXPECT_EQ(rounds, c.roundsExpected);
        const Rows rows = rowsOf(state);
        EXPECT_EQ(rows, sortedByComparing(rows, c.column, false));
    }
}

TEST(VariableSort, AStaleOrderIsNotApplied) {
    AppState state;
    fill(state, {{"b", "1"}, {"a", "2"}});
    const VariableSortCopy copy = copyForSort(state, VariableColumn::Name);
    state.variables.remove(0);
    state.variables.add("c", "3");
    EXPECT_FALSE(applySortedOrder(state, copy, sortedRowOrder(copy.texts, false)));
    EXPECT_EQ(rowsOf(state), (Rows{{"a", "2"}, {"c", "3"}}));
    EXPECT_EQ(state.variablesSort, VariableSortState{});
}

// The sort that releases the caller's lock would unlock a mutex nobody holds: a caller without
// the lock is stopped instead of sorting as if it held it.
TEST(VariableSortDeathTest, ReleasingALockThatIsNotHeldStops) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    AppState state;
    fill(state, {{"b", "1"}, {"a", "2"}});
    EXPECT_DEATH(sortVariablesReleasingLock(state, VariableColumn::Name), "");
}

} // namespace
} // namespace pelotest

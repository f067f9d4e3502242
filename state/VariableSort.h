#pragma once
// Sorting the variables list by a column, as a click on a column header does in the desktop
// list and as the variables page does from the browser. Both share one sort state, so a second
// sort by the same column, from either side, reverses the order.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace pelotest {

struct AppState;

enum class VariableColumn { Name = 0, Value = 1 };

// Sort state of the list (not stored): no column after start, ascending.
struct VariableSortState {
    int column = -1; // -1 none, else a VariableColumn
    bool descending = false;
    bool operator==(const VariableSortState&) const = default;
};

// Order of two texts for sorting: equal when they are equal ignoring case (Windows-1252 letters
// included); otherwise ordered case-insensitively with accented letters sorting beside their
// base letter (a, ä, b; ss/ß), then by the folded bytes. Returns <0, 0 or >0.
int collateVariableText(std::string_view a, std::string_view b);

// The texts of one column in row order, held in one buffer (a list of 100,000 rows is copied
// with one allocation).
class ColumnTexts {
  public:
    void reserve(std::size_t rows, std::size_t bytes);
    void append(std::string_view text);
    std::size_t size() const { return ends_.size(); }
    std::string_view operator[](std::size_t row) const {
        const std::size_t begin = row == 0 ? 0 : ends_[row - 1];
        return std::string_view(bytes_).substr(begin, ends_[row] - begin);
    }

  private:
    std::string bytes_;
    std::vector<std::size_t> ends_;
};

// The rows in the order a stable sort by collateVariableText gives (descending: the order of
// every pair of unequal texts reversed, equal texts still in list order): order[i] is the index
// of the row that belongs at place i. Each text's sort key is computed once.
std::vector<std::size_t> sortedRowOrder(const ColumnTexts& texts, bool descending);

// A sort of the variables in three steps, so that the long part runs while requests go on:
// copyForSort copies the column under the lock, sortedRowOrder orders the copy without it, and
// applySortedOrder puts the rows in that order under the lock again, provided the list has not
// changed in a way that could change the order meanwhile.
struct VariableSortCopy {
    VariableColumn column = VariableColumn::Name;
    VariableSortState seen;  // the sort state when the copy was taken
    VariableSortState after; // the sort state this click leaves
    std::uint64_t generation = 0;
    std::uint64_t valuesGeneration = 0;
    ColumnTexts texts;
};
VariableSortCopy copyForSort(AppState& state, VariableColumn column);
// False, changing nothing, when the rows or (sorting by value) the values changed, or another
// sort ran, since the copy was taken; the sort must then begin again with a new copy.
bool applySortedOrder(AppState& state, const VariableSortCopy& copy,
                      const std::vector<std::size_t>& order);

// A click on a column heading: makes column the sort column (flipping the direction when it already
// was), sorts the rows stably, sets variablesChanged. The caller tells the host.
// The functions declared here with AppState are checked in their definitions (AppState is not
// complete here): copyForSort, applySortedOrder and sortVariablesByColumn require state.mutex,
// sortVariablesReleasingLock requires it too but releases it while it orders the rows, and
// sortVariablesOutsideLock excludes it.

// The whole sort with the caller holding the lock throughout (requests wait for all of it).
void sortVariablesByColumn(AppState& state, VariableColumn column);
// The same with the caller's lock released while the rows are ordered: anything the caller read
// before may have changed when this returns. When the list changed meanwhile the sort begins
// again; after a few such rounds the last one runs under the lock, so that a stream of changes
// cannot keep the click from taking effect. whileReleased, when given, runs each time the lock
// is released, after the rows are ordered (tests change the list there).
void sortVariablesReleasingLock(AppState& state, VariableColumn column,
                                const std::function<void()>& whileReleased = {});
// The same for a caller that does not hold the lock: it is taken for the copy and the apply.
void sortVariablesOutsideLock(AppState& state, VariableColumn column);

} // namespace pelotest

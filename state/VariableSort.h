#pragma once
// Sorting the variables list by a column, as a click on a column header does in the desktop
// list and as the variables page does from the browser. Both share one sort state, so a second
// sort by the same column, from either side, reverses the order.

#include <string_view>

namespace pelotest {

struct AppState;

enum class VariableColumn { Name = 0, Value = 1 };

// Sort state of the list (not stored): no column after start, ascending.
struct VariableSortState {
    int column = -1; // -1 none, else a VariableColumn
    bool descending = false;
};

// Order of two texts for sorting: equal when they are equal ignoring case (Windows-1252 letters
// included); otherwise ordered case-insensitively with accented letters sorting beside their
// base letter (a, ä, b; ss/ß), then by the folded bytes. Returns <0, 0 or >0.
int collateVariableText(std::string_view a, std::string_view b);

// A click on a column heading: makes column the sort column (flipping the direction when it already
// was), sorts the rows stably, sets variablesChanged. The caller holds state.mutex (checked in
// the definition: AppState is not complete here) and tells the host.
void sortVariablesByColumn(AppState& state, VariableColumn column);

} // namespace pelotest

#include "state/VariableSort.h"

#include "state/AppState.h"
#include "state/TextCase.h"

#include <algorithm>
#include <string>

namespace pelotest {
namespace {

// The base letters of a folded Windows-1252 letter, so that "ä" sorts with "a" and "ß" as
// "ss", as the user's locale orders words; other bytes stand for themselves.
std::string_view baseLetters(unsigned char folded, const char& self) {
    switch (folded) {
    case 0xE0:
    case 0xE1:
    case 0xE2:
    case 0xE3:
    case 0xE4:
    case 0xE5:
        return "a";
    case 0xE6:
        return "ae";
    case 0xE7:
        return "c";
    case 0xE8:
    case 0xE9:
    case 0xEA:
    case 0xEB:
        return "e";
    case 0xEC:
    case 0xED:
    case 0xEE:
    case 0xEF:
        return "i";
    case 0xF0:
        return "d";
    case 0xF1:
        return "n";
    case 0xF2:
    case 0xF3:
    case 0xF4:
    case 0xF5:
    case 0xF6:
    case 0xF8:
        return "o";
    case 0xF9:
    case 0xFA:
    case 0xFB:
    case 0xFC:
        return "u";
    case 0xFD:
    case 0xFF:
        return "y";
    case 0xFE:
        return "th";
    case 0xDF:
        return "ss";
    case 0x9A:
        return "s";
    case 0x9C:
        return "oe";
    case 0x9E:
        return "z";
    default:
        return {&self, 1};
    }
}

std::string primaryKey(std::string_view text) {
    std::string key;
    key.reserve(text.size());
    for (char c : text) {
        const char folded = foldCase(c);
        key += baseLetters(static_cast<unsigned char>(folded), folded);
    }
    return key;
}

int compareBytes(std::string_view a, std::string_view b) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const auto x = static_cast<unsigned char>(a[i]);
        const auto y = static_cast<unsigned char>(b[i]);
        if (x != y)
            return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

} // namespace

int collateVariableText(std::string_view a, std::string_view b) {
    if (equalsIgnoreCase(a, b))
        return 0;
    if (const int primary = compareBytes(primaryKey(a), primaryKey(b)); primary != 0)
        return primary;
    return compareBytes(toLower(a), toLower(b));
}

void sortVariablesByColumn(AppState& state, VariableColumn column) REQUIRES(state.mutex) {
    auto& sort = state.variablesSort;
    const int wanted = static_cast<int>(column);
    sort.descending = sort.column == wanted ? !sort.descending : false;
    sort.column = wanted;

    std::vector<Variable> rows = state.variables.rows();
    const bool byName = column == VariableColumn::Name;
    const bool descending = sort.descending;
    std::stable_sort(rows.begin(), rows.end(), [&](const Variable& x, const Variable& y) {
        const int order =
            byName ? collateVariableText(x.name, y.name) : collateVariableText(x.value, y.value);
        return descending ? order > 0 : order < 0;
    });
    state.variables.assign(std::move(rows));
    state.variablesChanged = true;
}

} // namespace pelotest

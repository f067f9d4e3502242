#include "state/VariableSort.h"

#include "state/AppState.h"
#include "state/TextCase.h"

#include <algorithm>
#include <array>
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

// Every byte's contribution to the primary key (its base letters once folded), computed once.
struct BaseLetterTable {
    std::array<std::string, 256> letters;
    BaseLetterTable() {
        for (std::size_t b = 0; b < letters.size(); ++b) {
            const char folded = foldCase(static_cast<char>(b));
            letters[b] = std::string(baseLetters(static_cast<unsigned char>(folded), folded));
        }
    }
};

const BaseLetterTable& baseLetterTable() {
    static const BaseLetterTable table;
    return table;
}

void appendPrimaryKey(std::string& key, std::string_view text) {
    const BaseLetterTable& table = baseLetterTable();
    for (char c : text)
        key += table.letters[static_cast<unsigned char>(c)];
}

std::string primaryKey(std::string_view text) {
    std::string key;
    key.reserve(text.size());
    appendPrimaryKey(key, text);
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

void ColumnTexts::reserve(std::size_t rows, std::size_t bytes) {
    ends_.reserve(rows);
    bytes_.reserve(bytes);
}

void ColumnTexts::append(std::string_view text) {
    bytes_ += text;
    ends_.push_back(bytes_.size());
}

namespace {

// A text's place in the order of collateVariableText: its primary key, then its folded bytes
// (two texts equal ignoring case have both equal; otherwise the pair decides as the function
// does). The keys of all rows lie in one buffer; head holds the first eight bytes of the primary
// key, so that most comparisons end without reading the buffer.
struct SortKey {
    std::uint64_t head = 0;
    std::size_t primary = 0, primaryEnd = 0;
    std::size_t folded = 0, foldedEnd = 0;
    std::size_t row = 0;
};

// The first eight bytes, big-endian, padded with zero bytes: a smaller head means a smaller
// text, an equal head decides nothing.
std::uint64_t headOf(std::string_view key) {
    std::uint64_t head = 0;
    for (std::size_t i = 0; i < 8; ++i)
        head = (head << 8) | (i < key.size() ? static_cast<unsigned char>(key[i]) : 0u);
    return head;
}

} // namespace

std::vector<std::size_t> sortedRowOrder(const ColumnTexts& texts, bool descending) {
    const std::size_t count = texts.size();
    std::string buffer;
    std::vector<SortKey> keys(count);
    const BaseLetterTable& table = baseLetterTable();
    for (std::size_t row = 0; row < count; ++row) {
        const std::string_view text = texts[row];
        SortKey& key = keys[row];
        key.row = row;
        key.primary = buffer.size();
        bool foldedIsPrimary = true; // every byte its own base letter (plain ASCII text)
        for (const char c : text) {
            const std::string& letters = table.letters[static_cast<unsigned char>(c)];
            buffer += letters;
            foldedIsPrimary = foldedIsPrimary && letters.size() == 1 && letters[0] == foldCase(c);
        }
        key.primaryEnd = buffer.size();
        if (foldedIsPrimary) {
            key.folded = key.primary;
            key.foldedEnd = key.primaryEnd;
        } else {
            key.folded = buffer.size();
            for (const char c : text)
                buffer += foldCase(c);
            key.foldedEnd = buffer.size();
        }
    }
    const std::string_view bytes(buffer);
    for (SortKey& key : keys)
        key.head = headOf(bytes.substr(key.primary, key.primaryEnd - key.primary));
    // std::string_view compares bytes as unsigned char, as compareBytes does.
    const auto less = [bytes](const SortKey& x, const SortKey& y) {
        if (x.head != y.head)
            return x.head < y.head;
        const int primary = bytes.substr(x.primary, x.primaryEnd - x.primary)
                                .compare(bytes.substr(y.primary, y.primaryEnd - y.primary));
        if (primary != 0)
            return primary < 0;
        return bytes.substr(x.folded, x.foldedEnd - x.folded)
                   .compare(bytes.substr(y.folded, y.foldedEnd - y.folded)) < 0;
    };
    if (descending)
        std::stable_sort(keys.begin(), keys.end(),
                         [&less](const SortKey& x, const SortKey& y) { return less(y, x); });
    else
        std::stable_sort(keys.begin(), keys.end(), less);
    std::vector<std::size_t> order(count);
    for (std::size_t i = 0; i < count; ++i)
        order[i] = keys[i].row;
    return order;
}

VariableSortCopy copyForSort(AppState& state, VariableColumn column) REQUIRES(state.mutex) {
    VariableTable& table = state.variables;
    // Rows marked but not yet moved into place take their place first, as before any change of
    // the order.
    table.placeUsedRows();
    VariableSortCopy copy;
    copy.column = column;
    copy.seen = state.variablesSort;
    const int wanted = static_cast<int>(column);
    copy.after = {wanted, copy.seen.column == wanted ? !copy.seen.descending : false};
    copy.generation = table.generation();
    copy.valuesGeneration = table.valuesGeneration();
    const bool byName = column == VariableColumn::Name;
    std::size_t bytes = 0;
    for (const Variable& row : table.rows())
        bytes += byName ? row.name.size() : row.value.size();
    copy.texts.reserve(table.size(), bytes);
    for (const Variable& row : table.rows())
        copy.texts.append(byName ? row.name : row.value);
    return copy;
}

bool applySortedOrder(AppState& state, const VariableSortCopy& copy,
                      const std::vector<std::size_t>& order) REQUIRES(state.mutex) {
    // New values leave the order of names as it is (the rows keep their places).
    const bool valuesMatter = copy.column == VariableColumn::Value;
    if (state.variables.generation() != copy.generation ||
        (valuesMatter && state.variables.valuesGeneration() != copy.valuesGeneration) ||
        state.variablesSort != copy.seen || order.size() != state.variables.size())
        return false;
    state.variablesSort = copy.after;
    state.variables.reorder(order);
    state.variablesChanged = true;
    return true;
}

void sortVariablesByColumn(AppState& state, VariableColumn column) REQUIRES(state.mutex) {
    const VariableSortCopy copy = copyForSort(state, column);
    applySortedOrder(state, copy, sortedRowOrder(copy.texts, copy.after.descending));
}

void sortVariablesReleasingLock(AppState& state, VariableColumn column,
                                const std::function<void()>& whileReleased) REQUIRES(state.mutex) {
    // A list that changes faster than it can be sorted would make the click wait for ever: after
    // these rounds the sort runs under the lock. Its keys are computed once, so even then it
    // holds the lock for a fraction of what comparing the texts themselves took.
    constexpr int kRoundsOutsideLock = 3;
    for (int round = 0; round < kRoundsOutsideLock; ++round) {
        const VariableSortCopy copy = copyForSort(state, column);
        std::vector<std::size_t> order;
        runUnlocked(state.mutex, [&] {
            order = sortedRowOrder(copy.texts, copy.after.descending);
            if (whileReleased)
                whileReleased();
        });
        if (applySortedOrder(state, copy, order))
            return;
    }
    sortVariablesByColumn(state, column);
}

void sortVariablesOutsideLock(AppState& state, VariableColumn column) EXCLUDES(state.mutex) {
    const StateLock lock(state.mutex);
    sortVariablesReleasingLock(state, column);
}

} // namespace pelotest

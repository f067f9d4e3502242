// TEMPORARY: minimal stand-ins for the variables list until the state library lands on main.
// Delete this file after merging it.

#include "state/VariableTable.h"

#include "state/TextCase.h"

namespace pelotest {

std::optional<std::size_t> VariableTable::find(std::string_view name) const {
    for (std::size_t i = 0; i < rows_.size(); ++i)
        if (equalsIgnoreCase(rows_[i].Name, name))
            return i;
    return std::nullopt;
}
void VariableTable::move(std::size_t index, std::size_t target) {
    if (rows_.empty() || target >= rows_.size() - 1)
        return;
    Variable copy = rows_[index];
    rows_.insert(rows_.begin() + static_cast<std::ptrdiff_t>(target), copy);
    rows_.erase(rows_.begin() + static_cast<std::ptrdiff_t>(index < target ? index : index + 1));
}
std::size_t VariableTable::leadingPassedCount() const {
    std::size_t n = 0;
    while (n < rows_.size() && rows_[n].mark == Mark::Passed)
        ++n;
    return n;
}
void VariableTable::resetMarks() {
    for (auto& row : rows_)
        row.mark = Mark::Plain;
}
void VariableTable::markPassed(std::size_t index) {
    rows_[index].mark = Mark::Passed;
    move(index, 0);
}
void VariableTable::markUsed(std::size_t index, std::size_t target) {
    rows_[index].mark = Mark::Used;
    move(index, target);
}
std::size_t VariableTable::add(std::string name, std::string value) {
    rows_.push_back({std::move(name), std::move(value), Mark::Plain});
    return rows_.size() - 1;
}
void VariableTable::setValue(std::size_t index, std::string value) {
    rows_[index].Value = std::move(value);
}
void VariableTable::clear() {
    rows_.clear();
}

std::string stripVariableReferences(std::string_view value, std::string_view before,
                                    std::string_view after) {
    std::string text(value);
    for (;;) {
        const auto open = text.find(before);
        if (open == std::string::npos)
            return text;
        const auto close = text.find(after, open + before.size());
        if (close == std::string::npos)
            return text;
        text.erase(open, close + after.size() - open);
    }
}

} // namespace pelotest

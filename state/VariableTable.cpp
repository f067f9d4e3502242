#include "state/VariableTable.h"

#include "state/TextCase.h"

#include <algorithm>
#include <utility>

namespace pelotest {

// The lookup index: every row has a stable id (ids_[position]); position_[id] gives its current
// place, and index_ maps the case-folded name to the ids of every row with that name. A lookup
// is therefore one hash probe plus a minimum over the (usually single) rows of that name, and a
// move only touches the positions of the rows it shifts.

std::optional<std::size_t> VariableTable::find(std::string_view name) const {
    const auto it = index_.find(toLower(name));
    if (it == index_.end() || it->second.empty())
        return std::nullopt;
    std::size_t best = position_[it->second.front()];
    for (const std::uint32_t id : it->second)
        best = std::min(best, position_[id]);
    return best;
}

void VariableTable::renumber(std::size_t from, std::size_t to) {
    for (std::size_t i = from; i < to; ++i)
        position_[ids_[i]] = i;
}

void VariableTable::rotateRow(std::size_t from, std::size_t to) {
    // One move per shifted row (std::rotate would swap, three moves per row).
    const auto shift = [&](auto& list) {
        auto held = std::move(list[from]);
        const auto base = list.begin();
        if (from > to)
            std::move_backward(base + static_cast<std::ptrdiff_t>(to),
                               base + static_cast<std::ptrdiff_t>(from),
                               base + static_cast<std::ptrdiff_t>(from) + 1);
        else
            std::move(base + static_cast<std::ptrdiff_t>(from) + 1,
                      base + static_cast<std::ptrdiff_t>(to) + 1,
                      base + static_cast<std::ptrdiff_t>(from));
        list[to] = std::move(held);
    };
    if (from == to)
        return;
    shift(rows_);
    shift(ids_);
    renumber(std::min(from, to), std::max(from, to) + 1);
}

void VariableTable::move(std::size_t index, std::size_t target) {
    // The row is copied in before the row at target and then removed from its old place, and
    // only while target lies before the last row. Moving down therefore lands one place above
    // target, and a target at or past the last row moves nothing.
    if (index >= rows_.size() || target + 1 >= rows_.size())
        return;
    if (target <= index)
        rotateRow(index, target);
    else
        rotateRow(index, target - 1);
}

std::size_t VariableTable::leadingPassedCount() const {
    std::size_t count = 0;
    while (count < rows_.size() && rows_[count].mark == Mark::Passed)
        ++count;
    return count;
}

std::optional<std::size_t> VariableTable::positionOfId(std::uint32_t id) const {
    if (id >= position_.size())
        return std::nullopt;
    const std::size_t position = position_[id];
    if (position >= rows_.size() || ids_[position] != id)
        return std::nullopt; // a removed row whose id is free
    return position;
}

void VariableTable::noteMarked(std::size_t index) {
    if (rows_[index].mark == Mark::Plain)
        markedIds_.push_back(ids_[index]);
}

void VariableTable::resetMarks() {
    // Every row that is not Plain was noted when it was marked.
    for (const std::uint32_t id : markedIds_)
        if (const auto position = positionOfId(id))
            rows_[*position].mark = Mark::Plain;
    markedIds_.clear();
}

bool VariableTable::anyMarked() const {
    return std::any_of(markedIds_.begin(), markedIds_.end(), [this](std::uint32_t id) {
        const auto position = positionOfId(id);
        return position && rows_[*position].mark != Mark::Plain;
    });
}

void VariableTable::markPassed(std::size_t index) {
    if (index >= rows_.size())
        return;
    noteMarked(index);
    rows_[index].mark = Mark::Passed;
    move(index, 0);
}

void VariableTable::markUsed(std::size_t index, std::size_t target) {
    if (index >= rows_.size())
        return;
    noteMarked(index);
    rows_[index].mark = Mark::Used;
    move(index, target);
}

std::uint32_t VariableTable::newId(std::size_t position) {
    std::uint32_t id;
    if (!freeIds_.empty()) {
        id = freeIds_.back();
        freeIds_.pop_back();
        position_[id] = position;
    } else {
        id = static_cast<std::uint32_t>(position_.size());
        position_.push_back(position);
    }
    return id;
}

void VariableTable::indexName(const std::string& name, std::uint32_t id) {
    index_[toLower(name)].push_back(id);
}

void VariableTable::unindexName(const std::string& name, std::uint32_t id) {
    const auto it = index_.find(toLower(name));
    if (it == index_.end())
        return;
    auto& ids = it->second;
    ids.erase(std::remove(ids.begin(), ids.end(), id), ids.end());
    if (ids.empty())
        index_.erase(it);
}

std::size_t VariableTable::add(std::string name, std::string value) {
    const std::size_t position = rows_.size();
    const std::uint32_t id = newId(position);
    indexName(name, id);
    rows_.push_back(Variable{std::move(name), std::move(value), Mark::Plain});
    ids_.push_back(id);
    return position;
}

void VariableTable::setValue(std::size_t index, std::string value) {
    if (index < rows_.size())
        rows_[index].Value = std::move(value);
}

void VariableTable::setName(std::size_t index, std::string name) {
    if (index >= rows_.size())
        return;
    unindexName(rows_[index].Name, ids_[index]);
    rows_[index].Name = std::move(name);
    indexName(rows_[index].Name, ids_[index]);
}

void VariableTable::remove(std::size_t index) {
    if (index >= rows_.size())
        return;
    const std::uint32_t id = ids_[index];
    unindexName(rows_[index].Name, id);
    freeIds_.push_back(id);
    rows_.erase(rows_.begin() + static_cast<std::ptrdiff_t>(index));
    ids_.erase(ids_.begin() + static_cast<std::ptrdiff_t>(index));
    renumber(index, rows_.size());
}

void VariableTable::clear() {
    rows_.clear();
    ids_.clear();
    position_.clear();
    freeIds_.clear();
    index_.clear();
    markedIds_.clear();
}

void VariableTable::assign(std::vector<Variable> rows) {
    clear();
    rows_.reserve(rows.size());
    for (Variable& row : rows) {
        const Mark mark = row.mark;
        const std::size_t at = add(std::move(row.Name), std::move(row.Value));
        noteMarked(at);
        rows_[at].mark = mark;
    }
}

std::string stripVariableReferences(std::string_view value, std::string_view before,
                                    std::string_view after) {
    if (before.empty() && after.empty())
        return std::string(value);
    // Repeatedly cutting out the leftmost reference, done in one pass: `out` holds the settled
    // text, which never contains a whole `before`; only its last before.size()-1 bytes can form
    // a new `before` with the text that follows a cut.
    std::string out;
    out.reserve(value.size());
    std::size_t p = 0; // the rest of the input starts here
    const std::size_t overlap = before.empty() ? 0 : before.size() - 1;
    while (true) {
        // Leftmost `before` that starts inside out's tail and ends in the input.
        std::size_t cutOut = std::string::npos; // where in `out` it starts
        std::size_t restStart = std::string::npos;
        for (std::size_t k = std::min(overlap, out.size()); k > 0; --k) {
            const std::size_t q = out.size() - k; // k bytes of out, then before.size()-k of input
            const std::size_t need = before.size() - k;
            if (value.size() - p < need)
                continue;
            if (std::string_view(out).substr(q) == before.substr(0, k) &&
                value.substr(p, need) == before.substr(k)) {
                cutOut = q;
                restStart = p + need;
                break;
            }
        }
        std::size_t found = std::string::npos;
        if (cutOut == std::string::npos) {
            found = value.find(before, p);
            if (found == std::string::npos)
                break;
            restStart = found + before.size();
        }
        const std::size_t close = value.find(after, restStart);
        if (close == std::string::npos)
            break;
        if (cutOut != std::string::npos)
            out.resize(cutOut);
        else
            out.append(value.substr(p, found - p));
        p = close + after.size();
    }
    out.append(value.substr(p));
    return out;
}

} // namespace pelotest

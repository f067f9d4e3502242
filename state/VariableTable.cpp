#include "state/VariableTable.h"

#include "state/TextCase.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <unordered_map>
#include <utility>

namespace pelotest {

// The lookup index: every row has a stable id (ids_[position]); position_[id] gives its current
// place, and index_ maps the case-folded name to the ids of every row with that name. A lookup
// is therefore one hash probe plus a minimum over the (usually single) rows of that name, and a
// move only touches the positions of the rows it shifts.

namespace {

// foldCase of every byte, looked up rather than computed in the hash of every lookup.
const std::array<unsigned char, 256>& foldTable() {
    static const std::array<unsigned char, 256> table = [] {
        std::array<unsigned char, 256> folded{};
        for (std::size_t c = 0; c < folded.size(); ++c)
            folded[c] = static_cast<unsigned char>(foldCase(static_cast<char>(c)));
        return folded;
    }();
    return table;
}

} // namespace

std::uint64_t VariableTable::Generation::next() {
    static std::atomic<std::uint64_t> counter{0};
    return counter.fetch_add(1, std::memory_order_relaxed) + 1;
}

std::size_t VariableTable::FoldedHash::operator()(std::string_view name) const {
    const std::array<unsigned char, 256>& fold = foldTable();
    std::uint64_t hash = 14695981039346656037ull; // FNV-1a
    for (const char c : name)
        hash = (hash ^ fold[static_cast<unsigned char>(c)]) * 1099511628211ull;
    return static_cast<std::size_t>(hash ^ (hash >> 29));
}

bool VariableTable::FoldedEqual::operator()(std::string_view a, std::string_view b) const {
    if (a.size() != b.size())
        return false;
    const std::array<unsigned char, 256>& fold = foldTable();
    for (std::size_t i = 0; i < a.size(); ++i)
        if (fold[static_cast<unsigned char>(a[i])] != fold[static_cast<unsigned char>(b[i])])
            return false;
    return true;
}

std::optional<std::size_t> VariableTable::find(std::string_view name) const {
    const auto it = index_.find(name);
    if (it == index_.end())
        return std::nullopt;
    std::size_t best = position_[it->second.first];
    for (const std::uint32_t id : it->second.more)
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
    rowsChanged();
    shift(rows_);
    shift(ids_);
    renumber(std::min(from, to), std::max(from, to) + 1);
}

void VariableTable::move(std::size_t index, std::size_t target) {
    placeUsedRows();
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
    placeUsedRows();
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
    placeUsedRows();
    noteMarked(index);
    rows_[index].mark = Mark::Passed;
    move(index, 0);
}

void VariableTable::markUsed(std::size_t index, std::size_t target) {
    if (index >= rows_.size())
        return;
    placeUsedRows();
    noteMarked(index);
    rows_[index].mark = Mark::Used;
    move(index, target);
}

void VariableTable::markUsedLater(std::size_t index) {
    if (index >= rows_.size())
        return;
    if (usedLater_.empty())
        usedLaterBelow_ = leadingPassedCount();
    if (index < usedLaterBelow_) { // a row of the leading Passed block: its mark moves others
        placeUsedRows();
        markUsed(index, leadingPassedCount());
        return;
    }
    // Marking a row at or below the leading Passed rows leaves their count as it is, so every
    // later mark is placed below the same rows.
    noteMarked(index);
    rows_[index].mark = Mark::Used;
    usedLater_.push_back(ids_[index]);
}

void VariableTable::placeUsedRows() {
    if (usedLater_.empty())
        return;
    // One markUsed per mark puts each row just below the leading Passed rows, pushing the rows
    // marked before it down by one; the rows between keep their order. So the block below the
    // Passed rows ends up as the marked rows, the last marked first (a row marked twice counts
    // by its last mark), then the unmarked rows of that stretch as they stood.
    const std::size_t below = usedLaterBelow_;
    // A page requested again marks the rows it marked last time, in the same order, and they
    // already stand where this placement would put them, the last marked first: nothing moves.
    std::size_t expected = below;
    for (auto it = usedLater_.rbegin(); it != usedLater_.rend() && position_[*it] == expected; ++it)
        ++expected;
    if (expected == below + usedLater_.size()) {
        usedLater_.clear();
        return;
    }
    std::size_t end = below;
    for (const std::uint32_t id : usedLater_)
        end = std::max(end, position_[id] + 1);
    std::vector<char>& placed = placeTaken_;
    placed.assign(end - below, 0);
    std::vector<std::size_t>& order = placeOrder_;
    order.clear();
    for (auto it = usedLater_.rbegin(); it != usedLater_.rend(); ++it) {
        const std::size_t at = position_[*it];
        if (!placed[at - below]) {
            placed[at - below] = 1;
            order.push_back(at);
        }
    }
    for (std::size_t at = below; at < end; ++at)
        if (!placed[at - below])
            order.push_back(at);
    usedLater_.clear();
    // Rows marked twice can still leave every row in its place.
    bool inPlace = true;
    for (std::size_t i = 0; i < order.size() && inPlace; ++i)
        inPlace = order[i] == below + i;
    if (!inPlace) {
        rowsChanged();
        placeRows_.clear();
        placeIds_.clear();
        for (const std::size_t at : order) {
            placeRows_.push_back(std::move(rows_[at]));
            placeIds_.push_back(ids_[at]);
        }
        const auto first = static_cast<std::ptrdiff_t>(below);
        std::move(placeRows_.begin(), placeRows_.end(), rows_.begin() + first);
        std::copy(placeIds_.begin(), placeIds_.end(), ids_.begin() + first);
        placeRows_.clear();
        renumber(below, end);
    }
    if (order.size() > 4096) { // a first placement across a long list: do not keep its room
        placeOrder_ = {};
        placeTaken_ = {};
        placeRows_ = {};
        placeIds_ = {};
    }
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
    const auto [it, added] = index_.try_emplace(toLower(name), NameIds{id, {}});
    if (!added)
        it->second.more.push_back(id);
}

void VariableTable::unindexName(const std::string& name, std::uint32_t id) {
    const auto it = index_.find(std::string_view(name));
    if (it == index_.end())
        return;
    NameIds& ids = it->second;
    if (ids.first == id) {
        if (ids.more.empty()) {
            index_.erase(it);
            return;
        }
        ids.first = ids.more.back();
        ids.more.pop_back();
        return;
    }
    ids.more.erase(std::remove(ids.more.begin(), ids.more.end(), id), ids.more.end());
}

std::size_t VariableTable::add(std::string name, std::string value) {
    rowsChanged();
    const std::size_t position = rows_.size();
    const std::uint32_t id = newId(position);
    indexName(name, id);
    bytes_ += name.size() + value.size();
    rows_.push_back(Variable{std::move(name), std::move(value), Mark::Plain});
    ids_.push_back(id);
    return position;
}

void VariableTable::reserve(std::size_t rows) {
    rows_.reserve(rows);
    ids_.reserve(rows);
    position_.reserve(rows);
    index_.reserve(rows);
}

void VariableTable::setValue(std::size_t index, std::string value) {
    if (index >= rows_.size() || rows_[index].value == value)
        return;
    valuesChanged();
    bytes_ = bytes_ - rows_[index].value.size() + value.size();
    rows_[index].value = std::move(value);
}

void VariableTable::setName(std::size_t index, std::string name) {
    if (index >= rows_.size())
        return;
    rowsChanged();
    unindexName(rows_[index].name, ids_[index]);
    bytes_ = bytes_ - rows_[index].name.size() + name.size();
    rows_[index].name = std::move(name);
    indexName(rows_[index].name, ids_[index]);
}

void VariableTable::remove(std::size_t index) {
    if (index >= rows_.size())
        return;
    placeUsedRows();
    rowsChanged();
    const std::uint32_t id = ids_[index];
    unindexName(rows_[index].name, id);
    bytes_ -= rows_[index].name.size() + rows_[index].value.size();
    freeIds_.push_back(id);
    rows_.erase(rows_.begin() + static_cast<std::ptrdiff_t>(index));
    ids_.erase(ids_.begin() + static_cast<std::ptrdiff_t>(index));
    renumber(index, rows_.size());
}

void VariableTable::clear() {
    rowsChanged();
    rows_.clear();
    bytes_ = 0;
    ids_.clear();
    position_.clear();
    freeIds_.clear();
    index_.clear();
    markedIds_.clear();
    usedLater_.clear();
}

void VariableTable::assign(std::vector<Variable> rows) {
    clear();
    rows_.reserve(rows.size());
    for (Variable& row : rows) {
        const Mark mark = row.mark;
        const std::size_t at = add(std::move(row.name), std::move(row.value));
        noteMarked(at);
        rows_[at].mark = mark;
    }
}

void VariableTable::reorder(const std::vector<std::size_t>& order) {
    placeUsedRows();
    rowsChanged();
    std::vector<Variable> rows;
    std::vector<std::uint32_t> ids;
    rows.reserve(order.size());
    ids.reserve(order.size());
    for (const std::size_t from : order) {
        rows.push_back(std::move(rows_[from]));
        ids.push_back(ids_[from]);
    }
    rows_ = std::move(rows);
    ids_ = std::move(ids);
    renumber(0, rows_.size());
}

namespace {

// The parameters grouped by name ignoring case, each group once, in the order of first
// appearance.
struct ParameterName {
    std::optional<std::size_t> row; // the row found when the request began; none: a new row
    std::size_t first = 0;          // its first parameter (whose spelling a new row takes)
    std::size_t last = 0;           // its last parameter (whose value wins)
};

// The row a parameter finds does not change while the parameters are set: a found row only ever
// moves to the top, ahead of any other row of its name, and an added row is found by the later
// parameters of its name. So every name is looked up once, against the list as it was.
std::vector<ParameterName> groupParameters(const VariableTable& table,
                                           const std::vector<Parameter>& params,
                                           std::vector<std::uint32_t>& nameOfParam) {
    std::vector<ParameterName> names;
    nameOfParam.clear();
    nameOfParam.reserve(params.size());
    // A request carries a handful of parameters as a rule: comparing each with the names before
    // it costs less than a map of folded copies, which only many parameters need.
    constexpr std::size_t kFewParameters = 16;
    if (params.size() <= kFewParameters) {
        for (std::size_t i = 0; i < params.size(); ++i) {
            std::uint32_t name = 0;
            while (name < names.size() &&
                   !equalsIgnoreCase(params[names[name].first].name, params[i].name))
                ++name;
            if (name == names.size())
                names.push_back(ParameterName{table.find(params[i].name), i, i});
            names[name].last = i;
            nameOfParam.push_back(name);
        }
        return names;
    }
    std::unordered_map<std::string, std::uint32_t> byName;
    for (std::size_t i = 0; i < params.size(); ++i) {
        const auto [it, inserted] =
            byName.try_emplace(toLower(params[i].name), static_cast<std::uint32_t>(names.size()));
        if (inserted)
            names.push_back(ParameterName{table.find(params[i].name), i, i});
        names[it->second].last = i;
        nameOfParam.push_back(it->second);
    }
    return names;
}

} // namespace

VariableTable::Growth VariableTable::afterParameters(const std::vector<Parameter>& params) const {
    std::vector<std::uint32_t> nameOfParam;
    Growth growth{0, bytes_};
    for (const ParameterName& name : groupParameters(*this, params, nameOfParam)) {
        const std::size_t value = params[name.last].value.size();
        if (name.row) {
            growth.bytes = growth.bytes - rows_[*name.row].value.size() + value;
        } else {
            ++growth.rows;
            growth.bytes += params[name.first].name.size() + value;
        }
    }
    return growth;
}

void VariableTable::applyParameters(std::vector<Parameter> params, bool autoSort) {
    placeUsedRows();
    if (!autoSort) {
        for (Parameter& param : params) {
            if (const auto row = find(param.name))
                setValue(*row, std::move(param.value));
            else
                add(std::move(param.name), std::move(param.value));
        }
        return;
    }
    std::vector<std::uint32_t> nameOfParam;
    const std::vector<ParameterName> names = groupParameters(*this, params, nameOfParam);
    if (names.empty())
        return;

    // The rows up to the last one a parameter finds go into a linked list, in list order, and the
    // added rows join it; each parameter then costs a constant number of link changes. The rows
    // after them keep their order: they are only taken in when the leading Passed rows reach them.
    // "boundary" is the first node after the leading Passed rows, where an added row goes; it
    // only moves forward over rows that stay Passed, so its walks cost the list once in all.
    struct Node {
        std::uint32_t prev = 0, next = 0;
        Mark mark = Mark::Plain;
        std::size_t source = 0; // a row of the list, or rowCount + the index of an added name
    };
    constexpr std::uint32_t kHead = 0, kTail = 1, kNone = UINT32_MAX;
    const std::size_t rowCount = rows_.size();
    std::size_t taken = 0;
    for (const ParameterName& name : names)
        if (name.row)
            taken = std::max(taken, *name.row + 1);

    std::vector<Node> nodes(2);
    nodes.reserve(taken + names.size() + 2);
    nodes[kHead].next = kTail;
    nodes[kTail].prev = kHead;
    const auto linkBefore = [&nodes](std::uint32_t node, std::uint32_t before) {
        const std::uint32_t prev = nodes[before].prev;
        nodes[node].prev = prev;
        nodes[node].next = before;
        nodes[prev].next = node;
        nodes[before].prev = node;
    };
    const auto unlink = [&nodes](std::uint32_t node) {
        nodes[nodes[node].prev].next = nodes[node].next;
        nodes[nodes[node].next].prev = nodes[node].prev;
    };
    const auto append = [&](Mark mark, std::size_t source) {
        const auto node = static_cast<std::uint32_t>(nodes.size());
        nodes.push_back(Node{0, 0, mark, source});
        linkBefore(node, kTail);
        return node;
    };
    for (std::size_t row = 0; row < taken; ++row)
        append(rows_[row].mark, row); // row r is node r + 2
    const auto skipPassed = [&](std::uint32_t node) {
        for (;;) {
            if (node == kTail) {
                if (taken >= rowCount || rows_[taken].mark != Mark::Passed)
                    return kTail;
                node = append(Mark::Passed, taken++);
            }
            if (nodes[node].mark != Mark::Passed)
                return node;
            node = nodes[node].next;
        }
    };

    std::vector<std::uint32_t> nodeOfName(names.size(), kNone);
    for (std::size_t i = 0; i < names.size(); ++i)
        if (names[i].row)
            nodeOfName[i] = static_cast<std::uint32_t>(*names[i].row + 2);
    std::uint32_t boundary = kNone; // found when first needed
    for (const std::uint32_t name : nameOfParam) {
        std::uint32_t& node = nodeOfName[name];
        if (node == kNone) {
            if (boundary == kNone)
                boundary = skipPassed(nodes[kHead].next);
            node = static_cast<std::uint32_t>(nodes.size());
            nodes.push_back(Node{0, 0, Mark::Used, rowCount + name});
            linkBefore(node, boundary);
            boundary = node;
        } else {
            if (node == boundary)
                boundary = skipPassed(nodes[node].next);
            unlink(node);
            linkBefore(node, nodes[kHead].next);
            nodes[node].mark = Mark::Passed;
        }
    }

    // The new values, then the new order of the rows taken in.
    for (const ParameterName& name : names)
        if (name.row)
            setValue(*name.row, std::move(params[name.last].value));
    std::vector<Variable> front;
    std::vector<std::uint32_t> frontIds;
    front.reserve(nodes.size() - 2);
    frontIds.reserve(nodes.size() - 2);
    for (std::uint32_t at = nodes[kHead].next; at != kTail; at = nodes[at].next) {
        const Node& node = nodes[at];
        if (node.source < rowCount) {
            Variable& row = rows_[node.source];
            if (row.mark == Mark::Plain && node.mark != Mark::Plain)
                markedIds_.push_back(ids_[node.source]);
            row.mark = node.mark;
            front.push_back(std::move(row));
            frontIds.push_back(ids_[node.source]);
        } else {
            const ParameterName& name = names[node.source - rowCount];
            std::string& text = params[name.first].name;
            std::string& value = params[name.last].value;
            const std::uint32_t id = newId(0);
            indexName(text, id);
            markedIds_.push_back(id);
            bytes_ += text.size() + value.size();
            front.push_back(Variable{std::move(text), std::move(value), node.mark});
            frontIds.push_back(id);
        }
    }
    const std::size_t added = front.size() - taken;
    // A request that sets the rows it set last time, already on top, moves nothing.
    if (added > 0 || !std::equal(frontIds.begin(), frontIds.end(), ids_.begin()))
        rowsChanged();
    if (added > 0) {
        rows_.resize(rowCount + added);
        ids_.resize(rowCount + added);
        const auto at = static_cast<std::ptrdiff_t>(taken);
        const auto end = static_cast<std::ptrdiff_t>(rowCount);
        std::move_backward(rows_.begin() + at, rows_.begin() + end, rows_.end());
        std::move_backward(ids_.begin() + at, ids_.begin() + end, ids_.end());
    }
    std::move(front.begin(), front.end(), rows_.begin());
    std::copy(frontIds.begin(), frontIds.end(), ids_.begin());
    renumber(0, added > 0 ? rows_.size() : taken);
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

void VariableTable::assignLoaded(std::vector<Variable> rows) {
    clear(); // a new generation
    rows_ = std::move(rows);
    const std::size_t count = rows_.size();
    ids_.resize(count);
    position_.resize(count);
    index_.reserve(count);
    // foldCase of every byte, looked up here rather than called for each byte of each name.
    std::array<char, 256> folded;
    for (std::size_t b = 0; b < folded.size(); ++b)
        folded[b] = foldCase(static_cast<char>(b));
    std::string key;
    for (std::size_t i = 0; i < count; ++i) {
        Variable& row = rows_[i];
        row.mark = Mark::Plain;
        const auto id = static_cast<std::uint32_t>(i);
        ids_[i] = id;
        position_[i] = i;
        bytes_ += row.name.size() + row.value.size();
        key.assign(row.name);
        for (char& c : key)
            c = folded[static_cast<unsigned char>(c)];
        const auto [it, added] = index_.try_emplace(key, NameIds{id, {}});
        if (!added)
            it->second.more.push_back(id);
    }
}

} // namespace pelotest

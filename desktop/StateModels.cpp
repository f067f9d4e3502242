#include "desktop/StateModels.h"

#include "desktop/Text.h"
#include "state/TextCase.h"

#include <QDateTime>

#include <algorithm>
#include <unordered_set>

namespace pelotest::desktop {
namespace {

// A value longer than this shows cut (the variables page cuts at the same length); the list
// would otherwise lay out megabytes of text per row.
constexpr std::size_t kShownValueBytes = 4096;

int markPicture(Mark mark) {
    switch (mark) {
    case Mark::Passed:
        return ImageList::kMarkPassed;
    case Mark::Used:
        return ImageList::kMarkUsed;
    case Mark::Plain:
        break;
    }
    return ImageList::kMarkPlain;
}

// Whether two log rows show the same in every column (rows compare equal by what the settings
// file keeps, without the time and query the list shows).
bool showsSame(const LogEntry& a, const LogEntry& b) {
    return a == b && a.loggedAt == b.loggedAt && a.query == b.query;
}

} // namespace

QString nodeDisplayText(std::string_view text, bool entryNode) {
    if (entryNode)
        return fromPathBytes(std::string(text));
    const std::size_t separator = text.find(kAssignedSeparator);
    if (separator == std::string_view::npos)
        return fromSiteBytes(text);
    return fromPathBytes(std::string(text.substr(0, separator))) +
           fromSiteBytes(text.substr(separator));
}

// ---------------------------------------------------------------------------------------------
// Tree

TreeModel::TreeModel(AppState& state, const ImageList& images, QObject* parent)
    : QAbstractItemModel(parent), state_(state), images_(images) {}

int TreeModel::known(const TreeNode* parent) const {
    const auto it = shown_.find(parent);
    return it == shown_.end() ? 0 : static_cast<int>(it->second.children.size());
}

int TreeModel::rowIn(const TreeNode* node) const {
    const auto self = shown_.find(node);
    return self == shown_.end() ? -1 : self->second.row;
}

QModelIndex TreeModel::indexOf(const TreeNode* node) const {
    const int row = node == nullptr ? -1 : rowIn(node);
    if (row < 0)
        return {};
    return createIndex(row, 0, const_cast<TreeNode*>(node));
}

QModelIndex TreeModel::index(int row, int column, const QModelIndex& parent) const {
    if (column != 0 || row < 0 || parent.column() > 0)
        return {};
    const auto owner = shown_.find(nodeOf(parent));
    if (owner == shown_.end() || row >= static_cast<int>(owner->second.children.size()))
        return {};
    return createIndex(row, 0, owner->second.children[static_cast<std::size_t>(row)]);
}

QModelIndex TreeModel::parent(const QModelIndex& child) const {
    if (!child.isValid())
        return {};
    const auto self = shown_.find(nodeOf(child));
    return self == shown_.end() ? QModelIndex() : indexOf(self->second.parent);
}

int TreeModel::rowCount(const QModelIndex& parent) const {
    return parent.column() > 0 ? 0 : known(nodeOf(parent));
}

int TreeModel::columnCount(const QModelIndex&) const {
    return 1;
}

QVariant TreeModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() ||
        (role != Qt::DisplayRole && role != Qt::DecorationRole && role != Qt::ToolTipRole))
        return {};
    const TreeNode* node = nodeOf(index);
    const auto self = shown_.find(node);
    if (self == shown_.end())
        return {};
    const std::string& text = self->second.text;
    const bool entryNode = node == entryNode_;
    if (role == Qt::DecorationRole) {
        if (entryNode)
            return images_.icon(rootImage_);
        return images_.icon(text.find(kAssignedSeparator) == std::string::npos
                                ? ImageList::kEventNode
                                : ImageList::kTemplateNode);
    }
    return nodeDisplayText(text, entryNode);
}

void TreeModel::announceRows(const TreeNode* parent, const Shown& next,
                             QList<QPersistentModelIndex>& grown) {
    const auto fresh = next.find(parent);
    const auto shown = shown_.find(parent);
    if (fresh == next.end() || (parent != nullptr && shown == shown_.end()))
        return;
    const int have = known(parent);
    const auto& children = fresh->second.children;
    const int now = static_cast<int>(children.size());
    if (now <= have)
        return;
    const QModelIndex at = indexOf(parent);
    beginInsertRows(at, have, now - 1);
    // The new rows come with their texts; their own children are announced after them.
    for (int row = have; row < now; ++row) {
        TreeNode* child = children[static_cast<std::size_t>(row)];
        const ShownNode& copy = next.at(child);
        shown_[child] = ShownNode{copy.parent, copy.text, {}, row};
    }
    shown_[parent].children = children;
    endInsertRows();
    grown.append(QPersistentModelIndex(at));
}

QList<QPersistentModelIndex> TreeModel::sync() {
    Shown next;
    const TreeNode* previousEntry = entryNode_;
    std::vector<const TreeNode*> order{nullptr};
    bool consistent = true;
    {
        const StateLock hold(state_.mutex);
        const std::vector<TreeNode*> nodes = state_.tree.flatten();
        // Requests only add nodes and the window removes them through removeNode(): rows
        // announced for a node that is gone, or more than it has, mean the tree was replaced as
        // a whole.
        consistent = static_cast<int>(state_.tree.roots().size()) >= known(nullptr);
        if (consistent && shown_.size() > 1) {
            const std::unordered_set<const TreeNode*> live(nodes.begin(), nodes.end());
            for (const auto& [node, copy] : shown_) {
                if (node &&
                    (!live.contains(node) || node->children.size() < copy.children.size())) {
                    consistent = false;
                    break;
                }
            }
        }
        next.reserve(nodes.size() + 1);
        order.reserve(nodes.size() + 1);
        // Each node's row among its siblings is noted with the copy, so that finding a node's
        // index is one lookup, not a walk through its siblings.
        const auto copyChildren = [&next](ShownNode& copy, const auto& children) {
            copy.children.reserve(children.size());
            for (const auto& child : children) {
                next[child.get()].row = static_cast<int>(copy.children.size());
                copy.children.push_back(child.get());
            }
        };
        copyChildren(next[nullptr], state_.tree.roots());
        for (TreeNode* node : nodes) {
            ShownNode& copy = next[node]; // references into the map stay valid as it grows
            copy.parent = node->parent;
            copy.text = node->text.str();
            copyChildren(copy, node->children);
            order.push_back(node);
        }
        entryNode_ = state_.tree.first();
    }
    if (!consistent) {
        beginResetModel();
        shown_.clear();
        endResetModel();
    }
    shown_.try_emplace(nullptr);
    // Tree order: a parent's new rows are announced before their own children.
    QList<QPersistentModelIndex> grown;
    for (const TreeNode* node : order)
        announceRows(node, next, grown);
    // Every row is announced now: the copy takes the place of the old one as a whole. Texts may
    // have changed anywhere (an assignment from the browser), and the entry node shows its own
    // way: only the rows that show something else are repainted (and looked at again by a
    // filter or a screen reader).
    std::vector<const TreeNode*> changed;
    for (const auto& [node, copy] : next) {
        const auto old = shown_.find(node);
        if (node != nullptr && old != shown_.end() && old->second.text != copy.text)
            changed.push_back(node);
    }
    if (previousEntry != entryNode_) {
        for (const TreeNode* node : {previousEntry, entryNode_})
            if (node != nullptr && shown_.contains(node) && next.contains(node))
                changed.push_back(node);
    }
    shown_ = std::move(next);
    for (const TreeNode* node : changed) {
        const QModelIndex at = indexOf(node);
        emit dataChanged(at, at);
    }
    return grown;
}

void TreeModel::reload() {
    beginResetModel();
    shown_.clear();
    endResetModel();
    sync();
}

void TreeModel::forgetSubtree(const TreeNode* node) {
    std::vector<const TreeNode*> pending{node};
    while (!pending.empty()) {
        const TreeNode* next = pending.back();
        pending.pop_back();
        const auto it = shown_.find(next);
        if (it == shown_.end())
            continue;
        for (const TreeNode* child : it->second.children)
            pending.push_back(child);
        shown_.erase(it);
    }
}

bool TreeModel::removeNode(const TreeNode* node) {
    const TreeNode* entry = nullptr;
    {
        const StateLock hold(state_.mutex);
        if (!state_.tree.contains(node))
            return false;
        state_.tree.remove(node);
        state_.treeChanged = true;
        entry = state_.tree.first();
    }
    // The model never follows the node's address, so its rows can go after the lock is released
    // (the views move their selection, whose slot takes the lock).
    if (const int row = rowIn(node); row >= 0) {
        const TreeNode* parent = shown_.at(node).parent;
        beginRemoveRows(indexOf(parent), row, row);
        forgetSubtree(node);
        auto& siblings = shown_[parent].children;
        siblings.erase(siblings.begin() + row);
        for (std::size_t later = static_cast<std::size_t>(row); later < siblings.size(); ++later)
            --shown_.at(siblings[later]).row;
        endRemoveRows();
    }
    if (entryNode_ == node)
        entryNode_ = entry;
    return true;
}

void TreeModel::setRootImage(int image) {
    rootImage_ = image;
    if (known(nullptr) > 0)
        emit dataChanged(index(0, 0), index(0, 0), {Qt::DecorationRole});
}

// ---------------------------------------------------------------------------------------------
// Lists

StateTableModel::StateTableModel(AppState& state, const ImageList& images, int columns,
                                 QObject* parent)
    : QAbstractTableModel(parent), state_(state), images_(images), headers_(columns, QString()) {}

int StateTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : known_;
}

int StateTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(headers_.size());
}

QVariant StateTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole)
        return headers_.value(section);
    return QAbstractTableModel::headerData(section, orientation, role);
}

void StateTableModel::setHeaders(const QStringList& headers) {
    headers_ = headers;
    emit headerDataChanged(Qt::Horizontal, 0, static_cast<int>(headers_.size()) - 1);
}

std::optional<bool> StateTableModel::rowShowsAscii(int, std::string_view) const {
    return std::nullopt;
}

void StateTableModel::announceChangedRows(const std::vector<int>& rows, const QList<int>& roles) {
    if (rows.empty())
        return;
    // One signal per run of neighbouring rows; past a few dozen runs (a sort moves rows
    // everywhere) one signal from the first to the last, since every signal costs the views and
    // the accessibility bridge a round of their own.
    constexpr std::size_t kMostRuns = 32;
    std::size_t runs = 1;
    for (std::size_t at = 1; at < rows.size(); ++at)
        runs += rows[at] != rows[at - 1] + 1 ? 1 : 0;
    const int lastColumn = columnCount() - 1;
    if (runs > kMostRuns) {
        emit dataChanged(index(rows.front(), 0), index(rows.back(), lastColumn), roles);
        return;
    }
    for (std::size_t at = 0; at < rows.size();) {
        std::size_t end = at + 1;
        while (end < rows.size() && rows[end] == rows[end - 1] + 1)
            ++end;
        emit dataChanged(index(rows[at], 0), index(rows[end - 1], lastColumn), roles);
        at = end;
    }
}

template <typename Replace>
void StateTableModel::catchUpRows(int rows, Replace&& replace) {
    if (rows > known_) {
        beginInsertRows({}, known_, rows - 1);
        replace();
        known_ = rows;
        endInsertRows();
    } else if (rows < known_) {
        beginRemoveRows({}, rows, known_ - 1);
        replace();
        known_ = rows;
        endRemoveRows();
    } else {
        replace();
    }
}

// ---------------------------------------------------------------------------------------------
// Variables

VariablesModel::VariablesModel(AppState& state, const ImageList& images, QObject* parent)
    : StateTableModel(state, images, 2, parent) {}

QVariant VariablesModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() ||
        (role != Qt::DisplayRole && role != Qt::DecorationRole && role != Qt::ToolTipRole))
        return {};
    if (role != Qt::DisplayRole && index.column() != (role == Qt::DecorationRole ? 0 : 1))
        return {};
    const auto row = static_cast<std::size_t>(index.row());
    if (row >= rows_.size())
        return {};
    const ShownVariable& variable = rows_[row];
    if (role == Qt::DecorationRole)
        return images_.icon(markPicture(variable.mark));
    if (index.column() == 0)
        return fromSiteBytes(name(variable));
    const std::string_view value =
        std::string_view(texts_).substr(variable.valueAt, variable.valueSize);
    if (role == Qt::ToolTipRole) // the value wrapped, as plain text even when it holds markup
        return wrappedTip(fromSiteBytes(value, kShownValueBytes));
    return fromSiteBytes(value, kShownValueBytes);
}

std::string VariablesModel::nameAt(int row) const {
    return row >= 0 && static_cast<std::size_t>(row) < rows_.size()
               ? std::string(name(rows_[static_cast<std::size_t>(row)]))
               : std::string();
}

std::optional<bool> VariablesModel::rowShowsAscii(int row, std::string_view text) const {
    if (row < 0 || static_cast<std::size_t>(row) >= rows_.size())
        return std::nullopt;
    const ShownVariable& variable = rows_[static_cast<std::size_t>(row)];
    if (!variable.ascii)
        return std::nullopt;
    // ASCII bytes show as themselves, and the value is held as far as the list shows it.
    return findIgnoreCase(name(variable), text) != std::string_view::npos ||
           findIgnoreCase(std::string_view(texts_).substr(variable.valueAt, variable.valueSize),
                          text) != std::string_view::npos;
}

int VariablesModel::rowOf(std::string_view wanted) const {
    for (std::size_t row = 0; row < rows_.size(); ++row)
        if (equalsIgnoreCase(name(rows_[row]), wanted))
            return static_cast<int>(row);
    return -1;
}

bool VariablesModel::showsSame(const ShownVariable& row, const std::string& texts,
                               const ShownVariable& other) const {
    const std::string_view old(texts_);
    const std::string_view fresh(texts);
    return row.mark == other.mark &&
           old.substr(row.nameAt, row.nameSize) == fresh.substr(other.nameAt, other.nameSize) &&
           old.substr(row.valueAt, row.valueSize) == fresh.substr(other.valueAt, other.valueSize);
}

void VariablesModel::sync() {
    std::string texts;
    std::vector<ShownVariable> next;
    std::vector<int> changed;
    bool copied = false;
    {
        const StateLock hold(state_.mutex);
        if (state_.variables.generation() == rowsGeneration_ &&
            state_.variables.valuesGeneration() == valuesGeneration_) {
            // Same rows in the same order with the same values: only the marks may differ, and
            // they are copied in place (a request that changes nothing costs no copy of texts).
            for (std::size_t row = 0; row < rows_.size(); ++row) {
                const Mark mark = state_.variables[row].mark;
                if (rows_[row].mark != mark) {
                    rows_[row].mark = mark;
                    changed.push_back(static_cast<int>(row));
                }
            }
        } else {
            texts.reserve(state_.variables.bytes());
            next.reserve(state_.variables.size());
            for (const Variable& variable : state_.variables.rows()) {
                const std::string_view value =
                    std::string_view(variable.value).substr(0, kShownValueBytes);
                next.push_back({texts.size(), variable.name.size(),
                                texts.size() + variable.name.size(), value.size(), variable.mark});
                texts.append(variable.name).append(value);
            }
            copied = true;
            rowsGeneration_ = state_.variables.generation();
            valuesGeneration_ = state_.variables.valuesGeneration();
        }
    }
    if (!copied) {
        // Only the pictures changed: a filter, which looks at the texts, has nothing to redo.
        announceChangedRows(changed, {Qt::DecorationRole});
        return;
    }
    const auto ascii = [&texts](std::size_t at, std::size_t size) {
        return std::all_of(texts.begin() + static_cast<std::ptrdiff_t>(at),
                           texts.begin() + static_cast<std::ptrdiff_t>(at + size),
                           [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    };
    for (ShownVariable& row : next)
        row.ascii = ascii(row.nameAt, row.nameSize) && ascii(row.valueAt, row.valueSize);
    // The rows both copies hold are repainted where they show something else; the rest were
    // added or taken away at the bottom.
    const std::size_t common = std::min(rows_.size(), next.size());
    for (std::size_t row = 0; row < common; ++row)
        if (!showsSame(rows_[row], texts, next[row]))
            changed.push_back(static_cast<int>(row));
    catchUpRows(static_cast<int>(next.size()), [&] {
        texts_ = std::move(texts);
        rows_ = std::move(next);
    });
    announceChangedRows(changed, {});
}

// ---------------------------------------------------------------------------------------------
// Log

LogModel::LogModel(AppState& state, const ImageList& images, QObject* parent)
    : StateTableModel(state, images, 5, parent) {}

QVariant LogModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() ||
        (role != Qt::DisplayRole && role != Qt::DecorationRole && role != Qt::ToolTipRole))
        return {};
    if (role != Qt::DisplayRole && index.column() != 0)
        return {};
    const auto row = static_cast<std::size_t>(index.row());
    if (row >= rows_.size())
        return {};
    const LogEntry& entry = rows_[row];
    switch (role) {
    case Qt::DecorationRole:
        return images_.icon(entry.kind);
    case Qt::ToolTipRole:
        return entry.filePath.empty() ? QVariant() : QVariant(fromPathBytes(entry.filePath));
    default:
        break;
    }
    switch (index.column()) {
    case 0:
        return fromPathBytes(entry.fileName);
    case 1:
        return fromSiteBytes(entry.event);
    case 2:
        return fromSiteBytes(entry.title);
    case kTimeColumn: // local time, to the millisecond: identical rows follow one another fast
        return entry.loggedAt == 0 ? QString()
                                   : QDateTime::fromMSecsSinceEpoch(entry.loggedAt)
                                         .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
    default: { // the query's values as they read, in the site's encoding
        QByteArray query(entry.query.data(), static_cast<qsizetype>(entry.query.size()));
        query.replace('+', ' ');
        return fromSiteBytes(QByteArray::fromPercentEncoding(query).toStdString());
    }
    }
}

std::optional<LogEntry> LogModel::entryAt(int row) const {
    if (row < 0 || static_cast<std::size_t>(row) >= rows_.size())
        return std::nullopt;
    return rows_[static_cast<std::size_t>(row)];
}

void LogModel::sync() {
    std::deque<LogEntry> next;
    std::uint64_t insertions = 0;
    {
        const StateLock hold(state_.mutex);
        next = state_.log.rows();
        insertions = state_.log.insertions();
    }
    const int now = static_cast<int>(next.size());
    const auto fresh = static_cast<int>(std::min<std::uint64_t>(
        insertions - std::min(insertions, seenInsertions_), static_cast<std::uint64_t>(now)));
    seenInsertions_ = insertions;
    if (fresh > 0) {
        // The rows that came in at the top; the rows below keep their texts until the copy
        // takes their place as a whole.
        beginInsertRows({}, 0, fresh - 1);
        rows_.insert(rows_.begin(), next.begin(), next.begin() + fresh);
        known_ += fresh;
        endInsertRows();
    }
    // What the limit or clearing took away goes at the bottom; loading appends there. Rows that
    // both copies hold show the same entry unless the log was replaced meanwhile.
    std::vector<int> changed;
    const std::size_t common = std::min(rows_.size(), next.size());
    for (std::size_t row = 0; row < common; ++row)
        if (!showsSame(rows_[row], next[row]))
            changed.push_back(static_cast<int>(row));
    catchUpRows(now, [&] { rows_ = std::move(next); });
    announceChangedRows(changed, {});
}

} // namespace pelotest::desktop

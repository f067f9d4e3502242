#include "desktop/StateModels.h"

#include "desktop/Text.h"

#include <algorithm>
#include <mutex>
#include <unordered_set>

namespace pelotest::desktop {
namespace {

// A value longer than this shows cut (the variables page cuts at the same length); the list
// would otherwise lay out megabytes of text per row.
constexpr std::size_t kShownValueBytes = 4096;

constexpr int kMarkImage[] = {5, 6, 7}; // Plain, Passed, Used

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

TreeModel::TreeModel(AppState& state, UiStateLock& lock, const ImageList& images, QObject* parent)
    : QAbstractItemModel(parent), state_(state), lock_(lock), images_(images) {}

int TreeModel::known(const TreeNode* parent) const {
    const auto it = known_.find(parent);
    return it == known_.end() ? 0 : it->second;
}

int TreeModel::rowIn(const TreeNode* node) const {
    const auto& siblings = node->parent ? node->parent->children : state_.tree.roots();
    const auto it =
        std::find_if(siblings.begin(), siblings.end(),
                     [&](const std::unique_ptr<TreeNode>& n) { return n.get() == node; });
    return static_cast<int>(it - siblings.begin());
}

QModelIndex TreeModel::indexOf(const TreeNode* node) const {
    if (node == nullptr)
        return {};
    return createIndex(rowIn(node), 0, const_cast<TreeNode*>(node));
}

QModelIndex TreeModel::index(int row, int column, const QModelIndex& parent) const {
    if (column != 0 || row < 0 || parent.column() > 0)
        return {};
    const TreeNode* owner = nodeOf(parent);
    if (row >= known(owner))
        return {};
    std::lock_guard hold(lock_);
    const auto& children = owner ? owner->children : state_.tree.roots();
    if (static_cast<std::size_t>(row) >= children.size())
        return {};
    return createIndex(row, 0, children[static_cast<std::size_t>(row)].get());
}

QModelIndex TreeModel::parent(const QModelIndex& child) const {
    if (!child.isValid())
        return {};
    std::lock_guard hold(lock_);
    return indexOf(nodeOf(child)->parent);
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
    std::lock_guard hold(lock_);
    const TreeNode* node = nodeOf(index);
    const bool entryNode = node == state_.tree.first();
    if (role == Qt::DecorationRole) {
        if (entryNode)
            return images_.icon(rootImage_);
        return images_.icon(node->text.find(kAssignedSeparator) == std::string::npos ? 2 : 3);
    }
    return nodeDisplayText(node->text, entryNode);
}

void TreeModel::announceRows(TreeNode* parent, QList<QPersistentModelIndex>& grown) {
    const auto& children = parent ? parent->children : state_.tree.roots();
    const int have = known(parent);
    const int now = static_cast<int>(children.size());
    if (now <= have)
        return;
    const QModelIndex at = indexOf(parent);
    beginInsertRows(at, have, now - 1);
    known_[parent] = now;
    endInsertRows();
    grown.append(QPersistentModelIndex(at));
}

QList<QPersistentModelIndex> TreeModel::sync() {
    std::lock_guard hold(lock_);
    QList<QPersistentModelIndex> grown;
    const std::vector<TreeNode*> nodes = state_.tree.flatten();
    // Requests only add nodes and the window removes them through removeNode(): rows announced
    // for a node that is gone, or more than it has, mean the tree was replaced as a whole.
    bool consistent = static_cast<int>(state_.tree.roots().size()) >= known(nullptr);
    if (consistent && known_.size() > 1) {
        const std::unordered_set<const TreeNode*> live(nodes.begin(), nodes.end());
        for (const auto& [node, rows] : known_) {
            if (node && (!live.contains(node) || static_cast<int>(node->children.size()) < rows)) {
                consistent = false;
                break;
            }
        }
    }
    if (!consistent) {
        beginResetModel();
        known_.clear();
        endResetModel();
    }
    // Tree order: a parent's new rows are announced before their own children.
    announceRows(nullptr, grown);
    for (TreeNode* node : nodes)
        announceRows(node, grown);
    // Texts may have changed anywhere (an assignment from the browser).
    for (const auto& [node, rows] : known_) {
        if (rows > 0) {
            const QModelIndex parent = indexOf(node);
            emit dataChanged(index(0, 0, parent), index(rows - 1, 0, parent));
        }
    }
    return grown;
}

void TreeModel::reload() {
    beginResetModel();
    known_.clear();
    endResetModel();
    sync();
}

void TreeModel::forgetSubtree(const TreeNode* node) {
    std::vector<const TreeNode*> pending{node};
    while (!pending.empty()) {
        const TreeNode* next = pending.back();
        pending.pop_back();
        known_.erase(next);
        for (const auto& child : next->children)
            pending.push_back(child.get());
    }
}

bool TreeModel::removeNode(const TreeNode* node) {
    std::lock_guard hold(lock_);
    if (!state_.tree.contains(node))
        return false;
    const TreeNode* parent = node->parent;
    const int row = rowIn(node);
    const bool shown = row < known(parent);
    if (shown)
        beginRemoveRows(indexOf(parent), row, row);
    forgetSubtree(node);
    state_.tree.remove(node);
    if (shown) {
        --known_[parent];
        endRemoveRows();
    }
    return true;
}

void TreeModel::setRootImage(int image) {
    rootImage_ = image;
    if (known(nullptr) > 0)
        emit dataChanged(index(0, 0), index(0, 0), {Qt::DecorationRole});
}

// ---------------------------------------------------------------------------------------------
// Lists

StateTableModel::StateTableModel(AppState& state, UiStateLock& lock, const ImageList& images,
                                 int columns, QObject* parent)
    : QAbstractTableModel(parent), state_(state), lock_(lock), images_(images),
      headers_(columns, QString()) {}

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

void StateTableModel::catchUpRows(int rows) {
    if (rows > known_) {
        beginInsertRows({}, known_, rows - 1);
        known_ = rows;
        endInsertRows();
    } else if (rows < known_) {
        beginRemoveRows({}, rows, known_ - 1);
        known_ = rows;
        endRemoveRows();
    }
    if (known_ > 0)
        emit dataChanged(index(0, 0), index(known_ - 1, columnCount() - 1));
}

// ---------------------------------------------------------------------------------------------
// Variables

VariablesModel::VariablesModel(AppState& state, UiStateLock& lock, const ImageList& images,
                               QObject* parent)
    : StateTableModel(state, lock, images, 2, parent) {}

QVariant VariablesModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() ||
        (role != Qt::DisplayRole && role != Qt::DecorationRole && role != Qt::ToolTipRole))
        return {};
    if (role != Qt::DisplayRole && index.column() != (role == Qt::DecorationRole ? 0 : 1))
        return {};
    std::lock_guard hold(lock_);
    const auto row = static_cast<std::size_t>(index.row());
    // A request may have removed rows that this view has not been told about yet.
    if (row >= state_.variables.size())
        return {};
    const Variable& variable = state_.variables[row];
    if (role == Qt::DecorationRole)
        return images_.icon(kMarkImage[static_cast<int>(variable.mark)]);
    if (index.column() == 0)
        return fromSiteBytes(variable.name);
    if (role == Qt::ToolTipRole) // the value wrapped, as plain text even when it holds markup
        return QStringLiteral("<p style=\"white-space:pre-wrap\">%1</p>")
            .arg(fromSiteBytes(variable.value, kShownValueBytes).toHtmlEscaped());
    return fromSiteBytes(variable.value, kShownValueBytes);
}

void VariablesModel::sync() {
    std::lock_guard hold(lock_);
    catchUpRows(static_cast<int>(state_.variables.size()));
}

// ---------------------------------------------------------------------------------------------
// Log

LogModel::LogModel(AppState& state, UiStateLock& lock, const ImageList& images, QObject* parent)
    : StateTableModel(state, lock, images, 3, parent) {}

QVariant LogModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() ||
        (role != Qt::DisplayRole && role != Qt::DecorationRole && role != Qt::ToolTipRole))
        return {};
    if (role != Qt::DisplayRole && index.column() != 0)
        return {};
    std::lock_guard hold(lock_);
    const auto row = static_cast<std::size_t>(index.row());
    if (row >= state_.log.size())
        return {};
    const LogEntry& entry = state_.log.rows()[row];
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
    default:
        return fromSiteBytes(entry.title);
    }
}

void LogModel::sync() {
    std::lock_guard hold(lock_);
    const int now = static_cast<int>(state_.log.size());
    const std::uint64_t insertions = state_.log.insertions();
    const auto fresh = static_cast<int>(std::min<std::uint64_t>(
        insertions - std::min(insertions, seenInsertions_), static_cast<std::uint64_t>(now)));
    seenInsertions_ = insertions;
    if (fresh > 0) {
        beginInsertRows({}, 0, fresh - 1);
        known_ += fresh;
        endInsertRows();
    }
    // What the limit or clearing took away goes at the bottom; loading appends there.
    catchUpRows(now);
}

} // namespace pelotest::desktop

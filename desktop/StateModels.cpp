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

TreeModel::TreeModel(AppState& state, const ImageList& images, QObject* parent)
    : QAbstractItemModel(parent), state_(state), images_(images) {}

int TreeModel::known(const TreeNode* parent) const {
    const auto it = shown_.find(parent);
    return it == shown_.end() ? 0 : static_cast<int>(it->second.children.size());
}

int TreeModel::rowIn(const TreeNode* node) const {
    const auto self = shown_.find(node);
    if (self == shown_.end())
        return -1;
    const auto siblings = shown_.find(self->second.parent);
    if (siblings == shown_.end())
        return -1;
    const auto& children = siblings->second.children;
    const auto it = std::find(children.begin(), children.end(), node);
    return it == children.end() ? -1 : static_cast<int>(it - children.begin());
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
        return images_.icon(text.find(kAssignedSeparator) == std::string::npos ? 2 : 3);
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
        shown_[child] = ShownNode{copy.parent, copy.text, {}};
    }
    shown_[parent].children = children;
    endInsertRows();
    grown.append(QPersistentModelIndex(at));
}

QList<QPersistentModelIndex> TreeModel::sync() {
    Shown next;
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
        ShownNode& top = next[nullptr];
        for (const auto& root : state_.tree.roots())
            top.children.push_back(root.get());
        next.reserve(nodes.size() + 1);
        order.reserve(nodes.size() + 1);
        for (TreeNode* node : nodes) {
            ShownNode& copy = next[node];
            copy.parent = node->parent;
            copy.text = node->text.str();
            copy.children.reserve(node->children.size());
            for (const auto& child : node->children)
                copy.children.push_back(child.get());
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
    // Every row is announced now: the copy takes the place of the old one as a whole, and the
    // texts may have changed anywhere (an assignment from the browser).
    shown_ = std::move(next);
    for (const auto& [node, copy] : shown_) {
        if (!copy.children.empty()) {
            const QModelIndex parent = indexOf(node);
            emit dataChanged(index(0, 0, parent),
                             index(static_cast<int>(copy.children.size()) - 1, 0, parent));
        }
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

QVariant TreeModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (section == 0 && orientation == Qt::Horizontal && role == Qt::DisplayRole)
        return heading_;
    return QAbstractItemModel::headerData(section, orientation, role);
}

void TreeModel::setHeading(const QString& heading) {
    heading_ = heading;
    emit headerDataChanged(Qt::Horizontal, 0, 0);
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
    if (known_ > 0)
        emit dataChanged(index(0, 0), index(known_ - 1, columnCount() - 1));
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
        return images_.icon(kMarkImage[static_cast<int>(variable.mark)]);
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

int VariablesModel::rowOf(std::string_view wanted) const {
    for (std::size_t row = 0; row < rows_.size(); ++row)
        if (equalsIgnoreCase(name(rows_[row]), wanted))
            return static_cast<int>(row);
    return -1;
}

void VariablesModel::sync() {
    std::string texts;
    std::vector<ShownVariable> next;
    bool copied = false;
    {
        const StateLock hold(state_.mutex);
        if (state_.variables.generation() == rowsGeneration_ &&
            state_.variables.valuesGeneration() == valuesGeneration_) {
            // Same rows in the same order with the same values: only the marks may differ, and
            // they are copied in place (a request that changes nothing costs no copy of texts).
            for (std::size_t row = 0; row < rows_.size(); ++row)
                rows_[row].mark = state_.variables[row].mark;
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
        catchUpRows(static_cast<int>(rows_.size()), [] {});
        return;
    }
    catchUpRows(static_cast<int>(next.size()), [&] {
        texts_ = std::move(texts);
        rows_ = std::move(next);
    });
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
    case kTimeColumn:
        return entry.loggedAt == 0 ? QString() : logTimeText(entry.loggedAt, QDate::currentDate());
    default: { // the query's values as they read, in the site's encoding
        QByteArray query(entry.query.data(), static_cast<qsizetype>(entry.query.size()));
        query.replace('+', ' ');
        return fromSiteBytes(QByteArray::fromPercentEncoding(query).toStdString());
    }
    }
}

QString logTimeText(qint64 msecsSinceEpoch, const QDate& today) {
    const QDateTime at = QDateTime::fromMSecsSinceEpoch(msecsSinceEpoch);
    const QString time = at.toString(QStringLiteral("HH:mm:ss.zzz"));
    if (at.date() == today)
        return time;
    return time + QLatin1Char(' ') + at.toString(QStringLiteral("yyyy-MM-dd"));
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
    // What the limit or clearing took away goes at the bottom; loading appends there.
    catchUpRows(now, [&] { rows_ = std::move(next); });
}

} // namespace pelotest::desktop

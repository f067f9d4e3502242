#pragma once
// Qt item models over the core's tree, variables and log. Each serves its views from a copy of
// the shown texts taken under the state lock at sync() (run on the queued change notification,
// or before a command acts), never from the live state: requests change the state at any moment
// on their own threads, and Qt requires a model's rows to change only together with its signals.
// A view that reads rows between two syncs therefore sees one moment of the state, each name
// once, as announced. The copies hold only what the views show.
//
// Everything here runs on the user-interface thread. A model takes the state lock itself, only
// for the copy, and announces the rows after releasing it: the views' signals reach slots that
// take the lock in turn (a changed selection is saved), and the lock is not re-entrant.

#include "desktop/Pictures.h"
#include "state/AppState.h"

#include <QAbstractItemModel>
#include <QAbstractTableModel>
#include <QStringList>

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace pelotest::desktop {

// The text a node shows: the template part is a file name (file system encoding), the event
// part Windows-1252 bytes.
QString nodeDisplayText(std::string_view text, bool entryNode);

// The events/templates tree. An index carries its TreeNode's address as its identity (commands
// find the node again under the lock); the model itself never follows it, it reads the copy of
// each node's parent, children and text taken at sync(). Nodes leave the tree only through
// removeNode() (requests add nodes and change texts, they never remove one).
class TreeModel : public QAbstractItemModel {
    Q_OBJECT

  public:
    TreeModel(AppState& state, const ImageList& images, QObject* parent = nullptr);

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

    // Announces the nodes added since the last call and repaints the texts. Returns the nodes
    // that got new rows (the invalid index for the top level), to be expanded.
    QList<QPersistentModelIndex> sync() EXCLUDES(state_.mutex);
    // Forgets every row and announces the tree anew (after it was replaced as a whole).
    void reload() EXCLUDES(state_.mutex);
    // Removes node with its descendants from the tree and marks the tree changed; false when it
    // is no longer there. The rows leave the view after the lock is released.
    bool removeNode(const TreeNode* node) EXCLUDES(state_.mutex);
    // The root node's picture (server stopped or running).
    void setRootImage(int image);

    static TreeNode* nodeOf(const QModelIndex& index) {
        return static_cast<TreeNode*>(index.internalPointer());
    }
    // The index of node as last synced (null, or a node not shown, gives the invalid index).
    QModelIndex indexOf(const TreeNode* node) const;

  private:
    // A node as shown: its parent, its text, the children announced (key null: the top level)
    // and its row among its parent's children.
    struct ShownNode {
        const TreeNode* parent = nullptr;
        std::string text;
        std::vector<TreeNode*> children;
        int row = -1;
    };
    using Shown = std::unordered_map<const TreeNode*, ShownNode>;

    int known(const TreeNode* parent) const;
    int rowIn(const TreeNode* node) const;
    void announceRows(const TreeNode* parent, const Shown& next,
                      QList<QPersistentModelIndex>& grown);
    void forgetSubtree(const TreeNode* node);

    AppState& state_;
    const ImageList& images_;
    int rootImage_ = ImageList::kRootStopped;
    Shown shown_;
    const TreeNode* entryNode_ = nullptr;
};

// A list of the state shown as rows and columns (the variables, the log): the header texts and
// the number of rows announced so far.
class StateTableModel : public QAbstractTableModel {
    Q_OBJECT

  public:
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    // One text per column.
    void setHeaders(const QStringList& headers);
    // Whether row shows text (ASCII alone) in any column, ignoring case, answered from the
    // copy's bytes without building the shown texts; nullopt when the row holds other
    // characters, whose case only the shown texts can tell.
    virtual std::optional<bool> rowShowsAscii(int row, std::string_view text) const;

  protected:
    StateTableModel(AppState& state, const ImageList& images, int columns, QObject* parent);
    // Brings the rows announced up to (or down to) rows at the bottom, with replace() (which
    // puts the new copy in place) called where Qt expects the rows to change.
    template <typename Replace>
    void catchUpRows(int rows, Replace&& replace);
    // Repaints the rows given (ascending), in all columns, for the roles given (empty: all).
    void announceChangedRows(const std::vector<int>& rows, const QList<int>& roles);

    AppState& state_;
    const ImageList& images_;
    int known_ = 0;

  private:
    QStringList headers_;
};

// The variables list: columns name and value, the mark's picture before the name.
class VariablesModel : public StateTableModel {
    Q_OBJECT

  public:
    VariablesModel(AppState& state, const ImageList& images, QObject* parent = nullptr);

    QVariant data(const QModelIndex& index, int role) const override;
    std::optional<bool> rowShowsAscii(int row, std::string_view text) const override;
    // Copies the list under the lock, announces its number of rows and repaints the rows that
    // show something else.
    void sync() EXCLUDES(state_.mutex);
    // The name shown in row (empty past the end).
    std::string nameAt(int row) const;
    // The first row whose name equals name ignoring case, as the table's lookup gives it; -1
    // when no row has it.
    int rowOf(std::string_view name) const;

  private:
    struct ShownVariable {
        std::size_t nameAt = 0, nameSize = 0;
        std::size_t valueAt = 0, valueSize = 0; // the value cut to what the list shows
        Mark mark = Mark::Plain;
        bool ascii = false; // name and value hold ASCII alone
    };
    std::string_view name(const ShownVariable& row) const {
        return std::string_view(texts_).substr(row.nameAt, row.nameSize);
    }
    // Whether row of the shown copy shows what other shows, whose texts are in texts.
    bool showsSame(const ShownVariable& row, const std::string& texts,
                   const ShownVariable& other) const;
    // The names and values of all rows in one block: a copy of 100,000 rows under the lock
    // makes one allocation, not two per row.
    std::string texts_;
    std::vector<ShownVariable> rows_;
    // The table's generations of the copy: while both stay, only marks can have changed.
    std::uint64_t rowsGeneration_ = 0;
    std::uint64_t valuesGeneration_ = 0;
};

// The request log, newest row first: the kind's picture before the file name, event, title,
// and the request's time and query.
class LogModel : public StateTableModel {
    Q_OBJECT

  public:
    static constexpr int kTimeColumn = 3;
    static constexpr int kQueryColumn = 4;

    LogModel(AppState& state, const ImageList& images, QObject* parent = nullptr);

    QVariant data(const QModelIndex& index, int role) const override;
    // Announces the rows that came in at the top since the last call (so a selected row stays
    // on its entry) and those the limit or clearing took away at the bottom.
    void sync() EXCLUDES(state_.mutex);
    // The entry shown in row.
    std::optional<LogEntry> entryAt(int row) const;

  private:
    std::deque<LogEntry> rows_;
    std::uint64_t seenInsertions_ = 0;
};

} // namespace pelotest::desktop

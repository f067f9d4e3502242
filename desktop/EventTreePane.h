#pragma once
// The events/templates tree of the general tab: the tree the requests grow, with its menu to
// assign a template to an event, open a node's template in the editor or its page in the
// browser, delete a node, and expand or collapse every node.

#include "desktop/PaneSupport.h"
#include "state/PersistentState.h"

#include <QGroupBox>

class QAction;
class QMenu;
class QTreeView;

namespace pelotest::desktop {

class EventTreePane : public QGroupBox {
    Q_OBJECT

  public:
    // The design width of the pane.
    static constexpr int kDesignWidth = 345;
    // Its smallest: a narrow window takes from the tree before it takes from the values.
    static constexpr int kLeastWidth = 180;

    explicit EventTreePane(const PaneContext& context, QWidget* parent = nullptr);

    void applyTexts();
    // The tree as loaded, shown expanded as every addition is.
    void showLoadedTree();
    // Shows the nodes that requests added since the last call, expanded.
    void followRequests();
    // The root node's picture: running or stopped server.
    void setRootImage(int image);

    // The menu's commands, on the selected node.
    void enableMenuForSelection();
    void assignTemplateToSelectedNode();
    void editTemplateOfSelectedNode();
    void openSelectedNodeInBrowser();
    void deleteSelectedNode();
    void expandAllNodes();
    void collapseAllNodes();

  signals:
    // The user removed a node (requests never do).
    void nodeRemoved();

  private:
    TreeNode* selectedNode() const;
    // The templates folder with its variables filled in, asking the user about each (the lock
    // is let go while a box is open).
    ExpandedFolder templatesFolder(UiText caption, UiText prompt);

    PaneContext context_;
    TreeModel* model_ = nullptr;
    QTreeView* view_ = nullptr;
    QMenu* menu_ = nullptr;
    QAction* editAction_ = nullptr;
    QAction* assignAction_ = nullptr;
    QAction* browserAction_ = nullptr;
    QAction* deleteAction_ = nullptr;
    QAction* expandAllAction_ = nullptr;
    QAction* collapseAllAction_ = nullptr;
};

} // namespace pelotest::desktop

#include "desktop/EventTreePane.h"

#include "desktop/Text.h"

#include <QAction>
#include <QHeaderView>
#include <QMenu>
#include <QTreeView>
#include <QVBoxLayout>

#include <algorithm>

// Requests change the tree on their own threads; their queued notifications bring the view up to
// date, and every command finds its node again under the lock when it acts, because a request may
// have removed it while a box was open.

namespace pelotest::desktop {

EventTreePane::EventTreePane(const PaneContext& context, QWidget* parent)
    : QGroupBox(parent), context_(context) {
    setObjectName(QStringLiteral("TreePane"));
    setMinimumWidth(kLeastWidth);
    model_ = new TreeModel(context_.state, context_.images, this);
    view_ = named(new QTreeView, "EventTree");
    view_->setModel(model_);
    view_->setHeaderHidden(true);
    view_->setUniformRowHeights(true);
    view_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view_->setSelectionMode(QAbstractItemView::SingleSelection);
    view_->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    // The column's width is measured on 100 rows around the visible ones, not on 1,000: every
    // layout of a large expanded tree measured the texts of a thousand rows, which took most of
    // the window's start with 10,000 nodes (0.7 s of 0.8 s).
    view_->header()->setResizeContentsPrecision(100);
    view_->header()->setStretchLastSection(false);
    (new QVBoxLayout(this))->addWidget(view_);

    menu_ = contextMenuOf(view_, "TreeMenu");
    editAction_ = named(menu_->addAction(QString()), "EditTemplate");
    assignAction_ = named(menu_->addAction(QString()), "AssignTemplate");
    browserAction_ = named(menu_->addAction(QString()), "OpenTreeInBrowser");
    menu_->addSeparator();
    deleteAction_ = named(menu_->addAction(QString()), "DeleteNode");
    deleteAction_->setShortcut(QKeySequence::Delete);
    menu_->addSeparator();
    expandAllAction_ = named(menu_->addAction(QString()), "ExpandAll");
    collapseAllAction_ = named(menu_->addAction(QString()), "CollapseAll");
    connect(menu_, &QMenu::aboutToShow, this, &EventTreePane::enableMenuForSelection);
    connect(editAction_, &QAction::triggered, this, &EventTreePane::editTemplateOfSelectedNode);
    connect(assignAction_, &QAction::triggered, this, &EventTreePane::assignTemplateToSelectedNode);
    connect(browserAction_, &QAction::triggered, this, &EventTreePane::openSelectedNodeInBrowser);
    connect(deleteAction_, &QAction::triggered, this, &EventTreePane::deleteSelectedNode);
    connect(expandAllAction_, &QAction::triggered, this, &EventTreePane::expandAllNodes);
    connect(collapseAllAction_, &QAction::triggered, this, &EventTreePane::collapseAllNodes);
    enableListKeyboard(view_, {deleteAction_});
    connect(view_->selectionModel(), &QItemSelectionModel::currentChanged, this, [this] {
        // Another node is the selected one.
        context_.commands.markTreeChanged();
    });
}

void EventTreePane::applyTexts() {
    const AppState& state = context_.state;
    setTitle(uiText(state, UiText::TabEventsTemplates));
    model_->setHeading(title());
    view_->setAccessibleName(title());
    editAction_->setText(uiText(state, UiText::MenuEdit));
    assignAction_->setText(uiText(state, UiText::MenuAssign));
    browserAction_->setText(uiText(state, UiText::MenuOpenInBrowser));
    deleteAction_->setText(uiText(state, UiText::MenuDelete));
    expandAllAction_->setText(uiText(state, UiText::MenuExpandAll));
    collapseAllAction_->setText(uiText(state, UiText::MenuCollapseAll));
}

void EventTreePane::showLoadedTree() {
    model_->reload();
    view_->expandAll();
}

void EventTreePane::followRequests() {
    for (const QPersistentModelIndex& parent : model_->sync()) {
        // Every node that enters the tree shows expanded with all its descendants.
        if (parent.isValid()) {
            view_->expandRecursively(parent);
        } else {
            for (int row = 0; row < model_->rowCount(); ++row)
                view_->expandRecursively(model_->index(row, 0));
        }
    }
}

void EventTreePane::setRootImage(int image) {
    model_->setRootImage(image);
}

ExpandedFolder EventTreePane::templatesFolder(UiText caption, UiText prompt) {
    return context_.commands.templatesFolder(context_.host, true, caption, prompt);
}

TreeNode* EventTreePane::selectedNode() const {
    const QModelIndexList selected = view_->selectionModel()->selectedIndexes();
    return selected.isEmpty() ? nullptr : TreeModel::nodeOf(selected.front());
}

void EventTreePane::enableMenuForSelection() {
    const bool selected = selectedNode() != nullptr;
    editAction_->setEnabled(selected);
    assignAction_->setEnabled(selected);
    browserAction_->setEnabled(selected && !context_.serverUrl.isEmpty());
}

void EventTreePane::assignTemplateToSelectedNode() {
    TreeNode* node = selectedNode();
    if (!node)
        return;
    AppState& state = context_.state;
    const ExpandedFolder folder =
        templatesFolder(UiText::AssignDynamicPathCaption, UiText::AssignDynamicPathPrompt);
    const auto copy = context_.commands.node(node);
    if (!copy)
        return;
    const std::string& text = copy->text;

    SelectPageDialog dialog(this);
    dialog.setTexts(uiText(state, UiText::AssignTemplateCaption),
                    uiText(state, UiText::AssignTemplatePrompt), uiText(state, UiText::MessageOk),
                    uiText(state, UiText::MessageCancel));
    QStringList names;
    if (!folder.folder.empty())
        for (const std::string& name : filesIn(folder.folder))
            names << fromPathBytes(name);
    dialog.setNames(names);
    if (const std::size_t separator = text.find(kAssignedSeparator); separator != std::string::npos)
        dialog.preselect(fromPathBytes(text.substr(0, separator)));
    else if (copy->entry)
        dialog.preselect(fromPathBytes(text));
    if (!context_.dialogs.showModal(dialog))
        return;

    const std::string entry = toPathBytes(dialog.entry());
    // The node as it is then: a request may have assigned it meanwhile.
    if (!context_.commands.rewriteNode(node, [&entry](const std::string& now, bool entryNode) {
            return nodeTextForChoice(now, entryNode, entry);
        }))
        return;
    followRequests();
}

void EventTreePane::editTemplateOfSelectedNode() {
    TreeNode* node = selectedNode();
    if (!node)
        return;
    AppState& state = context_.state;
    const ExpandedFolder folder =
        templatesFolder(UiText::DynamicPathCaption, UiText::DynamicPathPrompt);
    const auto copy = context_.commands.node(node);
    if (!copy)
        return;
    std::string file;
    if (copy->entry)
        file = copy->text;
    else if (const std::size_t separator = copy->text.find(kAssignedSeparator);
             separator != std::string::npos)
        file = copy->text.substr(0, separator);
    std::replace(file.begin(), file.end(), '\\', '/');
    const std::string path = folder.folder + "/" + file;
    if (!isRegularFile(path))
        context_.dialogs.message(MessageKind::Error, uiTextWith(state, UiText::TreeFileNotFound,
                                                                absolutePath(fromPathBytes(path))));
    else
        openInEditor(context_, fromPathBytes(path));
}

// The entry template's page for the entry node, the page of its event for any other.
void EventTreePane::openSelectedNodeInBrowser() {
    TreeNode* node = selectedNode();
    if (!node)
        return;
    const auto copy = context_.commands.node(node);
    if (!copy)
        return;
    const std::string event = copy->entry ? std::string() : std::string(eventOfNode(copy->text));
    openInBrowser(context_, eventPageUrl(context_, event));
}

void EventTreePane::deleteSelectedNode() {
    TreeNode* node = selectedNode();
    if (!node)
        return;
    AppState& state = context_.state;
    const auto copy = context_.commands.node(node);
    if (!copy)
        return;
    const QString text = nodeDisplayText(copy->text, copy->entry);
    if (!context_.dialogs.message(MessageKind::Confirmation,
                                  uiTextWith(state, UiText::TreeDeleteEntryQuestion, text)))
        return;
    if (!model_->removeNode(node))
        return;
    emit nodeRemoved();
}

void EventTreePane::expandAllNodes() {
    view_->expandAll();
}

void EventTreePane::collapseAllNodes() {
    view_->collapseAll();
}

} // namespace pelotest::desktop

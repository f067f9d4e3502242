#include "desktop/VariablesPane.h"

#include "desktop/Text.h"
#include "state/VariableSort.h"

#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QTableView>
#include <QVBoxLayout>

// Requests change the variables on their own threads; their queued notifications bring the list
// up to date, and every command finds its variable again by name under the lock when it acts,
// because a request may have moved or removed it while a box was open.

namespace pelotest::desktop {

VariablesPane::VariablesPane(const PaneContext& context, QWidget* parent)
    : QGroupBox(parent), context_(context) {
    setObjectName(QStringLiteral("VariablesPane"));
    model_ = new VariablesModel(context_.state, context_.images, this);
    filter_ = new RowFilter(model_, this);
    filterField_ = filterFieldFor(filter_, "VariablesFilter");
    view_ = reportList("VariablesList");
    view_->setModel(filter_);
    view_->horizontalHeader()->setSectionsClickable(true);
    view_->setColumnWidth(0, context_.host.variableColumnWidth());
    view_->installEventFilter(this);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(filterField_);
    layout->addWidget(view_);

    menu_ = contextMenuOf(view_, "VariablesMenu");
    editAction_ = named(menu_->addAction(QString()), "EditVariable");
    menu_->addSeparator();
    deleteAction_ = named(menu_->addAction(QString()), "DeleteVariable");
    deleteAction_->setShortcut(QKeySequence::Delete);
    // Ctrl+C copies the whole value of the selected row, not the cell's shortened text.
    copyAction_ = named(new QAction(this), "CopyValue");
    copyAction_->setShortcut(QKeySequence::Copy);
    connect(copyAction_, &QAction::triggered, this, &VariablesPane::copySelectedValue);
    enableListKeyboard(view_, {deleteAction_, copyAction_});
    connect(editAction_, &QAction::triggered, this, &VariablesPane::editSelectedVariable);
    connect(deleteAction_, &QAction::triggered, this, &VariablesPane::deleteSelectedVariable);
    connect(view_, &QAbstractItemView::doubleClicked, this, &VariablesPane::editSelectedVariable);
    connect(view_->horizontalHeader(), &QHeaderView::sectionClicked, this,
            &VariablesPane::sortByColumn);
    connect(view_->horizontalHeader(), &QHeaderView::sectionResized, this,
            [this](int section, int, int width) {
                if (section == 0)
                    context_.host.setVariableColumnWidth(width);
            });
    connect(view_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &VariablesPane::rememberSelectedVariable);
}

void VariablesPane::applyTexts() {
    const AppState& state = context_.state;
    setTitle(uiText(state, UiText::TabVariables));
    filterField_->setPlaceholderText(uiText(state, UiText::FilterPlaceholder));
    model_->setHeaders({uiText(state, UiText::ColumnVariable), uiText(state, UiText::ColumnValue)});
    editAction_->setText(uiText(state, UiText::MenuEdit));
    deleteAction_->setText(uiText(state, UiText::MenuDelete));
}

bool VariablesPane::eventFilter(QObject* watched, QEvent* event) {
    if (watched == view_ && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            editSelectedVariable(); // does nothing without a selected row
            return true;
        }
    }
    return QGroupBox::eventFilter(watched, event);
}

void VariablesPane::rememberSelectedVariable() {
    const QModelIndexList rows = view_->selectionModel()->selectedRows();
    context_.commands.markVariablesChanged(); // another row is the selected one
    // The row's name as the list shows it (the model's copy): the table may have changed since
    // the last sync.
    const int row = rows.isEmpty() ? -1 : filter_->mapToSource(rows.front()).row();
    if (row >= 0 && row < model_->rowCount())
        selectedVariable_ = model_->nameAt(row);
    else
        selectedVariable_.reset();
}

void VariablesPane::followRequests() {
    // The list is copied under the lock; the selection follows its variable in that copy, so
    // the lock is not held while the views take the news.
    const std::optional<std::string> wanted = selectedVariable_;
    model_->sync();
    // The heading of the sort column carries the arrow of its direction.
    const VariableSortState sort = context_.commands.variablesSort();
    const int sortColumn = static_cast<int>(sort.column);
    const bool descending = sort.descending;
    QHeaderView* header = view_->horizontalHeader();
    header->setSortIndicatorShown(sortColumn >= 0);
    if (sortColumn >= 0)
        header->setSortIndicator(sortColumn, descending ? Qt::DescendingOrder : Qt::AscendingOrder);
    const int row = wanted ? model_->rowOf(*wanted) : -1;
    // Where the variable stands in the view: a row the filter hides cannot stay selected.
    const QModelIndex index =
        row < 0 ? QModelIndex() : filter_->mapFromSource(model_->index(row, 0));
    QItemSelectionModel* selection = view_->selectionModel();
    const QModelIndexList rows = selection->selectedRows();
    const int shown = rows.isEmpty() ? -1 : rows.front().row();
    if (!index.isValid()) {
        if (shown >= 0)
            selection->clearSelection();
        selectedVariable_.reset();
        return;
    }
    if (shown != index.row()) {
        selection->setCurrentIndex(index,
                                   QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    }
    selectedVariable_ = model_->nameAt(row);
}

void VariablesPane::editSelectedVariable() {
    const std::optional<std::string> name = selectedVariable_;
    if (!name)
        return;
    AppState& state = context_.state;
    const std::optional<std::string> value = context_.commands.variableValue(*name);
    if (!value)
        return;
    const QString shownValue = fromSiteBytes(*value);
    const auto answer = context_.dialogs.input(fromSiteBytes(*name),
                                               uiText(state, UiText::NewValuePrompt), shownValue);
    // Cancelled, or given back unchanged: nothing to store, the bytes stay as they were, and a
    // value that a request set while the box was open stays.
    if (!answer || *answer == shownValue)
        return;
    // Found again by name: requests move rows while the box is open. A variable that a request
    // removed meanwhile comes back with the value typed, at the end of the list.
    context_.commands.setVariable(*name, *answer);
    followRequests();
}

void VariablesPane::copySelectedValue() {
    const std::optional<std::string> name = selectedVariable_;
    if (!name)
        return;
    // A copy: the clipboard may wait for the desktop.
    const std::optional<std::string> value = context_.commands.variableValue(*name);
    if (value)
        QGuiApplication::clipboard()->setText(fromSiteBytes(*value));
}

void VariablesPane::deleteSelectedVariable() {
    const std::optional<std::string> name = selectedVariable_;
    if (!name)
        return;
    context_.commands.removeVariable(*name);
    followRequests();
}

void VariablesPane::autoSortSwitched(bool on) {
    if (on)
        return;
    context_.commands.resetVariableMarks();
    followRequests();
}

void VariablesPane::sortByColumn(int column) {
    // The rows are ordered on a copy while requests go on; the lock is held only to copy the
    // column and to put the rows in their new order.
    sortVariablesOutsideLock(context_.state,
                             column == 0 ? VariableColumn::Name : VariableColumn::Value);
    followRequests();
    if (const QModelIndexList rows = view_->selectionModel()->selectedRows(); !rows.isEmpty())
        view_->scrollTo(rows.front());
}

} // namespace pelotest::desktop

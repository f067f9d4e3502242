#include "desktop/VariablesPane.h"

#include "desktop/Text.h"
#include "state/VariableSort.h"

#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

// Requests change the variables on their own threads; their queued notifications bring the list
// up to date, and every command finds its variable again by name under the lock when it acts,
// because a request may have moved or removed it while a box was open.

namespace pelotest::desktop {

namespace {
// How long the pointer rests over the list before the news of the requests are shown under it.
constexpr int kPointerPause = 1500; // milliseconds
} // namespace

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
    view_->viewport()->installEventFilter(this);
    view_->viewport()->setMouseTracking(true); // the pointer's moves restart the pause
    pauseTimer_ = new QTimer(this);
    pauseTimer_->setSingleShot(true);
    pauseTimer_->setInterval(kPointerPause);
    connect(pauseTimer_, &QTimer::timeout, this, &VariablesPane::releaseHeldRows);
    // Laid over the foot of the list rather than above it: a note that pushed the rows down
    // would move them under the pointer itself. Clicks go through it to the rows.
    holdingNote_ = named(new QLabel(view_), "VariablesHolding");
    holdingNote_->setWordWrap(true);
    holdingNote_->setMargin(4);
    holdingNote_->setAutoFillBackground(true);
    holdingNote_->setBackgroundRole(QPalette::ToolTipBase);
    holdingNote_->setForegroundRole(QPalette::ToolTipText);
    holdingNote_->setAttribute(Qt::WA_TransparentForMouseEvents);
    holdingNote_->hide();
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
    // Ctrl+Z brings the variable deleted last back to its place.
    undoAction_ = named(menu_->addAction(QString()), "UndoDelete");
    undoAction_->setShortcut(QKeySequence::Undo);
    undoAction_->setEnabled(false);
    connect(undoAction_, &QAction::triggered, this, &VariablesPane::undoDelete);
    enableListKeyboard(view_, {deleteAction_, copyAction_, undoAction_});
    connect(editAction_, &QAction::triggered, this, &VariablesPane::editSelectedVariable);
    connect(deleteAction_, &QAction::triggered, this, &VariablesPane::deleteSelectedVariable);
    connect(view_, &QAbstractItemView::doubleClicked, this, &VariablesPane::editVariableAt);
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
    holdingNote_->setText(uiText(state, UiText::VariablesHolding));
    undoAction_->setText(uiText(state, UiText::MenuUndoDelete));
}

bool VariablesPane::eventFilter(QObject* watched, QEvent* event) {
    if (watched == view_ && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            editVariableAt(view_->currentIndex()); // does nothing without a current row
            return true;
        }
    }
    if (watched == view_->viewport()) {
        switch (event->type()) {
        case QEvent::Enter:
        case QEvent::MouseMove:
        case QEvent::MouseButtonPress:
        case QEvent::Wheel:
            // The user is aiming at a row: the rows hold still until the pointer rests.
            pointerInside_ = true;
            pauseTimer_->start();
            break;
        case QEvent::Leave:
            pointerInside_ = false;
            pauseTimer_->stop();
            releaseHeldRows();
            break;
        default:
            break;
        }
    }
    return QGroupBox::eventFilter(watched, event);
}

bool VariablesPane::holdsRows() const {
    return editing_ || (pointerInside_ && pauseTimer_->isActive());
}

void VariablesPane::releaseHeldRows() {
    if (!newsWaiting_ || holdsRows())
        return;
    showRequests();
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
    if (holdsRows()) {
        // A row that moved under the pointer would take the click meant for another.
        newsWaiting_ = true;
        const QRect area = view_->viewport()->geometry();
        const int height = std::min(holdingNote_->heightForWidth(area.width()), area.height());
        holdingNote_->setGeometry(area.left(), area.bottom() + 1 - height, area.width(), height);
        holdingNote_->show();
        holdingNote_->raise();
        return;
    }
    showRequests();
}

void VariablesPane::showRequests() {
    newsWaiting_ = false;
    holdingNote_->hide();
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

void VariablesPane::editVariableAt(const QModelIndex& viewIndex) {
    // The row as the list shows it: the model changes only with the view, so the row's name is
    // the one the user saw there.
    const int row = viewIndex.isValid() ? filter_->mapToSource(viewIndex).row() : -1;
    if (row < 0 || row >= model_->rowCount())
        return;
    selectedVariable_ = model_->nameAt(row);
    editSelectedVariable();
}

void VariablesPane::editSelectedVariable() {
    const std::optional<std::string> name = selectedVariable_;
    if (!name)
        return;
    // The rows hold still while the box is open, and take the news once it is closed.
    editing_ = true;
    struct EditEnds {
        VariablesPane* pane;
        ~EditEnds() {
            pane->editing_ = false;
            pane->releaseHeldRows();
        }
    } editEnds{this};
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
    const QModelIndexList shown = view_->selectionModel()->selectedRows();
    const int shownRow = shown.isEmpty() ? -1 : shown.front().row();
    if (auto removed = context_.commands.removeVariable(*name))
        deleted_ = std::move(removed);
    undoAction_->setEnabled(deleted_.has_value());
    showRequests();
    // The row that took the deleted one's place is selected, so that Delete or Enter go on
    // with it.
    const int rows = filter_->rowCount();
    if (shownRow >= 0 && rows > 0)
        view_->selectionModel()->setCurrentIndex(filter_->index(std::min(shownRow, rows - 1), 0),
                                                 QItemSelectionModel::ClearAndSelect |
                                                     QItemSelectionModel::Rows);
}

void VariablesPane::undoDelete() {
    if (!deleted_)
        return;
    const StateCommands::RemovedVariable restored = std::move(*deleted_);
    deleted_.reset();
    undoAction_->setEnabled(false);
    context_.commands.restoreVariable(restored);
    selectedVariable_ = restored.name;
    showRequests();
}

void VariablesPane::autoSortSwitched(bool on) {
    if (on)
        return;
    context_.commands.resetVariableMarks();
    showRequests();
}

void VariablesPane::sortByColumn(int column) {
    // The rows are ordered on a copy while requests go on; the lock is held only to copy the
    // column and to put the rows in their new order.
    sortVariablesOutsideLock(context_.state,
                             column == 0 ? VariableColumn::Name : VariableColumn::Value);
    showRequests();
    if (const QModelIndexList rows = view_->selectionModel()->selectedRows(); !rows.isEmpty())
        view_->scrollTo(rows.front());
}

} // namespace pelotest::desktop

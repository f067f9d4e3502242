#include "desktop/RequestLogPane.h"

#include "desktop/Text.h"

#include <QAction>
#include <QApplication>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QTableView>
#include <QVBoxLayout>

namespace pelotest::desktop {

RequestLogPane::RequestLogPane(const PaneContext& context, QWidget* parent)
    : QWidget(parent), context_(context) {
    setObjectName(QStringLiteral("LogPane"));
    model_ = new LogModel(context_.state, context_.images, this);
    filter_ = new RowFilter(model_, this);
    filterField_ = filterFieldFor(filter_, "LogFilter");
    view_ = reportList("LogList");
    view_->setModel(filter_);
    view_->setColumnWidth(0, 180);
    view_->setColumnWidth(1, 140);
    // Room for the time of day to the millisecond and a date, in the list's own font.
    view_->setColumnWidth(
        LogModel::kTimeColumn,
        view_->fontMetrics().horizontalAdvance(QStringLiteral("00:00:00.000 0000-00-00")) + 24);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(filterField_);
    layout->addWidget(view_);

    // The time and the query: hidden until the user asks for them in the headings' menu, the
    // time then first.
    QHeaderView* header = view_->horizontalHeader();
    header->moveSection(LogModel::kTimeColumn, 0);
    columnsMenu_ = named(new QMenu(header), "LogColumnsMenu");
    timeColumnAction_ = named(columnsMenu_->addAction(QString()), "ShowTimeColumn");
    queryColumnAction_ = named(columnsMenu_->addAction(QString()), "ShowQueryColumn");
    for (const auto& [action, column] : {std::pair{timeColumnAction_, LogModel::kTimeColumn},
                                         std::pair{queryColumnAction_, LogModel::kQueryColumn}}) {
        view_->setColumnHidden(column, true);
        action->setCheckable(true);
        connect(action, &QAction::toggled, this, [this, hidden = column](bool shown) {
            view_->setColumnHidden(hidden, !shown);
            context_.commands.changeSettings([hidden, shown](Settings& s) {
                (hidden == LogModel::kTimeColumn ? s.logTimeColumn : s.logQueryColumn) = shown;
            });
        });
    }
    header->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(header, &QWidget::customContextMenuRequested, columnsMenu_,
            [this, header](const QPoint& at) { columnsMenu_->popup(header->mapToGlobal(at)); });

    menu_ = contextMenuOf(view_, "LogMenu");
    editAction_ = named(menu_->addAction(QString()), "EditLoggedFile");
    propertiesAction_ = named(menu_->addAction(QString()), "LoggedFileProperties");
    browserAction_ = named(menu_->addAction(QString()), "OpenLogInBrowser");
    menu_->addSeparator();
    clearAction_ = named(menu_->addAction(QString()), "ClearLog");
    connect(menu_, &QMenu::aboutToShow, this, &RequestLogPane::enableMenuForSelection);
    connect(editAction_, &QAction::triggered, this, &RequestLogPane::editLoggedFile);
    connect(propertiesAction_, &QAction::triggered, this,
            &RequestLogPane::showLoggedFileProperties);
    connect(browserAction_, &QAction::triggered, this, &RequestLogPane::openLoggedPageInBrowser);
    connect(clearAction_, &QAction::triggered, this, &RequestLogPane::clearLog);
    enableListKeyboard(view_, {});
    connect(view_, &QAbstractItemView::doubleClicked, this, &RequestLogPane::openLoggedEntry);
    for (auto* model : {static_cast<QAbstractItemModel*>(filter_)}) {
        connect(model, &QAbstractItemModel::rowsInserted, this, &RequestLogPane::countRows);
        connect(model, &QAbstractItemModel::rowsRemoved, this, &RequestLogPane::countRows);
        connect(model, &QAbstractItemModel::modelReset, this, &RequestLogPane::countRows);
        connect(model, &QAbstractItemModel::layoutChanged, this, &RequestLogPane::countRows);
    }
    connect(view_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { context_.commands.markLogChanged(); });
}

void RequestLogPane::showStoredColumns() {
    const Settings settings = context_.commands.settings();
    // The actions' signals store the choice again.
    timeColumnAction_->setChecked(settings.logTimeColumn);
    queryColumnAction_->setChecked(settings.logQueryColumn);
}

void RequestLogPane::applyTexts() {
    const AppState& state = context_.state;
    model_->setHeaders({uiText(state, UiText::ColumnFile), uiText(state, UiText::ColumnEvent),
                        uiText(state, UiText::ColumnTitle), uiText(state, UiText::ColumnTime),
                        uiText(state, UiText::ColumnQuery)});
    filterField_->setPlaceholderText(uiText(state, UiText::FilterPlaceholder));
    timeColumnAction_->setText(uiText(state, UiText::ColumnTime));
    queryColumnAction_->setText(uiText(state, UiText::ColumnQuery));
    editAction_->setText(uiText(state, UiText::MenuEdit));
    propertiesAction_->setText(uiText(state, UiText::MenuProperties));
    browserAction_->setText(uiText(state, UiText::MenuOpenInBrowser));
    clearAction_->setText(uiText(state, UiText::MenuClearLog));
}

void RequestLogPane::followRequests() {
    model_->sync();
    countRows();
}

void RequestLogPane::countRows() {
    emit rowCountChanged(filter_->rowCount(), model_->rowCount());
}

std::optional<LogEntry> RequestLogPane::selectedEntry() {
    // Rows a request added since the last notification are announced first, so that the
    // selection stands on the entry the user chose.
    model_->sync();
    const QModelIndexList rows = view_->selectionModel()->selectedRows();
    if (rows.isEmpty())
        return std::nullopt;
    return model_->entryAt(filter_->mapToSource(rows.front()).row());
}

QUrl RequestLogPane::pageOf(const LogEntry& entry) const {
    // The rows of the pages that assign a template or set the start page: asking for them again
    // would change the settings once more, so their result is opened instead.
    if (entry.kind == LogKind::Assigned)
        return eventPageUrl(context_, entry.event);
    if (entry.kind == LogKind::StartSite)
        return serverPageUrl(context_, "/", {});
    if (!entry.document.empty())
        return serverPageUrl(context_, entry.document, entry.query);
    if (!entry.event.empty())
        return eventPageUrl(context_, entry.event);
    return {};
}

void RequestLogPane::enableMenuForSelection() {
    const std::optional<LogEntry> entry = selectedEntry();
    editAction_->setEnabled(entry && isRegularFile(entry->filePath));
    propertiesAction_->setEnabled(entry.has_value());
    browserAction_->setEnabled(entry && pageOf(*entry).isValid());
    clearAction_->setEnabled(true);
}

void RequestLogPane::editLoggedFile() {
    if (const std::optional<LogEntry> entry = selectedEntry())
        openInEditor(context_, fromPathBytes(entry->filePath));
}

void RequestLogPane::showLoggedFileProperties() {
    const std::optional<LogEntry> entry = selectedEntry();
    if (!entry)
        return;
    const AppState& state = context_.state;
    const QString path = fromPathBytes(entry->filePath);
    if (isRegularFile(entry->filePath)) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        FilePropertiesDialog dialog(
            path, [&state](UiText id) { return uiText(state, id); }, this);
        QApplication::restoreOverrideCursor();
        context_.dialogs.showModal(dialog);
    } else if (!entry->filePath.empty()) {
        context_.dialogs.message(MessageKind::Warning,
                                 uiTextWith(state, UiText::LogFileNotFound, absolutePath(path)));
    } else {
        context_.dialogs.message(
            MessageKind::Information,
            uiTextWith(state, UiText::LogEventWithoutTemplate, fromSiteBytes(entry->event)));
    }
}

void RequestLogPane::openLoggedPageInBrowser() {
    if (const std::optional<LogEntry> entry = selectedEntry())
        openInBrowser(context_, pageOf(*entry));
}

void RequestLogPane::openLoggedEntry() {
    const std::optional<LogEntry> entry = selectedEntry();
    if (!entry)
        return;
    if (isRegularFile(entry->filePath))
        editLoggedFile();
    else
        showLoggedFileProperties();
}

void RequestLogPane::clearLog() {
    if (!context_.dialogs.message(MessageKind::Confirmation,
                                  withLineBreaks(uiText(context_.state, UiText::ClearLogQuestion))))
        return;
    context_.commands.clearLog();
    model_->sync();
}

} // namespace pelotest::desktop

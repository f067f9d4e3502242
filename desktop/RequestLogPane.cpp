#include "desktop/RequestLogPane.h"

#include "desktop/Text.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QTableView>
#include <QVBoxLayout>

namespace pelotest::desktop {

RequestLogPane::RequestLogPane(const PaneContext& context, QWidget* parent)
    : QWidget(parent), context_(context) {
    setObjectName(QStringLiteral("TabSheet2"));
    model_ = new LogModel(context_.state, context_.images, this);
    view_ = reportList("ListView2");
    view_->setModel(model_);
    view_->setColumnWidth(0, 180);
    view_->setColumnWidth(1, 140);
    (new QVBoxLayout(this))->addWidget(view_);

    menu_ = contextMenuOf(view_, "PopupMenu3");
    editAction_ = named(menu_->addAction(QString()), "Bearbeiten3");
    propertiesAction_ = named(menu_->addAction(QString()), "Eigenschaften1");
    menu_->addSeparator();
    clearAction_ = named(menu_->addAction(QString()), "Lschen3");
    connect(menu_, &QMenu::aboutToShow, this, &RequestLogPane::enableMenuForSelection);
    connect(editAction_, &QAction::triggered, this, &RequestLogPane::editLoggedFile);
    connect(propertiesAction_, &QAction::triggered, this,
            &RequestLogPane::showLoggedFileProperties);
    connect(clearAction_, &QAction::triggered, this, &RequestLogPane::clearLog);
    enableListKeyboard(view_, {});
    connect(view_, &QAbstractItemView::doubleClicked, this, &RequestLogPane::openLoggedEntry);
    connect(view_->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        const StateLock lock(context_.state.mutex);
        context_.state.logChanged = true;
    });
}

void RequestLogPane::applyTexts() {
    const AppState& state = context_.state;
    model_->setHeaders({uiText(state, UiText::ColumnFile), uiText(state, UiText::ColumnEvent),
                        uiText(state, UiText::ColumnTitle)});
    editAction_->setText(uiText(state, UiText::MenuEdit));
    propertiesAction_->setText(uiText(state, UiText::MenuProperties));
    clearAction_->setText(uiText(state, UiText::MenuClearLog));
}

void RequestLogPane::followRequests() {
    model_->sync();
}

std::optional<LogEntry> RequestLogPane::selectedEntry() {
    // Rows a request added since the last notification are announced first, so that the
    // selection stands on the entry the user chose.
    model_->sync();
    const QModelIndexList rows = view_->selectionModel()->selectedRows();
    if (rows.isEmpty())
        return std::nullopt;
    return model_->entryAt(rows.front().row());
}

void RequestLogPane::enableMenuForSelection() {
    const std::optional<LogEntry> entry = selectedEntry();
    editAction_->setEnabled(entry && isRegularFile(entry->filePath));
    propertiesAction_->setEnabled(entry.has_value());
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
    {
        const StateLock lock(context_.state.mutex);
        context_.state.log.clear();
        context_.state.logChanged = true;
    }
    model_->sync();
}

} // namespace pelotest::desktop

#pragma once
// The log tab: the requests served, newest first; its menu and a double click open the file of
// the selected row in the editor or show its properties, the menu opens the row's page in the
// browser and clears the log. A field above it filters its rows; the time and the query of each
// request are columns the menu of the headings shows (hidden until shown once; remembered).

#include "desktop/PaneSupport.h"

#include <QWidget>

#include <optional>

class QAction;
class QLineEdit;
class QMenu;
class QTableView;

namespace pelotest::desktop {

class RequestLogPane : public QWidget {
    Q_OBJECT

  public:
    explicit RequestLogPane(const PaneContext& context, QWidget* parent = nullptr);

    void applyTexts();
    // Shows the time and query columns that the settings file says were shown last time.
    void showStoredColumns();
    // Shows the rows that requests added or the limit took away since the last call.
    void followRequests();

    // The commands, on the selected row.
    void enableMenuForSelection();
    void editLoggedFile();
    void showLoggedFileProperties();
    void openLoggedPageInBrowser();
    // A double click: the file in the editor when it is there, else what is known of the row.
    void openLoggedEntry();
    void clearLog();

  signals:
    // The rows the log shows (through the filter) and holds changed.
    void rowCountChanged(int shown, int total);

  private:
    void countRows();

    std::optional<LogEntry> selectedEntry();
    // The page of entry on the running server: the request as it was made, or for a row loaded
    // from the settings file (which keeps no request) the template page of its event; for an
    // assignment the event's page, for a start page set the site's root.
    QUrl pageOf(const LogEntry& entry) const;

    PaneContext context_;
    LogModel* model_ = nullptr;
    // The view shows model_'s rows through the filter: view rows map to model rows through it.
    RowFilter* filter_ = nullptr;
    QLineEdit* filterField_ = nullptr;
    QTableView* view_ = nullptr;
    QMenu* menu_ = nullptr;
    QMenu* columnsMenu_ = nullptr;
    QAction* timeColumnAction_ = nullptr;
    QAction* queryColumnAction_ = nullptr;
    QAction* editAction_ = nullptr;
    QAction* propertiesAction_ = nullptr;
    QAction* browserAction_ = nullptr;
    QAction* clearAction_ = nullptr;
};

} // namespace pelotest::desktop

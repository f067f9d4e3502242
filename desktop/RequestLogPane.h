#pragma once
// The log tab: the requests served, newest first; its menu and a double click open the file of
// the selected row in the editor or show its properties, and the menu clears the log.

#include "desktop/PaneSupport.h"

#include <QWidget>

#include <optional>

class QAction;
class QMenu;
class QTableView;

namespace pelotest::desktop {

class RequestLogPane : public QWidget {
    Q_OBJECT

  public:
    explicit RequestLogPane(const PaneContext& context, QWidget* parent = nullptr);

    void applyTexts();
    // Shows the rows that requests added or the limit took away since the last call.
    void followRequests();

    // The commands, on the selected row.
    void enableMenuForSelection();
    void editLoggedFile();
    void showLoggedFileProperties();
    // A double click: the file in the editor when it is there, else what is known of the row.
    void openLoggedEntry();
    void clearLog();

  private:
    std::optional<LogEntry> selectedEntry();

    PaneContext context_;
    LogModel* model_ = nullptr;
    QTableView* view_ = nullptr;
    QMenu* menu_ = nullptr;
    QAction* editAction_ = nullptr;
    QAction* propertiesAction_ = nullptr;
    QAction* clearAction_ = nullptr;
};

} // namespace pelotest::desktop

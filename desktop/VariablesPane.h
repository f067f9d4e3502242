#pragma once
// The variables list of the general tab: the variables the requests set, with their marks; its
// menu, a double click and Enter edit the selected variable, the menu deletes it, and a click on
// a column's header sorts by that column. A field above it filters its rows.

#include "desktop/PaneSupport.h"

#include <QGroupBox>

#include <optional>
#include <string>

class QAction;
class QLabel;
class QModelIndex;
class QTimer;
class QLineEdit;
class QMenu;
class QTableView;

namespace pelotest::desktop {

class VariablesPane : public QGroupBox {
    Q_OBJECT

  public:
    explicit VariablesPane(const PaneContext& context, QWidget* parent = nullptr);

    void applyTexts();
    // Brings the list up to the table and keeps the selection on its variable, wherever the
    // rows went; a variable that is gone leaves no row selected. While the pointer is over the
    // list or a value is being edited, the rows hold still and the news wait (see holdsRows).
    void followRequests();
    // Whether the list holds its rows now: the pointer is over it and has moved within the last
    // pause, or a value is being edited.
    bool holdsRows() const;

    // The commands, on the selected row.
    void editSelectedVariable();
    void deleteSelectedVariable();
    void copySelectedValue();
    // Puts the variable deleted last back where it stood (Ctrl+Z).
    void undoDelete();
    void sortByColumn(int column);
    // The auto-sort switch was clicked. Off: no row keeps a mark. On: nothing changes until the
    // next request.
    void autoSortSwitched(bool on);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void rememberSelectedVariable();
    // The news of the requests, taken now whatever the pointer does.
    void showRequests();
    void releaseHeldRows();
    // Edits the variable of a row of the view (the one clicked, or the current one for Enter).
    void editVariableAt(const QModelIndex& viewIndex);

    PaneContext context_;
    VariablesModel* model_ = nullptr;
    // The view shows model_'s rows through the filter: view rows map to model rows through it.
    RowFilter* filter_ = nullptr;
    QLineEdit* filterField_ = nullptr;
    QTableView* view_ = nullptr;
    QMenu* menu_ = nullptr;
    QAction* editAction_ = nullptr;
    QAction* deleteAction_ = nullptr;
    QAction* copyAction_ = nullptr;
    QAction* undoAction_ = nullptr;
    std::optional<StateCommands::RemovedVariable> deleted_;
    // The variable of the selected row, by name: requests move and remove rows.
    std::optional<std::string> selectedVariable_;
    // Rows held still: the pointer is inside the list, a value is being edited, news wait.
    bool pointerInside_ = false;
    bool editing_ = false;
    bool newsWaiting_ = false;
    // Runs while the pointer moves over the list; when it ends (the pointer rested), the news
    // that waited are shown.
    QTimer* pauseTimer_ = nullptr;
    QLabel* holdingNote_ = nullptr;
};

} // namespace pelotest::desktop

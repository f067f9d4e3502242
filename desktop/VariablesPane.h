#pragma once
// The variables list of the general tab: the variables the requests set, with their marks; its
// menu, a double click and Enter edit the selected variable, the menu deletes it, and a click on
// a column's header sorts by that column. A field above it filters its rows.

#include "desktop/PaneSupport.h"

#include <QGroupBox>

#include <optional>
#include <string>

class QAction;
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
    // rows went; a variable that is gone leaves no row selected.
    void followRequests();

    // The commands, on the selected row.
    void editSelectedVariable();
    void deleteSelectedVariable();
    void copySelectedValue();
    void sortByColumn(int column);
    // The auto-sort switch was clicked. Off: no row keeps a mark. On: nothing changes until the
    // next request.
    void autoSortSwitched(bool on);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void rememberSelectedVariable();

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
    // The variable of the selected row, by name: requests move and remove rows.
    std::optional<std::string> selectedVariable_;
};

} // namespace pelotest::desktop

#pragma once
// What the panes of the main window share: the window's parts they work with, and the small
// builders and file questions more than one pane needs.

#include "desktop/Dialogs.h"
#include "desktop/FileDialogs.h"
#include "desktop/Pictures.h"
#include "desktop/QtHost.h"
#include "desktop/StateCommands.h"
#include "desktop/StateModels.h"
#include "state/AppState.h"

#include <QRegularExpression>
#include <QSortFilterProxyModel>
#include <QString>
#include <QUrl>

#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class QAbstractItemView;
class QLineEdit;
class QMenu;
class QAction;
class QTableView;
class QWidget;

namespace pelotest::desktop {

// The window's parts every pane works with; the window owns them and outlives its panes.
struct PaneContext {
    // Read by the panes' models and the texts; copied and changed through commands.
    AppState& state;
    StateCommands& commands;
    Dialogs& dialogs;
    FileOpener& opener;
    QtHost& host;
    const ImageList& images;
    // The running server's address ("http://localhost:8080/"); empty while it is stopped.
    const QString& serverUrl;
};

// A control that shows a picture only (a tool button, the "?") is named for screen readers by
// its tip, now and whenever the tip changes (start and stop share a button).
void nameByToolTip(QWidget* control);

// Gives each label (with a buddy) and button of controls an Alt+letter key: the first letter of
// its text that no control before it took. Run once on texts just set (another language).
void assignMnemonics(std::initializer_list<QWidget*> controls);

// Names a widget as the tests and style sheets look for it.
template <class T>
T* named(T* widget, const char* name) {
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

// A list of rows with columns: grid lines, whole rows selected one at a time, no editing in
// place, rows of one height (so that 100,000 of them lay out at once).
QTableView* reportList(const char* name);

// A context menu of view's own, named name, that opens where the view is right-clicked; the
// caller adds its actions.
QMenu* contextMenuOf(QAbstractItemView* view, const char* name);
// The keyboard of a list: Tab enters and leaves it (the arrows move inside), Shift+F10 and the
// menu key open its context menu at the current row, and each action given answers its own
// shortcut while the list has the focus (Delete, Ctrl+C), as the menu's entry does.
void enableListKeyboard(QAbstractItemView* view, std::initializer_list<QAction*> actions);

// The rows of a list that hold a text (ignoring case) in any column, in the list's order. With
// no text every row passes as it is, and nothing is read again when rows change, so that a
// long list costs no more than without the filter.
class RowFilter : public QSortFilterProxyModel {
  public:
    RowFilter(StateTableModel* source, QObject* parent);
    void setText(const QString& text);

  protected:
    bool filterAcceptsRow(int row, const QModelIndex& parent) const override;

  private:
    StateTableModel* source_;
    // The text, and the text as bytes while it is ASCII alone: the rows that are too are matched
    // on their bytes, without a shown text built per row and column (a key press over 100,000
    // rows). The others are matched on their shown texts.
    QString text_;
    QRegularExpression pattern_;
    std::optional<std::string> asciiText_;
};

// The filter field above a list: typing filters its rows; the placeholder is set by the pane.
QLineEdit* filterFieldFor(RowFilter* filter, const char* name);

// The address of a page of the running server (invalid while it is stopped): document is the
// path as the server decodes it, query as sent.
QUrl serverPageUrl(const PaneContext& context, std::string_view document, std::string_view query);
// The template page that answers event, with the event parameter (the entry template's page
// for an empty event). Reads the settings under the lock.
QUrl eventPageUrl(const PaneContext& context, std::string_view event) EXCLUDES(context.state.mutex);
// Hands url to the desktop's browser; an invalid one (server stopped) does nothing.
void openInBrowser(const PaneContext& context, const QUrl& url);

// The names of the files in a folder (every entry that is not a folder), in the order of a
// listing: case ignored, as the file browser lists them.
std::vector<std::string> filesIn(const std::string& folder);

bool isRegularFile(const std::string& path);

// Opens the file in the desktop's editor for its type; says so in a message box when the desktop
// cannot (no program for the type), instead of leaving the user's click without an answer.
void openInEditor(const PaneContext& context, const QString& path);

} // namespace pelotest::desktop

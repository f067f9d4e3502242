#pragma once
// What the panes of the main window share: the window's parts they work with, and the small
// builders and file questions more than one pane needs.

#include "desktop/Dialogs.h"
#include "desktop/FileDialogs.h"
#include "desktop/Pictures.h"
#include "desktop/QtHost.h"
#include "desktop/StateModels.h"
#include "state/AppState.h"

#include <QString>

#include <initializer_list>
#include <string>
#include <vector>

class QAbstractItemView;
class QMenu;
class QAction;
class QTableView;

namespace pelotest::desktop {

// The window's parts every pane works with; the window owns them and outlives its panes.
struct PaneContext {
    // Locked with StateLock, once, by the outermost command or slot that touches it.
    AppState& state;
    Dialogs& dialogs;
    FileOpener& opener;
    QtHost& host;
    const ImageList& images;
};

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

// The names of the files in a folder (every entry that is not a folder), in the order of a
// listing: case ignored, as the file browser lists them.
std::vector<std::string> filesIn(const std::string& folder);

bool isRegularFile(const std::string& path);

// Opens the file in the desktop's editor for its type; says so in a message box when the desktop
// cannot (no program for the type), instead of leaving the user's click without an answer.
void openInEditor(const PaneContext& context, const QString& path);

} // namespace pelotest::desktop

#pragma once
// The one shared state object: settings, tree, variables, log and change flags, guarded by one
// mutex. Connection threads hold the lock while they read or change state, never while they
// send a file. Clang checks at compile time that every guarded member is touched with the lock
// held (state/Locking.h).

#include "state/EventTree.h"
#include "state/Locking.h"
#include "state/ProfileFile.h"
#include "state/RequestLog.h"
#include "state/Settings.h"
#include "state/VariableSort.h"
#include "state/VariableTable.h"

#include <filesystem>
#include <vector>

namespace pelotest {

struct AppState {
    mutable StateMutex mutex;

    Settings settings GUARDED_BY(mutex);
    EventTree tree GUARDED_BY(mutex);
    VariableTable variables GUARDED_BY(mutex);
    RequestLog log GUARDED_BY(mutex);
    // Sort column and direction of the variables list (desktop list and variables page).
    VariableSortState variablesSort GUARDED_BY(mutex);

    bool treeChanged GUARDED_BY(mutex) = false;
    bool variablesChanged GUARDED_BY(mutex) = false;
    bool logChanged GUARDED_BY(mutex) = false;

    // The settings file's content as loaded (written only by loadState's repairs and by
    // saveState).
    ProfileFile profile GUARDED_BY(mutex);

    // Set before the server starts and only read afterwards, so read without the lock: the
    // settings file's path, and the folders searched for language libraries, in order.
    std::filesystem::path settingsPath;
    std::vector<std::filesystem::path> languageFolders;
    // Live reload for this run whatever the key LiveReload says (--live-reload); never saved.
    bool liveReloadForRun = false;
};

} // namespace pelotest

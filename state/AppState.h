#pragma once
// The one shared state object: settings, tree, variables, log and change flags, guarded by one
// mutex. Connection threads hold the lock while they read or change state, never while they
// send a file.

#include "state/EventTree.h"
#include "state/ProfileFile.h"
#include "state/RequestLog.h"
#include "state/Settings.h"
#include "state/VariableSort.h"
#include "state/VariableTable.h"

#include <filesystem>
#include <mutex>
#include <vector>

namespace pelotest {

struct AppState {
    mutable std::timed_mutex mutex;

    Settings settings;
    EventTree tree;
    VariableTable variables;
    RequestLog log;
    // Sort column and direction of the variables list (desktop list and variables page).
    VariableSortState variablesSort;

    bool TreeChanged = false;
    bool VariablesChanged = false;
    bool LogChanged = false;

    // The settings file: its path and its content as loaded (written only by loadState's repairs
    // and by saveState).
    std::filesystem::path settingsPath;
    ProfileFile profile;

    // Folders searched for language libraries, in order (set at start, read-only afterwards).
    std::vector<std::filesystem::path> languageFolders;
};

} // namespace pelotest

#pragma once
// Loading the state from the settings file at start and writing it back at exit.

#include "state/AppState.h"
#include "state/Host.h"

#include <functional>
#include <string>
#include <string_view>

namespace pelotest {

// UI text lookup by id (status texts, dialog captions); supplied by the caller so that state/
// does not depend on language/.
using TextLookup = std::function<std::string(int id)>;

// LoadState: reads settingsPath into state (holding state.mutex is the caller's business: it
// runs before the server starts). Returns the tree error text, if any ("" when none).
std::string loadState(AppState& state, Host& host, const TextLookup& text);
// SaveState: writes settings always, variables/tree/log when changed; atomically.
// Returns false when the file could not be written.
bool saveState(AppState& state, Host& host, const TextLookup& text);

// Tree section format (keys Node0.., '#' per level).
std::string readTreeSection(AppState& state, std::string_view section, bool expandRoot);
void writeTreeSection(AppState& state, std::string_view section);

// Log row persisted form: "Kind;FileName;Event;Title;FilePath".
std::string formatLogLine(const LogEntry& entry);
LogEntry parseLogLine(std::string_view value);

struct ExpandedFolder {
    std::string folder;
    bool found = false;
};
// ExpandFolderVariables: asks through host.askValue when askUser is set.
ExpandedFolder expandFolderVariables(AppState& state, Host& host, const TextLookup& text,
                                     std::string_view folder, bool askUser);

} // namespace pelotest

#pragma once
// Loading the state from the settings file at start and writing it back at exit.
// The stored format, its escapes and its limits are described in docs/settings-file.md.

#include "state/AppState.h"
#include "state/Host.h"
#include "state/UiTextNames.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace pelotest {

// UI text lookup by name (status texts, dialog captions); supplied by the caller so that state/
// does not depend on language/.
using TextLookup = std::function<std::string(UiText id)>;

// What the program may do with an existing settings file, found once at start, before loading.
// Unusable: it exists but cannot be read, or is no regular file (a link, a folder, a FIFO, a
// device): the program stops and never writes it. ReadOnly: a regular file that this user may
// not change (no write permission, or none in its mode at all, as root would otherwise ignore
// it; or its folder is read-only): used, and left as it is. A missing file is ReadWrite.
// Opens without waiting, so a FIFO does not hold the start.
enum class SettingsAccess { ReadWrite, ReadOnly, Unusable };
struct SettingsFileCheck {
    SettingsAccess access = SettingsAccess::ReadWrite;
    std::string reason; // why it is ReadOnly or Unusable
};
SettingsFileCheck checkSettingsFile(const std::filesystem::path& path);

// Reads settingsPath into state. The file is read and parsed with the state lock free, and what
// was read takes the state's place in one short locked step; so the caller must not hold
// state.mutex. Returns the tree error text, if any ("" when none): the nodes read before the bad
// line stay, everything after the tree still loads. The host's status texts are shown without
// the lock, its placement and change notifications come with it held.
// languageStartUp, when given, runs with the lock held, right after LanguageDll is read and
// before any status text is looked up (it may drop a LanguageDll that is not installed).
std::string loadState(AppState& state, ProgramHost& host, const TextLookup& text,
                      const std::function<void(AppState&)>& languageStartUp = {})
    EXCLUDES(state.mutex);
// Writes settings always, variables/tree/log when changed; atomically, as one write
// of the whole file, merged into the file as it is on disk now (so hand edits made while the
// program ran survive). The caller holds state.mutex, after the server has stopped taking
// requests (so none changes the state halfway through the save).
// Returns false when the file could not be written (the old file is then intact and the change
// flags stay set), with the reason in *failure when given. Stopping the server for good is the
// caller's next step.
// With state.settingsReadOnly nothing is written and the answer is true. A file that exists
// but can no longer be read is not written either (false, with the reason).
bool saveState(AppState& state, ProgramHost& host, const TextLookup& text,
               std::string* failure = nullptr) REQUIRES(state.mutex);

// saveState in steps, for a program whose requests go on while it saves: the file is read and
// written without the state lock, and only composed under it.
// The settings file as it is on disk now (nullopt when it has gone missing); false, with the
// reason, when it exists but can no longer be read (it is then left as it is).
bool readFileForSave(const std::filesystem::path& path, std::optional<ProfileFile>& onDisk,
                     std::string* failure = nullptr);
struct SaveSnapshot {
    ProfileFile file; // what to write
    // The change flags it includes (cleared in the state by composeSave).
    bool variablesChanged = false;
    bool treeChanged = false;
    bool logChanged = false;
};
// The whole file as a save writes it, from onDisk and the state; the change flags go with it.
SaveSnapshot composeSave(AppState& state, std::optional<ProfileFile> onDisk,
                         const WindowPlacement& placement) REQUIRES(state.mutex);
// The snapshot could not be written: its changes are unsaved again.
void keepUnsaved(AppState& state, const SaveSnapshot& snapshot) REQUIRES(state.mutex);

// Writes one key into the settings file at path as it is on disk now (a remembered folder, say),
// escaped as every value of the file is, unless the file cannot be read. Reads and writes the
// file: call it without the state lock (and not for a read-only file). False when nothing was
// written.
bool writeSettingsKey(const std::filesystem::path& path, std::string_view section,
                      std::string_view key, std::string_view value);

// Tree section format (keys Node0.., '#' per level).
std::string readTreeSection(const ProfileFile& profile, EventTree& tree, std::string_view section,
                            bool expandRoot);
std::string readTreeSection(AppState& state, std::string_view section, bool expandRoot)
    REQUIRES(state.mutex);
void writeTreeSection(AppState& state, std::string_view section) REQUIRES(state.mutex);

// Log row persisted form: "Kind;FileName;Event;Title;FilePath".
std::string formatLogLine(const LogEntry& entry);
LogEntry parseLogLine(std::string_view value);

struct ExpandedFolder {
    std::string folder;
    bool found = false;
};
// ExpandFolderVariables: asks through host.askValue when askUser is set, with the caption and
// prompt UI texts given (DynamicPath* for the folder itself, AssignDynamicPath* in the assignment
// dialog). Does not
// lock state.mutex (the question may stay open for a while; the caller decides).
ExpandedFolder expandFolderVariables(AppState& state, ProgramHost& host, const TextLookup& text,
                                     std::string_view folder, bool askUser,
                                     UiText captionId = UiText::DynamicPathCaption,
                                     UiText promptId = UiText::DynamicPathPrompt)
    REQUIRES(state.mutex);

// The integer rule of the settings file: the whole value is a decimal integer (optional sign)
// in the range of int, else nullopt.
std::optional<int> parseSettingsInteger(std::string_view value);

} // namespace pelotest

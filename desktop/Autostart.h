#pragma once
// "Start with my desktop session": an XDG autostart entry ($XDG_CONFIG_HOME/autostart, else
// ~/.config/autostart) that the session runs at login. It starts the program hidden in the
// notification area with the server running (--tray), named and pictured as the installed
// desktop entry is, so that the session's list of start-up programs shows it as PeloTest.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace pelotest::desktop {

// Where the session looks for this program's entry.
std::filesystem::path autostartEntryPath();

// Whether the entry is there (whatever wrote it: the box shows what the session will do).
bool autostartEntryExists();

// The entry's text: command is the program and the arguments it is started with (--tray is
// added), each quoted as desktop entries require. nullopt when an argument holds a line break
// or another control character, which no Exec line can carry.
std::optional<std::string> autostartEntryText(const std::vector<std::string>& command);

// Writes the entry as a whole (the folder made when missing; a link or anything but a regular
// file at its name is refused, never followed), or removes it. The reason of a failure, nullopt
// on success; removing an entry that is not there succeeds.
std::optional<std::string> writeAutostartEntry(const std::vector<std::string>& command);
std::optional<std::string> removeAutostartEntry();

} // namespace pelotest::desktop

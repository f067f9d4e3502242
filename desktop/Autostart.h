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

// The folder whose autostart folder the session reads: an absolute $XDG_CONFIG_HOME, else an
// absolute $HOME's .config; nullopt when neither is set to an absolute path (a relative one
// would put the entry below whatever folder the program was started in).
std::optional<std::filesystem::path> autostartConfigFolder();

// Whether the entry is there (whatever wrote it: the box shows what the session will do); an
// autostart folder that is a link does not count.
bool autostartEntryExists();

// The entry's text: command is the program and the arguments it is started with (--tray is
// added), each quoted as desktop entries require. nullopt when an argument holds a line break
// or another control character, which no Exec line can carry.
std::optional<std::string> autostartEntryText(const std::vector<std::string>& command);

// Writes the entry as a whole (the folders made when missing; an autostart folder that is a
// link, and a link or anything but a regular file at the entry's name, is refused, never
// followed), or removes it. The reason of a failure, nullopt on success; removing an entry that
// is not there succeeds.
std::optional<std::string> writeAutostartEntry(const std::vector<std::string>& command);
std::optional<std::string> removeAutostartEntry();

} // namespace pelotest::desktop

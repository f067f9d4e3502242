#pragma once
// Where the program and its user's files are: the running executable, whether a folder takes
// new files, and the user's own folders for settings and data.

#include <filesystem>

namespace pelotest {

// The running executable's path (links resolved); empty when the system does not tell.
std::filesystem::path runningExecutable();

// Whether this user may create files in folder.
bool folderIsWritable(const std::filesystem::path& folder);

// The user's folder for this program's settings ($XDG_CONFIG_HOME/pelotest, else
// ~/.config/pelotest; on Windows %APPDATA%\PeloTest) and for its data ($XDG_DATA_HOME/pelotest,
// else ~/.local/share/pelotest; on Windows %APPDATA%\PeloTest). Neither is created here.
std::filesystem::path userSettingsFolder();
std::filesystem::path userDataFolder();

// The name of the settings file beside an executable: "pelotest.ini" on Linux; on Windows the
// executable's base name with ".ini", as the program has always looked for it there.
std::filesystem::path settingsFileNameBeside(const std::filesystem::path& executable);

} // namespace pelotest

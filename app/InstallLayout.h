#pragma once
// Where the program finds its files: its own folder, the settings file and the language
// libraries, for a program run from its build or unpacked folder and for an installed one.

#include "app/CommandLine.h"

#include <filesystem>
#include <vector>

namespace pelotest {

// The folder of the pelotest executable. The window program reports the folder of the pelotest
// that started it when it lies in the installed tree's program folder, so that both find the
// same settings file and languages.
std::filesystem::path executableFolder();

// Whether the executable in this folder is an installed program's, which keeps nothing beside it.
bool isInstalled(const std::filesystem::path& exeFolder);

// The settings file of this run: --settings, else the default one (see defaultSettingsPath).
std::filesystem::path settingsPathOf(const Options& options,
                                     const std::filesystem::path& exeFolder);

// Where language libraries are looked for, in order: beside the executable (not for an installed
// program), the user's data folder, and for an installed program the package's data folder
// (share/pelotest/languages of its prefix). Downloads go to the first writable of the first two.
std::vector<std::filesystem::path> languageFolders(const std::filesystem::path& exeFolder);

// Where an installed Linux tree keeps the window program, relative to the folder of pelotest.
inline constexpr std::string_view kInstalledWindowFolder = "../libexec/pelotest";

} // namespace pelotest

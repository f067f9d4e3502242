#pragma once
// The program's command line: what to run (window, headless server, translator tools) and the
// values that apply to this run only.

#include "state/Settings.h"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace pelotest {

struct Options {
    bool headless = false;
    bool help = false;
    bool version = false;
    bool listLanguages = false;
    // Open the start page in the default browser once the server listens.
    bool openBrowser = false;
    // The window starts hidden in the notification area with the server running (the desktop
    // session's autostart entry starts it so).
    bool tray = false;
    std::optional<std::filesystem::path> exportFolder;
    std::optional<std::string> language;
    std::optional<std::filesystem::path> settings;
    RunOverrides overrides;
};

// The text of --help: every option on one line.
extern const std::string_view kUsage;

// The options of argv, or the one line that says what is wrong with them (without the program's
// name and without a line end). Folders given for this run must exist; they come back absolute.
std::variant<Options, std::string> parseCommandLine(int argc, char** argv);

} // namespace pelotest

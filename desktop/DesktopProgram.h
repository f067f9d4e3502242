#pragma once
// The desktop program: one window per settings file, closed by the window, "Beenden", SIGTERM,
// SIGINT or the end of the desktop session, each of which writes the state first.

#include "state/Settings.h"

#include <filesystem>
#include <vector>

namespace pelotest::desktop {

struct DesktopOptions {
    std::filesystem::path settingsPath;
    std::vector<std::filesystem::path> languageFolders;
    // The command line's values for this run (never written into the settings file).
    RunOverrides overrides;
    // --tray: hidden in the notification area with the server running.
    bool startInTray = false;
    // The program the desktop session's autostart entry runs (pelotest, not the window program).
    std::filesystem::path program;
    // --settings named the settings file (the window's title then names it).
    bool settingsFileNamed = false;
};

// Runs the window until it closes; the exit code (0, or 1 when the state could not be written).
// Returns 0 at once when another program already shows this settings file (it comes to the
// front instead).
int runDesktop(int& argc, char** argv, const DesktopOptions& options);

} // namespace pelotest::desktop

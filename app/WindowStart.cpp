#include "app/WindowStart.h"

#include "app/InstallLayout.h"
#include "platform/Programs.h"
#ifdef PELOTEST_WINDOW
#include "desktop/DesktopProgram.h"
#endif

#include <cstdlib>
#include <iostream>

namespace fs = std::filesystem;

namespace pelotest {

namespace {

// Qt ends the process when it finds no display; say what to do instead.
[[maybe_unused]] bool displayAvailable() { // unused without the window
#ifdef _WIN32
    return true; // a Windows session always has its desktop
#else
    for (const char* variable : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
        if (const char* value = std::getenv(variable); value && *value)
            return true;
    return false;
#endif
}

} // namespace

int runWindow(const Options& options, int& argc, char** argv) {
#ifdef PELOTEST_WITHOUT_WINDOW
    (void)options;
    (void)argc;
    (void)argv;
    std::cerr << "pelotest: the window is not part of this build; start with --headless to serve "
                 "without a window\n";
    return 2;
#else
    if (!displayAvailable()) {
        std::cerr << "pelotest: no display to open the window on (DISPLAY is not set); start "
                     "with --headless to serve without a window\n";
        return 1;
    }
    const fs::path exeFolder = executableFolder();
#ifdef PELOTEST_WINDOW
    desktop::DesktopOptions desktop;
    desktop.settingsPath = settingsPathOf(options, exeFolder);
    desktop.languageFolders = languageFolders(exeFolder);
    desktop.overrides = options.overrides;
    desktop.startInTray = options.tray;
    desktop.program = exeFolder / "pelotest";
    desktop.settingsFileNamed = options.settings.has_value();
    return desktop::runDesktop(argc, argv, desktop);
#else
    // The window lives in its own executable beside this one: the server alone starts without
    // loading the window's libraries, which take longer to load than everything else it does.
    (void)options;
    fs::path window = exeFolder / "pelotest-window";
    if (std::error_code ec; !fs::exists(window, ec) && isInstalled(exeFolder))
        window = (exeFolder / kInstalledWindowFolder / "pelotest-window").lexically_normal();
    const std::string failure = replaceProcessWith(window, argc, argv);
    std::cerr << "pelotest: cannot start the window program " << window.string() << ": " << failure
              << "\n";
    return 1;
#endif
#endif
}

} // namespace pelotest

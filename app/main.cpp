// Program start: the desktop window, or with --headless the same server without a window (load
// the state, serve until SIGINT or SIGTERM, save the state).

#include "app/HeadlessHost.h"
#include "app/Routes.h"
#include "desktop/DesktopProgram.h"
#include "language/UiTexts.h"
#include "server/HttpServer.h"
#include "state/PersistentState.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <mutex>
#include <optional>
#include <pthread.h>
#include <string>
#include <string_view>
#include <unistd.h>

#ifndef PELOTEST_VERSION
#define PELOTEST_VERSION "0.0.0"
#endif

namespace fs = std::filesystem;
using namespace pelotest;

namespace {

constexpr std::string_view kUsage = "Usage: pelotest [--headless] [--settings FILE]\n"
                                    "       pelotest --help | --version\n"
                                    "\n"
                                    "  (no option)      open the window on the settings file\n"
                                    "  --headless       serve without a window; SIGINT or SIGTERM "
                                    "saves the state and exits\n"
                                    "  --settings FILE  use FILE as the settings file\n"
                                    "  --help           show this text\n"
                                    "  --version        show the version\n";

struct Options {
    bool headless = false;
    bool help = false;
    bool version = false;
    std::optional<fs::path> settings;
};

// Parses the command line; nullopt (after a message) for a wrong one.
std::optional<Options> parseOptions(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--headless") {
            options.headless = true;
        } else if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (arg == "--version") {
            options.version = true;
        } else if (arg == "--settings") {
            if (i + 1 >= argc) {
                std::cerr << "pelotest: --settings needs a file name\n";
                return std::nullopt;
            }
            options.settings = argv[++i];
        } else if (arg.starts_with("--settings=")) {
            options.settings = std::string(arg.substr(std::string_view("--settings=").size()));
        } else {
            std::cerr << "pelotest: unknown option " << arg << "\n" << kUsage;
            return std::nullopt;
        }
    }
    if (options.settings && options.settings->empty()) {
        std::cerr << "pelotest: --settings needs a file name\n";
        return std::nullopt;
    }
    return options;
}

fs::path executableFolder() {
    std::error_code ec;
    const fs::path self = fs::read_symlink("/proc/self/exe", ec);
    return ec ? fs::current_path() : self.parent_path();
}

fs::path environmentFolder(const char* variable, const char* homeFallback) {
    if (const char* value = std::getenv(variable); value && *value)
        return value;
    const char* home = std::getenv("HOME");
    return fs::path(home && *home ? home : ".") / homeFallback;
}

// pelotest.ini beside the executable when that folder is writable, else in the user's
// configuration folder (created when missing).
fs::path defaultSettingsPath(const fs::path& exeFolder) {
    if (::access(exeFolder.c_str(), W_OK) == 0)
        return exeFolder / "pelotest.ini";
    const fs::path folder = environmentFolder("XDG_CONFIG_HOME", ".config") / "pelotest";
    std::error_code ec;
    fs::create_directories(folder, ec);
    return folder / "pelotest.ini";
}

// How long SIGINT or SIGTERM waits for requests still being handled, and then for the state.
constexpr std::chrono::seconds kShutdownDeadline{5};
constexpr std::chrono::seconds kLockGrace{1};

// Ends the process at once, without destroying what a request thread may still use.
[[noreturn]] void finishNow(int code) {
    std::cout.flush();
    std::cerr.flush();
    std::_Exit(code);
}

// The URL shown for the bound address: IPv6 literals stand in brackets.
std::string listeningUrl(const std::string& address, int port) {
    const std::string host = address.find(':') != std::string::npos ? "[" + address + "]" : address;
    return "http://" + host + ":" + std::to_string(port) + "/";
}

fs::path languageDataFolder() {
    return environmentFolder("XDG_DATA_HOME", ".local/share") / "pelotest" / "languages";
}

// Qt ends the process when it finds no display; say what to do instead.
bool displayAvailable() {
    for (const char* variable : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
        if (const char* value = std::getenv(variable); value && *value)
            return true;
    return false;
}

int runWindow(const Options& options, int& argc, char** argv) {
    if (!displayAvailable()) {
        std::cerr << "pelotest: no display to open the window on (DISPLAY is not set); start "
                     "with --headless to serve without a window\n";
        return 1;
    }
    const fs::path exeFolder = executableFolder();
    desktop::DesktopOptions desktop;
    desktop.settingsPath =
        options.settings ? fs::absolute(*options.settings) : defaultSettingsPath(exeFolder);
    desktop.languageFolders = {exeFolder, languageDataFolder()};
    return desktop::runDesktop(argc, argv, desktop);
}

int runHeadless(const Options& options) {
    const fs::path exeFolder = executableFolder();
    AppState state;
    state.settingsPath =
        options.settings ? fs::absolute(*options.settings) : defaultSettingsPath(exeFolder);
    state.languageFolders = {exeFolder, languageDataFolder()};
    HeadlessHost host(state);
    // Looked up by loadState and saveState, which run with the state lock held.
    const TextLookup text = [&state](int id)
                                REQUIRES(state.mutex) { return loadUiText(state, UiText{id}); };

    // The signals are taken by sigwait below; every thread started from here on inherits the
    // blocked mask, so none of them is interrupted by them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    {
        const StateLock lock(state.mutex);
        const std::string treeError = loadState(state, host, text);
        if (!treeError.empty())
            std::cerr << "pelotest: " << state.settingsPath.string() << ": [Tree]: " << treeError
                      << "\n";
    }
    std::string address;
    int port = 0;
    {
        const StateLock lock(state.mutex);
        address = state.settings.BindAddress;
        port = state.settings.Port;
    }
    if (port < 1 || port > 65535) {
        std::cerr << "pelotest: cannot listen: the port " << port << " in "
                  << state.settingsPath.string() << " is not between 1 and 65535\n";
        return 1;
    }

    HttpServer server(state, host, routeRequest);
    try {
        server.start(address, static_cast<std::uint16_t>(port));
    } catch (const std::exception& e) {
        std::cerr << "pelotest: " << e.what() << "\n";
        return 1;
    }
    std::cout << "Listening on " << listeningUrl(address, server.port()) << std::endl;

    int received = 0;
    sigwait(&stopSignals, &received);

    // No request may change the state after it has been written. A request that is still being
    // handled after the deadline is not waited for: its connection thread keeps the objects it
    // uses, so the process then ends without destroying them.
    const auto deadline = std::chrono::steady_clock::now() + kShutdownDeadline;
    const bool stopped = server.stop(kShutdownDeadline);
    // Every change of a request happens under the state lock: once it is ours, the state is
    // consistent. If a stuck request still holds it, the state may be half changed, and the file
    // keeps what the last save wrote.
    if (!state.mutex.try_lock_until(deadline + kLockGrace)) {
        std::cerr << "pelotest: a request was still running "
                  << std::chrono::duration_cast<std::chrono::seconds>(kShutdownDeadline).count()
                  << " s after the stop signal; the state was not saved\n";
        finishNow(1);
    }
    if (!stopped)
        std::cerr << "pelotest: a request was still running when the server stopped; the state "
                     "is saved without it\n";
    // saveState runs under the caller's lock.
    std::string failure;
    const bool saved = saveState(state, host, text, &failure);
    if (!saved)
        std::cerr << "pelotest: cannot write the settings file " << state.settingsPath.string()
                  << ": " << failure << "\n";
    if (!stopped)
        finishNow(saved ? 0 : 1);
    state.mutex.unlock();
    if (!saved)
        return 1;
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const auto options = parseOptions(argc, argv);
    if (!options)
        return 2;
    if (options->help) {
        std::cout << kUsage;
        return 0;
    }
    if (options->version) {
        std::cout << "pelotest " << PELOTEST_VERSION << "\n";
        return 0;
    }
    if (!options->headless)
        return runWindow(*options, argc, argv);
    return runHeadless(*options);
}

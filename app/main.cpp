// Program start: the desktop window, or with --headless the same server without a window (load
// the state, serve until SIGINT or SIGTERM, save the state). For translators, --list-languages
// and --export-language work without a window and leave the settings file alone.

#include "app/HeadlessHost.h"
#include "language/Languages.h"
#include "language/UiTexts.h"
#include "pages/Routes.h"
#include "server/HttpServer.h"
#include "state/PersistentState.h"
#include "state/ProfileFile.h"
#include "state/TextCase.h"
#ifdef PELOTEST_WINDOW
#include "desktop/DesktopProgram.h"
#endif

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <mutex>
#include <optional>
#include <pthread.h>
#include <string>
#include <string_view>
#include <unistd.h>
#include <vector>

#ifndef PELOTEST_VERSION
#define PELOTEST_VERSION "0.0.0"
#endif

namespace fs = std::filesystem;
using namespace pelotest;

namespace {

constexpr std::string_view kUsage = "Usage: pelotest [--headless] [--settings FILE]\n"
                                    "       pelotest --list-languages [--settings FILE]\n"
                                    "       pelotest --export-language DIR [--language FILE] "
                                    "[--settings FILE]\n"
                                    "       pelotest --help | --version\n"
                                    "\n"
                                    "  (no option)      open the window on the settings file\n"
                                    "  --headless       serve without a window; SIGINT or SIGTERM "
                                    "saves the state and exits\n"
                                    "  --settings FILE  use FILE as the settings file\n"
                                    "  --list-languages print the offered languages: file name, "
                                    "a tab, display name\n"
                                    "  --export-language DIR\n"
                                    "                   write the translator's template of the "
                                    "current language\n"
                                    "                   (or of --language FILE, \"\" for the "
                                    "built-in one) into DIR\n"
                                    "  --help           show this text\n"
                                    "  --version        show the version\n";

struct Options {
    bool headless = false;
    bool help = false;
    bool version = false;
    bool listLanguages = false;
    std::optional<fs::path> exportFolder;
    std::optional<std::string> language;
    std::optional<fs::path> settings;
};

// The value of an option given as "--name VALUE" or "--name=VALUE"; nullopt when arg is not that
// option. Sets missing when the value is absent.
std::optional<std::string> optionValue(std::string_view name, int argc, char** argv, int& i,
                                       bool& missing) {
    const std::string_view arg = argv[i];
    if (arg == name) {
        if (i + 1 >= argc) {
            missing = true;
            return std::string();
        }
        return std::string(argv[++i]);
    }
    if (arg.size() > name.size() && arg.starts_with(name) && arg[name.size()] == '=')
        return std::string(arg.substr(name.size() + 1));
    return std::nullopt;
}

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
        } else if (arg == "--list-languages") {
            options.listLanguages = true;
        } else if (bool missing = false;
                   auto value = optionValue("--settings", argc, argv, i, missing)) {
            if (missing) {
                std::cerr << "pelotest: --settings needs a file name\n";
                return std::nullopt;
            }
            options.settings = *value;
        } else if (auto folder = optionValue("--export-language", argc, argv, i, missing)) {
            if (missing || folder->empty()) {
                std::cerr << "pelotest: --export-language needs a folder\n";
                return std::nullopt;
            }
            options.exportFolder = *folder;
        } else if (auto language = optionValue("--language", argc, argv, i, missing)) {
            if (missing) {
                std::cerr << "pelotest: --language needs a library file name (\"\" for the "
                             "built-in language)\n";
                return std::nullopt;
            }
            options.language = *language;
        } else {
            std::cerr << "pelotest: unknown option " << arg << "\n" << kUsage;
            return std::nullopt;
        }
    }
    if (options.settings && options.settings->empty()) {
        std::cerr << "pelotest: --settings needs a file name\n";
        return std::nullopt;
    }
    if (options.language && !options.exportFolder) {
        std::cerr << "pelotest: --language goes with --export-language\n";
        return std::nullopt;
    }
    if (options.listLanguages + options.exportFolder.has_value() + options.headless > 1) {
        std::cerr << "pelotest: --headless, --list-languages and --export-language exclude each "
                     "other\n";
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

// Where language libraries are looked for, in order: beside the executable, the user's data
// folder, and for an installed program the package's data folder.
std::vector<fs::path> languageFolders(const fs::path& exeFolder) {
    std::vector<fs::path> folders = {exeFolder, languageDataFolder()};
    if (exeFolder.string().starts_with("/usr/"))
        folders.emplace_back("/usr/share/pelotest/languages");
    return folders;
}

fs::path settingsPathOf(const Options& options, const fs::path& exeFolder) {
    return options.settings ? fs::absolute(*options.settings) : defaultSettingsPath(exeFolder);
}

// Display names are Windows-1252 bytes; a terminal wants UTF-8.
std::string terminalText(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (const char c : bytes) {
        const char16_t unit = utf16FromWindows1252(c);
        if (unit < 0x80) {
            out += static_cast<char>(unit);
        } else if (unit < 0x800) {
            out += static_cast<char>(0xC0 | (unit >> 6));
            out += static_cast<char>(0x80 | (unit & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | (unit >> 12));
            out += static_cast<char>(0x80 | ((unit >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (unit & 0x3F));
        }
    }
    return out;
}

// The language the settings file names, if it is still offered (else the built-in one, as at
// the window's start). Reads the file only.
std::string currentLanguage(const fs::path& settingsPath,
                            const std::vector<LanguageEntry>& entries) {
    const std::string stored =
        ProfileFile::readFromDisk(settingsPath, "Settings", "LanguageDll").value_or("");
    return findLanguage(entries, stored) ? stored : std::string();
}

int listLanguages(const Options& options) {
    const fs::path exeFolder = executableFolder();
    const std::vector<fs::path> folders = languageFolders(exeFolder);
    const std::string current =
        currentLanguage(settingsPathOf(options, exeFolder), discoverLanguages(folders, ""));
    for (const LanguageEntry& entry : discoverLanguages(folders, current))
        std::cout << entry.fileName << '\t' << terminalText(entry.displayName) << '\n';
    return 0;
}

int exportLanguage(const Options& options) {
    const fs::path exeFolder = executableFolder();
    std::vector<fs::path> folders = languageFolders(exeFolder);
    std::string language;
    if (options.language) {
        // A path names a library outside the usual folders: its own folder is searched first.
        const fs::path named(*options.language);
        language = named.filename().string();
        if (named.has_parent_path())
            folders.insert(folders.begin(), fs::absolute(named.parent_path()));
        if (!language.empty() && !findLanguage(discoverLanguages(folders, ""), language)) {
            std::cerr << "pelotest: " << *options.language
                      << " is no language library of this program (it needs a flag \"lang_bmp\" "
                         "and the product name "
                      << kProgramProductName << ")\n";
            return 1;
        }
    } else {
        language =
            currentLanguage(settingsPathOf(options, exeFolder), discoverLanguages(folders, ""));
    }
    const std::vector<LanguageEntry> entries = discoverLanguages(folders, language);
    const fs::path folder = *options.exportFolder;
    std::error_code error;
    fs::create_directories(folder, error);
    if (!fs::is_directory(folder, error)) {
        std::cerr << "pelotest: cannot write into " << folder.string() << ": it is no folder\n";
        return 1;
    }
    if (auto failure =
            writeLanguageExport(folder, languageExportFiles(folders, language, entries))) {
        std::cerr << "pelotest: cannot write the language template into " << folder.string() << ": "
                  << *failure << "\n";
        return 1;
    }
    std::cout << "wrote language.rc, lang_new.dpr, lang_new.dof, lang_new.bmp and "
                 "lang_readme.txt into "
              << folder.string() << "\n";
    return 0;
}

// Qt ends the process when it finds no display; say what to do instead.
[[maybe_unused]] bool displayAvailable() { // unused without the window
    for (const char* variable : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
        if (const char* value = std::getenv(variable); value && *value)
            return true;
    return false;
}

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
    return desktop::runDesktop(argc, argv, desktop);
#else
    // The window lives in its own executable beside this one: the server alone starts without
    // loading the window's libraries, which take longer to load than everything else it does.
    (void)options;
    const fs::path window = exeFolder / "pelotest-window";
    argv[0] = const_cast<char*>(window.c_str());
    ::execv(window.c_str(), argv);
    std::cerr << "pelotest: cannot start the window program " << window.string() << ": "
              << std::strerror(errno) << "\n";
    (void)argc;
    return 1;
#endif
#endif
}

int runHeadless(const Options& options) {
    const fs::path exeFolder = executableFolder();
    AppState state;
    state.settingsPath = settingsPathOf(options, exeFolder);
    state.languageFolders = languageFolders(exeFolder);
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
        address = state.settings.bindAddress;
        port = state.settings.port;
    }
    if (port < 1 || port > 65535) {
        std::cerr << "pelotest: cannot listen: the port " << port << " in "
                  << state.settingsPath.string() << " is not between 1 and 65535\n";
        return 1;
    }

    HttpServer server(std::make_shared<RequestHandler>(state, host, routeRequest));
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
    if (options->listLanguages)
        return listLanguages(*options);
    if (options->exportFolder)
        return exportLanguage(*options);
    if (!options->headless)
        return runWindow(*options, argc, argv);
    return runHeadless(*options);
}

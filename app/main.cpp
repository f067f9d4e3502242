// Program start: the desktop window, or with --headless the same server without a window (load
// the state, serve until SIGINT or SIGTERM, save the state). For translators, --list-languages
// and --export-language work without a window and leave the settings file alone.

#include "app/CommandLine.h"
#include "app/HeadlessHost.h"
#include "language/Languages.h"
#include "language/UiTexts.h"
#include "pages/Routes.h"
#include "server/HttpServer.h"
#include "server/PortOwner.h"
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
#include <fcntl.h>
#include <filesystem>
#include <iostream>
#include <mutex>
#include <optional>
#include <pthread.h>
#include <string>
#include <string_view>
#include <sys/wait.h>
#include <unistd.h>
#include <variant>
#include <vector>

#ifndef PELOTEST_VERSION
#define PELOTEST_VERSION "0.0.0"
#endif

namespace fs = std::filesystem;
using namespace pelotest;

namespace {

// Where the window program lies in an installed tree, relative to the folder of pelotest (the
// window program itself, and a build without it, never look there).
[[maybe_unused]] constexpr std::string_view kInstalledWindowFolder = "../libexec/pelotest";

// The folder of the pelotest executable. The window program reports the folder of the pelotest
// that started it when it lies in the installed tree's program folder, so that both find the
// same settings file and languages.
fs::path executableFolder() {
    std::error_code ec;
    const fs::path self = fs::read_symlink("/proc/self/exe", ec);
    if (ec)
        return fs::current_path();
    const fs::path folder = self.parent_path();
    if (folder.filename() == "pelotest" && folder.parent_path().filename() == "libexec")
        return folder.parent_path().parent_path() / "bin";
    return folder;
}

// An installed program (a package's /usr/bin, or a prefix's bin/ beside share/pelotest) keeps
// nothing beside its executable: that folder belongs to the system, also when it is writable
// (as it is for root). A program run from its build or unpacked folder keeps its files there.
bool isInstalled(const fs::path& exeFolder) {
    if (exeFolder.filename() != "bin")
        return false;
    std::error_code ec;
    return exeFolder.string().starts_with("/usr/") || exeFolder == "/bin" ||
           fs::is_directory(exeFolder.parent_path() / "share" / "pelotest", ec);
}

fs::path environmentFolder(const char* variable, const char* homeFallback) {
    if (const char* value = std::getenv(variable); value && *value)
        return value;
    const char* home = std::getenv("HOME");
    return fs::path(home && *home ? home : ".") / homeFallback;
}

// pelotest.ini beside the executable when that folder is writable and not an installed program's,
// else in the user's configuration folder (created when missing).
fs::path defaultSettingsPath(const fs::path& exeFolder) {
    if (!isInstalled(exeFolder) && ::access(exeFolder.c_str(), W_OK) == 0)
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

// The page a browser opens: the server's root, by name when it listens on every address.
std::string startPageUrl(const std::string& address, int port) {
    if (address == "0.0.0.0" || address == "::")
        return "http://localhost:" + std::to_string(port) + "/";
    return listeningUrl(address, port);
}

// Opens url in the desktop's default browser without waiting for it: the opener (xdg-open, or
// the command PELOTEST_OPENER names) runs detached, its output discarded, so the server neither
// waits for the browser nor ends it at exit.
void openInBrowser(const std::string& url) {
    const char* named = std::getenv("PELOTEST_OPENER");
    const std::string opener = named && *named ? named : "xdg-open";
    const pid_t child = ::fork();
    if (child < 0) {
        std::cerr << "pelotest: cannot open " << url << " in the browser: " << std::strerror(errno)
                  << "\n";
        return;
    }
    if (child == 0) {
        // A grandchild runs the opener, so that nobody has to wait for it.
        ::setsid();
        if (::fork() != 0)
            ::_exit(0);
        const int null = ::open("/dev/null", O_RDWR);
        if (null >= 0) {
            ::dup2(null, 0);
            ::dup2(null, 1);
            ::dup2(null, 2);
        }
        // The server blocked the stop signals for itself; the opener gets them back.
        sigset_t none;
        sigemptyset(&none);
        pthread_sigmask(SIG_SETMASK, &none, nullptr);
        ::execlp(opener.c_str(), opener.c_str(), url.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::waitpid(child, nullptr, 0);
}

fs::path languageDataFolder() {
    return environmentFolder("XDG_DATA_HOME", ".local/share") / "pelotest" / "languages";
}

// Where language libraries are looked for, in order: beside the executable (not for an installed
// program), the user's data folder, and for an installed program the package's data folder
// (share/pelotest/languages of its prefix). Downloads go to the first writable of the first two.
std::vector<fs::path> languageFolders(const fs::path& exeFolder) {
    if (!isInstalled(exeFolder))
        return {exeFolder, languageDataFolder()};
    return {languageDataFolder(),
            (exeFolder.parent_path() / "share" / "pelotest" / "languages").lexically_normal()};
}

fs::path settingsPathOf(const Options& options, const fs::path& exeFolder) {
    return options.settings ? fs::absolute(*options.settings) : defaultSettingsPath(exeFolder);
}

// "\x1b" for a control character: what a library brings is printed, never obeyed by the
// terminal (an escape sequence could clear it, set its title or fake other output).
void appendEscaped(std::string& out, unsigned code) { // code < 0x100
    static constexpr char kHex[] = "0123456789abcdef";
    out += "\\x";
    out += kHex[(code >> 4) & 0xF];
    out += kHex[code & 0xF];
}

bool isControl(char32_t code) {
    return code < 0x20 || (code >= 0x7F && code < 0xA0);
}

void appendUtf8(std::string& out, char32_t code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

// Display names are Windows-1252 bytes; a terminal wants UTF-8. Control characters (C0, DEL,
// and the C1 ones the code page leaves undefined) are escaped.
std::string terminalText(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (const char c : bytes) {
        const char16_t unit = utf16FromWindows1252(c);
        if (isControl(unit))
            appendEscaped(out, unit);
        else
            appendUtf8(out, unit);
    }
    return out;
}

// A file name as the file system holds it (UTF-8 as a rule): valid UTF-8 passes, control
// characters (C1 ones included, as UTF-8 encodes them) and bytes that are no UTF-8 are escaped.
std::string terminalFileName(std::string_view bytes) {
    std::string out;
    for (std::size_t at = 0; at < bytes.size();) {
        const auto byte = static_cast<unsigned char>(bytes[at]);
        const std::size_t length = byte < 0x80           ? 1
                                   : (byte >> 5) == 0x6  ? 2
                                   : (byte >> 4) == 0xE  ? 3
                                   : (byte >> 3) == 0x1E ? 4
                                                         : 0;
        bool valid = length > 0 && at + length <= bytes.size();
        char32_t code = length == 1   ? byte
                        : length == 2 ? byte & 0x1F
                        : length == 3 ? byte & 0x0F
                                      : byte & 0x07;
        for (std::size_t i = 1; valid && i < length; ++i) {
            const auto next = static_cast<unsigned char>(bytes[at + i]);
            valid = (next & 0xC0) == 0x80;
            code = (code << 6) | (next & 0x3F);
        }
        // Overlong forms would hide a control character from this check.
        static constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
        valid = valid && code >= kSmallest[length] && code <= 0x10FFFF;
        if (!valid) {
            appendEscaped(out, byte);
            ++at;
            continue;
        }
        if (isControl(code))
            appendEscaped(out, code);
        else
            out.append(bytes.substr(at, length));
        at += length;
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
    for (const LanguageEntry& entry : discoverLanguages(folders, current)) {
        std::cout << terminalFileName(entry.fileName) << '\t' << terminalText(entry.displayName)
                  << '\n';
        if (!entry.textsNotUsed.empty())
            std::cerr << "pelotest: " << terminalFileName(entry.fileName) << ": texts "
                      << textIdList(entry.textsNotUsed)
                      << " carry markup that the built-in texts do not; the built-in texts are "
                         "used in their place\n";
    }
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
    desktop.overrides = options.overrides;
    desktop.startInTray = options.tray;
    desktop.program = exeFolder / "pelotest";
    return desktop::runDesktop(argc, argv, desktop);
#else
    // The window lives in its own executable beside this one: the server alone starts without
    // loading the window's libraries, which take longer to load than everything else it does.
    (void)options;
    fs::path window = exeFolder / "pelotest-window";
    if (std::error_code ec; !fs::exists(window, ec) && isInstalled(exeFolder))
        window = (exeFolder / kInstalledWindowFolder / "pelotest-window").lexically_normal();
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
    state.runOverrides = options.overrides;
    HeadlessHost host(state);
    // Looked up by loadState and saveState with the state lock held.
    const TextLookup text = [&state](UiText id)
                                REQUIRES(state.mutex) { return loadUiText(state, id); };

    // The signals are taken by sigwait below; every thread started from here on inherits the
    // blocked mask, so none of them is interrupted by them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    // A settings file that cannot be read is never written (its content would be lost); one
    // that is read-only is used as it is.
    const SettingsFileCheck settingsFile = checkSettingsFile(state.settingsPath);
    if (settingsFile.access == SettingsAccess::Unusable) {
        std::cerr << "pelotest: cannot use the settings file " << state.settingsPath.string()
                  << ": " << settingsFile.reason << "; it is left as it is\n";
        return 1;
    }
    if (settingsFile.access == SettingsAccess::ReadOnly)
        std::cerr << "pelotest: the settings file " << state.settingsPath.string()
                  << " is used as it is (" << settingsFile.reason
                  << "): changes will not be saved\n";
    {
        const StateLock lock(state.mutex);
        state.settingsReadOnly = settingsFile.access == SettingsAccess::ReadOnly;
    }
    if (const std::string treeError = loadState(state, host, text); !treeError.empty())
        std::cerr << "pelotest: " << state.settingsPath.string() << ": [Tree]: " << treeError
                  << "\n";
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
        std::cerr << "pelotest: " << e.what();
        // Which program holds the port tells the user what to stop.
        if (const auto inUse = describePortInUse(static_cast<std::uint16_t>(port)))
            std::cerr << ". " << *inUse << "; stop it or choose another port with --port N";
        std::cerr << "\n";
        return 1;
    }
    std::cout << "Listening on " << listeningUrl(address, server.port()) << std::endl;
    if (options.openBrowser)
        openInBrowser(startPageUrl(address, server.port()));

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
    StateLock lock(state.mutex, std::defer_lock);
    if (!lock.tryLockFor(deadline + kLockGrace - std::chrono::steady_clock::now())) {
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
    if (!saved)
        return 1;
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    auto parsed = parseCommandLine(argc, argv);
    if (const auto* error = std::get_if<std::string>(&parsed)) {
        std::cerr << "pelotest: " << *error << " (see pelotest --help)\n";
        return 2;
    }
    const Options* options = &std::get<Options>(parsed);
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

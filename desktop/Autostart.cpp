#include "desktop/Autostart.h"

#include "platform/Files.h"
#include "state/AtomicFile.h"

#include <cstdlib>
#include <string_view>
#include <system_error>

namespace pelotest::desktop {
namespace fs = std::filesystem;

namespace {

// An argument of the Exec line: quoted when it holds a character the line would otherwise
// split or interpret, "%" doubled (it starts a field code), and then escaped as every string
// value of a desktop entry is (a backslash doubled).
std::optional<std::string> execArgument(const std::string& argument) {
    constexpr std::string_view kReserved = " \t\"'\\><~|&;$*?#()`";
    std::string quoted;
    bool needsQuotes = argument.empty();
    for (const char c : argument) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F)
            return std::nullopt;
        if (kReserved.find(c) != std::string_view::npos)
            needsQuotes = true;
        if (c == '"' || c == '`' || c == '$' || c == '\\')
            quoted += '\\';
        quoted += c;
        if (c == '%')
            quoted += '%';
    }
    if (needsQuotes)
        quoted = '"' + quoted + '"';
    std::string escaped;
    for (const char c : quoted) {
        if (c == '\\')
            escaped += '\\';
        escaped += c;
    }
    return escaped;
}

constexpr const char* kEntryName = "pelotest.desktop";

// The autostart folder, opened without following a link there (the configuration folder above
// it may be one, as dotfile managers make it); made when asked and missing. folder is not open
// and failure says why when it cannot be opened.
struct AutostartFolder {
    OpenFile folder;
    std::string path;
    std::string failure;

    explicit AutostartFolder(bool make) {
        const auto config = autostartConfigFolder();
        if (!config) {
            failure = "neither XDG_CONFIG_HOME nor HOME is set to an absolute folder";
            return;
        }
        path = (*config / "autostart").string();
        std::error_code error;
        if (make) {
            fs::create_directories(*config, error);
            // Creating never follows a link at the name; a new folder is the user's alone.
            if (fs::create_directory(*config / "autostart", error))
                fs::permissions(*config / "autostart", fs::perms::owner_all, error);
        }
        const OpenFile configFolder = openFolder(*config, error);
        if (!configFolder.isOpen()) {
            failure = config->string() + ": " + errorText(error);
            return;
        }
        if (statusInFolder(configFolder, "autostart", Links::DoNotFollowLast, error).kind ==
            FileKind::Link) {
            failure = path + ": it is a link, which is not followed";
            return;
        }
        OpenFile opened = openInFolder(configFolder, "autostart", error);
        if (!opened.isOpen()) {
            failure = path + ": " + errorText(error);
            return;
        }
        const auto status = opened.status(error);
        if (!status || status->kind != FileKind::Folder) {
            failure = path + ": it is not a folder";
            return;
        }
        folder = std::move(opened);
    }
};

} // namespace

std::optional<fs::path> autostartConfigFolder() {
    // A relative $XDG_CONFIG_HOME is invalid and ignored, as the base directory rules ask.
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config && fs::path(config).is_absolute())
        return fs::path(config);
    const char* home = std::getenv("HOME");
    if (home && fs::path(home).is_absolute())
        return fs::path(home) / ".config";
    return std::nullopt;
}

bool autostartEntryExists() {
    const AutostartFolder folder(false);
    std::error_code error;
    return folder.folder.isOpen() &&
           statusInFolder(folder.folder, kEntryName, Links::DoNotFollowLast, error).kind !=
               FileKind::Missing;
}

std::optional<std::string> autostartEntryText(const std::vector<std::string>& command) {
    std::string exec;
    std::vector<std::string> arguments = command;
    arguments.emplace_back("--tray");
    for (const std::string& argument : arguments) {
        const auto quoted = execArgument(argument);
        if (!quoted)
            return std::nullopt;
        exec += (exec.empty() ? "" : " ") + *quoted;
    }
    // Name and Icon as in the installed pelotest.desktop.
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=PeloTest\n"
           "Comment=Start PeloTest hidden in the notification area with its server running\n"
           "Exec=" +
           exec +
           "\n"
           "Icon=pelotest\n"
           "Terminal=false\n"
           "X-GNOME-Autostart-enabled=true\n";
}

std::optional<std::string> writeAutostartEntry(const std::vector<std::string>& command) {
    const auto text = autostartEntryText(command);
    if (!text)
        return "the program's path or settings file holds a line break";
    const AutostartFolder folder(true);
    if (!folder.folder.isOpen())
        return "cannot make the folder of the autostart entry: " + folder.failure;
    if (auto failure = replaceFileAt(folder.folder, kEntryName, *text))
        return folder.path + "/" + kEntryName + ": " + *failure;
    return std::nullopt;
}

std::optional<std::string> removeAutostartEntry() {
    const AutostartFolder folder(false);
    if (!folder.folder.isOpen())
        return std::nullopt; // no folder (or a link in its place): no entry of ours to remove
    // A link at the name is removed itself, never what it points to.
    removeInFolder(folder.folder, kEntryName);
    std::error_code error;
    if (statusInFolder(folder.folder, kEntryName, Links::DoNotFollowLast, error).kind !=
        FileKind::Missing)
        return folder.path + "/" + kEntryName + ": cannot be removed";
    return std::nullopt;
}

} // namespace pelotest::desktop

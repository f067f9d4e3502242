#include "desktop/Autostart.h"

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

} // namespace

fs::path autostartEntryPath() {
    // A relative $XDG_CONFIG_HOME is invalid and ignored, as the base directory rules ask.
    const char* config = std::getenv("XDG_CONFIG_HOME");
    fs::path folder;
    if (config && fs::path(config).is_absolute()) {
        folder = config;
    } else {
        const char* home = std::getenv("HOME");
        folder = fs::path(home ? home : "") / ".config";
    }
    return folder / "autostart" / "pelotest.desktop";
}

bool autostartEntryExists() {
    std::error_code ec;
    return fs::exists(fs::symlink_status(autostartEntryPath(), ec));
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
    const fs::path path = autostartEntryPath();
    std::error_code ec;
    fs::create_directories(path.parent_path(), ec);
    if (ec)
        return "cannot make the folder " + path.parent_path().string() + ": " + ec.message();
    if (auto failure = replaceFile(path, *text))
        return path.string() + ": " + *failure;
    return std::nullopt;
}

std::optional<std::string> removeAutostartEntry() {
    const fs::path path = autostartEntryPath();
    std::error_code ec;
    fs::remove(path, ec); // a link is removed itself, never what it points to
    if (ec)
        return path.string() + ": " + ec.message();
    return std::nullopt;
}

} // namespace pelotest::desktop

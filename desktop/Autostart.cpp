#include "desktop/Autostart.h"

#include "state/AtomicFile.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

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
// it may be one, as dotfile managers make it); made when asked and missing. fd is -1 and failure
// says why when it cannot be opened.
struct AutostartFolder {
    int fd = -1;
    std::string path;
    std::string failure;

    explicit AutostartFolder(bool make) {
        const auto config = autostartConfigFolder();
        if (!config) {
            failure = "neither XDG_CONFIG_HOME nor HOME is set to an absolute folder";
            return;
        }
        path = (*config / "autostart").string();
        std::error_code ec;
        if (make)
            fs::create_directories(*config, ec);
        const int configFd = ::open(config->c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (configFd < 0) {
            failure = config->string() + ": " + std::strerror(errno);
            return;
        }
        if (make && ::mkdirat(configFd, "autostart", 0700) != 0 && errno != EEXIST) {
            failure = path + ": " + std::strerror(errno);
            ::close(configFd);
            return;
        }
        fd = ::openat(configFd, "autostart", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        const int error = errno;
        ::close(configFd);
        if (fd < 0)
            failure = path + ": " +
                      (error == ELOOP ? std::string("it is a link, which is not followed")
                                      : std::string(std::strerror(error)));
    }
    ~AutostartFolder() {
        if (fd >= 0)
            ::close(fd);
    }
    AutostartFolder(const AutostartFolder&) = delete;
    AutostartFolder& operator=(const AutostartFolder&) = delete;
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
    struct stat info {};
    return folder.fd >= 0 && ::fstatat(folder.fd, kEntryName, &info, AT_SYMLINK_NOFOLLOW) == 0;
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
    if (folder.fd < 0)
        return "cannot make the folder of the autostart entry: " + folder.failure;
    if (auto failure = replaceFileAt(folder.fd, kEntryName, *text))
        return folder.path + "/" + kEntryName + ": " + *failure;
    return std::nullopt;
}

std::optional<std::string> removeAutostartEntry() {
    const AutostartFolder folder(false);
    if (folder.fd < 0)
        return std::nullopt; // no folder (or a link in its place): no entry of ours to remove
    // A link at the name is removed itself, never what it points to.
    if (::unlinkat(folder.fd, kEntryName, 0) != 0 && errno != ENOENT)
        return folder.path + "/" + kEntryName + ": " + std::strerror(errno);
    return std::nullopt;
}

} // namespace pelotest::desktop

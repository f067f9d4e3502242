#include "platform/ProgramFolders.h"

#include <cstdlib>
#include <unistd.h>

namespace fs = std::filesystem;

namespace pelotest {

namespace {

fs::path environmentFolder(const char* variable, const char* homeFallback) {
    if (const char* value = std::getenv(variable); value && *value)
        return value;
    const char* home = std::getenv("HOME");
    return fs::path(home && *home ? home : ".") / homeFallback;
}

} // namespace

fs::path runningExecutable() {
    std::error_code ec;
    const fs::path self = fs::read_symlink("/proc/self/exe", ec);
    return ec ? fs::path() : self;
}

bool folderIsWritable(const fs::path& folder) {
    return ::access(folder.c_str(), W_OK) == 0;
}

fs::path userSettingsFolder() {
    return environmentFolder("XDG_CONFIG_HOME", ".config") / "pelotest";
}

fs::path userDataFolder() {
    return environmentFolder("XDG_DATA_HOME", ".local/share") / "pelotest";
}

fs::path settingsFileNameBeside(const fs::path&) {
    return "pelotest.ini";
}

} // namespace pelotest

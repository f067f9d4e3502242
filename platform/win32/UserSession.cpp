#include "platform/UserSession.h"

#include <system_error>

namespace pelotest {

// The window's single instance is a named pipe on Windows, whose access list the local server
// limits to this user, so no folder has to shut other users out: the folder is made and taken as
// it is. (The window is built for Windows with MSVC, docs/windows.md.)
std::optional<std::string> refusePrivateFolder(const std::filesystem::path& folder, bool create) {
    std::error_code error;
    if (create)
        std::filesystem::create_directories(folder, error);
    if (!std::filesystem::is_directory(folder, error))
        return folder.string() + " is not a folder";
    return std::nullopt;
}

// A pipe whose access list admits this user alone has no other peer.
bool peerIsThisUser(std::intptr_t socket) {
    return socket != -1;
}

std::uint64_t currentUserNumber() {
    return 0; // the pipe's name is per session already
}

std::size_t longestSocketPath() {
    return 255; // the longest name of a pipe
}

} // namespace pelotest

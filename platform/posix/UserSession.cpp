#include "platform/UserSession.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace pelotest {

namespace {

std::string systemError() {
    return std::strerror(errno);
}

} // namespace

std::optional<std::string> refusePrivateFolder(const std::filesystem::path& folder, bool create) {
    if (create && ::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        return "cannot create " + folder.string() + ": " + systemError();
    // Opened without following a link, the checks and the narrowing below hold for the folder
    // itself, whatever its name is made to point at meanwhile.
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return folder.string() + " is not a folder (" + systemError() + ")";
    struct stat status {};
    std::optional<std::string> refused;
    if (::fstat(fd, &status) != 0)
        refused = folder.string() + ": " + systemError();
    else if (status.st_uid != ::geteuid())
        refused = folder.string() + " belongs to another user";
    else if ((status.st_mode & 077) != 0 && (!create || ::fchmod(fd, 0700) != 0))
        refused = folder.string() + " is open to other users";
    ::close(fd);
    return refused;
}

bool peerIsThisUser(std::intptr_t socket) {
    const auto fd = static_cast<int>(socket);
    if (fd < 0)
        return false;
#if defined(SO_PEERCRED)
    ucred credentials{};
    socklen_t size = sizeof credentials;
    return ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &size) == 0 &&
           size == sizeof credentials && credentials.uid == ::geteuid();
#else
    uid_t uid = 0;
    gid_t gid = 0;
    return ::getpeereid(fd, &uid, &gid) == 0 && uid == ::geteuid();
#endif
}

std::uint64_t currentUserNumber() {
    return ::geteuid();
}

std::size_t longestSocketPath() {
    return sizeof(sockaddr_un{}.sun_path) - 1;
}

} // namespace pelotest

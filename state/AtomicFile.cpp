#include "state/AtomicFile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <random>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace pelotest {

namespace {

std::string systemError(int error) {
    return std::strerror(error);
}

// A temporary file of a save: "." + the file's name (cut, so that the temporary name stays
// within the limit of a name) + ".pelotest-" + digits.
constexpr std::string_view kTemporaryMark = ".pelotest-";
constexpr std::size_t kMaxNameInTemporary = 100;

std::string temporaryPrefix(const std::string& name) {
    return "." + name.substr(0, kMaxNameInTemporary) + std::string(kTemporaryMark);
}

bool isTemporaryOf(std::string_view entry, std::string_view prefix) {
    if (entry.size() <= prefix.size() || entry.substr(0, prefix.size()) != prefix)
        return false;
    return std::all_of(entry.begin() + static_cast<std::ptrdiff_t>(prefix.size()), entry.end(),
                       [](char c) { return c >= '0' && c <= '9'; });
}

// A save that was killed leaves its temporary file behind. Each running save holds a lock on its
// own (the kernel drops it when the process dies), so a temporary file of this name that can be
// locked belongs to no running save and is removed.
void removeStaleTemporaries(int folderFd, const std::string& prefix) {
    const int listing = ::dup(folderFd);
    if (listing < 0)
        return;
    DIR* dir = ::fdopendir(listing);
    if (!dir) {
        ::close(listing);
        return;
    }
    // fdopendir shares the descriptor's position with the folder's own: start at the beginning.
    ::rewinddir(dir);
    std::vector<std::string> stale;
    while (const dirent* entry = ::readdir(dir)) {
        if (!isTemporaryOf(entry->d_name, prefix))
            continue;
        const int fd =
            ::openat(folderFd, entry->d_name, O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
        if (fd < 0)
            continue;
        struct stat info {};
        if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0)
            stale.emplace_back(entry->d_name);
        ::close(fd);
    }
    ::closedir(dir);
    for (const std::string& entry : stale)
        ::unlinkat(folderFd, entry.c_str(), 0);
}

} // namespace

std::optional<std::string> notARegularFile(const struct stat& info) {
    if (S_ISREG(info.st_mode))
        return std::nullopt;
    if (S_ISLNK(info.st_mode))
        return "it is a link (only a regular file is written, never what a link leads to)";
    if (S_ISDIR(info.st_mode))
        return systemError(EISDIR);
    if (S_ISFIFO(info.st_mode))
        return "it is a FIFO, not a regular file";
    if (S_ISCHR(info.st_mode) || S_ISBLK(info.st_mode))
        return "it is a device, not a regular file";
    return "it is not a regular file";
}

std::optional<std::string> replaceFileAt(int folderFd, const std::string& name,
                                         std::string_view bytes) {
    struct stat old {};
    const bool exists = ::fstatat(folderFd, name.c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0;
    if (!exists && errno != ENOENT)
        return systemError(errno);
    // What stands at the name is replaced only when it is a regular file: a link there may lead
    // to a file of somebody else's, a FIFO or device was put there on purpose.
    if (exists)
        if (auto refusal = notARegularFile(old))
            return refusal;
    const bool keepMode = exists;
    const std::string prefix = temporaryPrefix(name);
    removeStaleTemporaries(folderFd, prefix);

    // A new name each try; O_EXCL never reuses a file that exists. Created with 0666 so that the
    // umask applies as it would to a file written in place.
    std::random_device random;
    std::string temp;
    int fd = -1;
    for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
        temp = prefix + std::to_string(random());
        fd = ::openat(folderFd, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW,
                      0666);
        if (fd < 0 && errno != EEXIST)
            return systemError(errno);
    }
    if (fd < 0)
        return systemError(EEXIST);
    // Marks the temporary file as in use until the rename (see removeStaleTemporaries).
    ::flock(fd, LOCK_EX | LOCK_NB);

    std::optional<std::string> failure;
    if (keepMode && ::fchmod(fd, old.st_mode & 07777) != 0)
        failure = systemError(errno);
    std::size_t written = 0;
    while (!failure && written < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            failure = systemError(n < 0 ? errno : EIO);
        else
            written += static_cast<std::size_t>(n);
    }
    if (!failure && ::fsync(fd) != 0)
        failure = systemError(errno);
    if (!failure && ::renameat(folderFd, temp.c_str(), folderFd, name.c_str()) != 0)
        failure = systemError(errno);
    if (failure)
        ::unlinkat(folderFd, temp.c_str(), 0);
    // The data reached the disk before the rename (fsync), so closing cannot lose it any more.
    ::close(fd);
    if (!failure)
        (void)::fsync(folderFd); // makes the rename itself durable
    return failure;
}

FolderHandle::FolderHandle(const std::filesystem::path& folder)
    : fd_(::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)),
      error_(fd_ < 0 ? errno : 0) {}

FolderHandle::~FolderHandle() {
    if (fd_ >= 0)
        ::close(fd_);
}

std::optional<std::string> FolderHandle::replace(const std::string& name,
                                                 std::string_view bytes) const {
    if (fd_ < 0)
        return systemError(error_);
    return replaceFileAt(fd_, name, bytes);
}

std::optional<std::string> replaceFile(const std::filesystem::path& path, std::string_view bytes) {
    if (!path.has_filename())
        return systemError(EISDIR);
    return FolderHandle(path.parent_path()).replace(path.filename().string(), bytes);
}

} // namespace pelotest

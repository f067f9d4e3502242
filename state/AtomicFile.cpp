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

std::optional<std::string> replaceFileAt(int folderFd, const std::string& name,
                                         std::string_view bytes) {
    struct stat old {};
    const bool keepMode =
        ::fstatat(folderFd, name.c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(old.st_mode);
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

std::optional<std::string> replaceFile(const std::filesystem::path& path, std::string_view bytes) {
    namespace fs = std::filesystem;
    std::error_code ec;
    // Write beside the real file, so that a link to it stays a link.
    fs::path target = path;
    if (fs::is_symlink(path, ec)) {
        target = fs::weakly_canonical(path, ec);
        if (ec)
            return ec.message();
    }
    if (!target.has_filename())
        return systemError(EISDIR);
    const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
    const int folderFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFd < 0)
        return systemError(errno);
    std::optional<std::string> failure = replaceFileAt(folderFd, target.filename().string(), bytes);
    ::close(folderFd);
    return failure;
}

} // namespace pelotest

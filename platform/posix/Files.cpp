#include "platform/Files.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace fs = std::filesystem;

namespace pelotest {

struct OpenFileAccess {
    static OpenFile make(int fd) {
        OpenFile file;
        file.handle_ = fd;
        return file;
    }
};

namespace {

constexpr std::int64_t kNanosPerSecond = 1'000'000'000;

std::error_code lastError() {
    return {errno, std::generic_category()};
}

int fdOf(const OpenFile& file) {
    return static_cast<int>(file.native());
}

std::int64_t nanosOf(const timespec& time) {
    return static_cast<std::int64_t>(time.tv_sec) * kNanosPerSecond + time.tv_nsec;
}

FileKind kindOf(mode_t mode) {
    if (S_ISREG(mode))
        return FileKind::Regular;
    if (S_ISDIR(mode))
        return FileKind::Folder;
    if (S_ISLNK(mode))
        return FileKind::Link;
    if (S_ISFIFO(mode))
        return FileKind::Fifo;
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return FileKind::Device;
    return FileKind::Other;
}

FileStatus statusFrom(const struct stat& info) {
    return FileStatus{kindOf(info.st_mode),
                      FileIdentity{static_cast<std::uint64_t>(info.st_dev),
                                   static_cast<std::uint64_t>(info.st_ino),
                                   static_cast<std::uint64_t>(info.st_size), nanosOf(info.st_mtim),
                                   nanosOf(info.st_ctim)},
                      static_cast<unsigned>(info.st_mode & 07777)};
}

OpenFile opened(int fd, std::error_code& error) {
    if (fd < 0) {
        error = lastError();
        return {};
    }
    error.clear();
    return OpenFileAccess::make(fd);
}

FileStatus statusOrMissing(int result, const struct stat& info, std::error_code& error) {
    if (result != 0) {
        error = lastError();
        return {};
    }
    error.clear();
    return statusFrom(info);
}

} // namespace

bool FileIdentity::settled() const {
    return fileClockNanos() - std::max(modifiedNanos, changedNanos) >= kNanosPerSecond;
}

bool missing(const std::error_code& error) {
    return error == std::errc::no_such_file_or_directory || error == std::errc::not_a_directory;
}

bool alreadyExists(const std::error_code& error) {
    return error == std::errc::file_exists;
}

OpenFile::OpenFile(OpenFile&& other) noexcept
    : handle_(std::exchange(other.handle_, -1)), folderPath_(std::move(other.folderPath_)) {}

OpenFile& OpenFile::operator=(OpenFile&& other) noexcept {
    if (this != &other) {
        close();
        handle_ = std::exchange(other.handle_, -1);
        folderPath_ = std::move(other.folderPath_);
    }
    return *this;
}

OpenFile::~OpenFile() {
    close();
}

bool OpenFile::isOpen() const {
    return handle_ >= 0;
}

void OpenFile::close() {
    if (handle_ >= 0)
        ::close(static_cast<int>(std::exchange(handle_, -1)));
}

std::optional<FileStatus> OpenFile::status(std::error_code& error) const {
    struct stat info {};
    if (::fstat(fdOf(*this), &info) != 0) {
        error = lastError();
        return std::nullopt;
    }
    return statusFrom(info);
}

std::optional<std::size_t> OpenFile::read(char* data, std::size_t size,
                                          std::error_code& error) const {
    for (;;) {
        const ssize_t n = ::read(fdOf(*this), data, size);
        if (n >= 0)
            return static_cast<std::size_t>(n);
        if (errno != EINTR) {
            error = lastError();
            return std::nullopt;
        }
    }
}

std::optional<std::size_t> OpenFile::readAt(std::uint64_t offset, char* data, std::size_t size,
                                            std::error_code& error) const {
    for (;;) {
        const ssize_t n = ::pread(fdOf(*this), data, size, static_cast<off_t>(offset));
        if (n >= 0)
            return static_cast<std::size_t>(n);
        if (errno != EINTR) {
            error = lastError();
            return std::nullopt;
        }
    }
}

bool OpenFile::writeAll(std::string_view bytes, std::error_code& error) const {
    std::size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(fdOf(*this), bytes.data() + written, bytes.size() - written);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            error = n < 0 ? lastError() : std::make_error_code(std::errc::io_error);
            return false;
        }
        written += static_cast<std::size_t>(n);
    }
    return true;
}

bool OpenFile::syncToDisk(std::error_code& error) const {
    if (::fsync(fdOf(*this)) == 0)
        return true;
    error = lastError();
    return false;
}

bool OpenFile::markInUse() const {
    return ::flock(fdOf(*this), LOCK_EX | LOCK_NB) == 0;
}

bool OpenFile::setPermissions(unsigned permissions, std::error_code& error) const {
    if (::fchmod(fdOf(*this), static_cast<mode_t>(permissions & 07777)) == 0)
        return true;
    error = lastError();
    return false;
}

OpenFile openForReading(const fs::path& path, Links links, std::error_code& error) {
    int flags = O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY;
    if (links == Links::DoNotFollowLast)
        flags |= O_NOFOLLOW;
    return opened(::open(path.c_str(), flags), error);
}

OpenFile openFolder(const fs::path& path, std::error_code& error) {
    return opened(::open(path.empty() ? "." : path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC),
                  error);
}

OpenFile openInFolder(const OpenFile& folder, const std::string& name, std::error_code& error) {
    return opened(::openat(fdOf(folder), name.c_str(),
                           O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | O_NOCTTY),
                  error);
}

OpenFile createInFolder(const OpenFile& folder, const std::string& name, std::error_code& error) {
    return opened(::openat(fdOf(folder), name.c_str(),
                           O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666),
                  error);
}

FileStatus statusInFolder(const OpenFile& folder, const std::string& name, Links links,
                          std::error_code& error) {
    struct stat info {};
    const int flags = links == Links::DoNotFollowLast ? AT_SYMLINK_NOFOLLOW : 0;
    return statusOrMissing(::fstatat(fdOf(folder), name.c_str(), &info, flags), info, error);
}

FileStatus statusOf(const fs::path& path, Links links, std::error_code& error) {
    struct stat info {};
    const int result = links == Links::DoNotFollowLast ? ::lstat(path.c_str(), &info)
                                                       : ::stat(path.c_str(), &info);
    return statusOrMissing(result, info, error);
}

bool renameInFolder(const OpenFile& folder, const std::string& from, const std::string& to,
                    std::error_code& error) {
    if (::renameat(fdOf(folder), from.c_str(), fdOf(folder), to.c_str()) == 0)
        return true;
    error = lastError();
    return false;
}

void removeInFolder(const OpenFile& folder, const std::string& name) {
    ::unlinkat(fdOf(folder), name.c_str(), 0);
}

std::vector<std::string> namesInFolder(const OpenFile& folder) {
    std::vector<std::string> names;
    const int listing = ::dup(fdOf(folder));
    if (listing < 0)
        return names;
    DIR* dir = ::fdopendir(listing);
    if (!dir) {
        ::close(listing);
        return names;
    }
    // fdopendir shares the descriptor's position with the folder's own: start at the beginning.
    ::rewinddir(dir);
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name = entry->d_name;
        if (name != "." && name != "..")
            names.emplace_back(name);
    }
    ::closedir(dir);
    return names;
}

std::optional<fs::path> pathOfOpenFolder(const OpenFile& folder) {
    std::error_code ec;
    fs::path where = fs::read_symlink("/proc/self/fd/" + std::to_string(fdOf(folder)), ec);
    if (ec)
        return std::nullopt;
    return where;
}

std::optional<std::string> linkTarget(const fs::path& link) {
    std::vector<char> buffer(256);
    for (;;) {
        const ssize_t n = ::readlink(link.c_str(), buffer.data(), buffer.size());
        if (n < 0)
            return std::nullopt;
        if (static_cast<std::size_t>(n) < buffer.size())
            return std::string(buffer.data(), static_cast<std::size_t>(n));
        buffer.resize(buffer.size() * 2);
    }
}

bool mayWrite(const fs::path& path) {
    return ::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) == 0;
}

std::int64_t fileClockNanos() {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return nanosOf(now);
}

std::string errorText(const std::error_code& error) {
    return std::strerror(error.value());
}

} // namespace pelotest

#include "state/RegularFile.h"

#include "state/AtomicFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pelotest {

RegularFile::RegularFile(const std::string& path) {
    if (path.find('\0') != std::string::npos)
        return; // the system would read a shorter name
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    struct stat info {};
    if (fd_ < 0) {
        if (errno == ENOENT || errno == ENOTDIR || errno == ENAMETOOLONG || errno == ELOOP)
            status_ = Status::Missing;
        else if (::stat(path.c_str(), &info) != 0)
            status_ = Status::Missing;
        else
            status_ = S_ISREG(info.st_mode) ? Status::Unreadable : Status::NotRegular;
        return;
    }
    if (::fstat(fd_, &info) != 0 || !S_ISREG(info.st_mode)) {
        status_ = Status::NotRegular;
        ::close(fd_);
        fd_ = -1;
        return;
    }
    status_ = Status::Open;
    identity_ = identityOf(info);
}

RegularFile::~RegularFile() {
    if (fd_ >= 0)
        ::close(fd_);
}

std::optional<std::string> RegularFile::readAll(std::uint64_t largest) const {
    if (fd_ < 0 || identity_.size > largest)
        return std::nullopt;
    std::string bytes(static_cast<std::size_t>(identity_.size), '\0');
    std::size_t got = 0;
    for (;;) {
        if (got == bytes.size()) {
            if (got > largest)
                return std::nullopt;
            bytes.resize(got + 64 * 1024); // the file grew since it was opened: read to its end
        }
        const ssize_t n =
            ::pread(fd_, bytes.data() + got, bytes.size() - got, static_cast<off_t>(got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return std::nullopt;
        if (n == 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    if (got > largest)
        return std::nullopt;
    bytes.resize(got);
    return bytes;
}

FileRead readRegularFile(const std::filesystem::path& path) {
    FileRead read;
    // Non-blocking, so that a FIFO does not wait for a writer; no link in the last place.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        struct stat info {};
        if (error == ENOENT || error == ENOTDIR) { // nothing there (or no folder on the way)
            read.outcome = FileRead::Outcome::Missing;
        } else {
            read.outcome = FileRead::Outcome::Refused;
            // O_NOFOLLOW fails with ELOOP on a link: say so in plain words.
            const auto refusal = ::lstat(path.c_str(), &info) == 0 ? notARegularFile(info)
                                                                   : std::optional<std::string>();
            read.reason = refusal ? *refusal : std::strerror(error);
        }
        return read;
    }
    struct stat info {};
    const bool known = ::fstat(fd, &info) == 0;
    const auto refusal = known ? notARegularFile(info) : std::strerror(errno);
    if (refusal) {
        read.outcome = FileRead::Outcome::Refused;
        read.reason = *refusal;
        ::close(fd);
        return read;
    }
    read.bytes.reserve(static_cast<std::size_t>(info.st_size));
    char block[65536];
    for (;;) {
        const ssize_t n = ::read(fd, block, sizeof block);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            read.outcome = FileRead::Outcome::Refused;
            read.reason = std::strerror(errno);
            read.bytes.clear();
            break;
        }
        if (n == 0)
            break;
        read.bytes.append(block, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return read;
}

} // namespace pelotest

#include "state/FileIdentity.h"

#include <algorithm>
#include <ctime>
#include <sys/stat.h>

namespace pelotest {

namespace {

constexpr std::int64_t kNanosPerSecond = 1'000'000'000;

std::int64_t nanosOf(const timespec& time) {
    return static_cast<std::int64_t>(time.tv_sec) * kNanosPerSecond + time.tv_nsec;
}

} // namespace

FileIdentity identityOf(const struct stat& info) {
    return FileIdentity{
        static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino),
        static_cast<std::uint64_t>(info.st_size), nanosOf(info.st_mtim), nanosOf(info.st_ctim)};
}

std::optional<FileIdentity> regularFileIdentity(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return std::nullopt;
    return identityOf(info);
}

bool FileIdentity::settled() const {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return nanosOf(now) - std::max(modifiedNanos, changedNanos) >= kNanosPerSecond;
}

} // namespace pelotest

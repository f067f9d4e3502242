#pragma once
// What tells one file from another, and a file from its earlier self: a replacement (even by
// rename) changes the inode, an edit in place the size or the times. The caches of pages,
// templates, language libraries and settings values remember what they read by it.

#include <cstdint>
#include <optional>
#include <string>

struct stat;

namespace pelotest {

struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::uint64_t size = 0;
    std::int64_t modifiedNanos = 0; // since the epoch
    std::int64_t changedNanos = 0;
    bool operator==(const FileIdentity&) const = default;

    // Whether the file is old enough to be remembered by its identity: file times come from a
    // clock that advances in ticks of a few milliseconds, so a file changed within the last
    // second could change again without a visible difference.
    bool settled() const;
};

FileIdentity identityOf(const struct stat& info);

// The identity of the regular file at path (links followed); nullopt for anything else or when it
// cannot be looked at.
std::optional<FileIdentity> regularFileIdentity(const std::string& path);

} // namespace pelotest

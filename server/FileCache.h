#pragma once
// What the server reads from page and template files, kept between requests as long as the file
// is provably the same one. A file is known by its identity (device, inode, size, modification
// and change time in nanoseconds), looked up again at every request: a file changed, replaced by
// rename or deleted between two requests is read afresh by the second one.

#include "state/FileIdentity.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

struct stat;

namespace pelotest {

struct ParsedTemplate; // server/TemplateRequest.cpp

// A page or template file as read once: its bytes, its lines, where each line may hold a
// reference or an event link, and its title.
struct CachedFile {
    FileIdentity identity;
    std::string bytes;
    std::vector<std::string> lines; // as readLines gives them
    std::string title;              // titleOfText of bytes
    // The validators of these bytes when sent as a file, made once.
    std::string entityTag;
    std::string lastModified;
    // The file as a template, made at its first use as one and kept with the bytes it came from.
    mutable std::mutex templateMutex;
    mutable std::shared_ptr<const ParsedTemplate> parsedTemplate;
};

// A bounded, thread-safe map from path to CachedFile. Only files that have stayed unchanged for a
// moment are kept: the file system stamps times with a coarse clock, so a file written twice
// within one tick could otherwise keep its identity while its bytes change.
class FileCache {
  public:
    FileCache(std::size_t maxEntries, std::size_t maxBytes, std::size_t maxFileBytes);
    ~FileCache();
    FileCache(const FileCache&) = delete;
    FileCache& operator=(const FileCache&) = delete;

    // The file at path (links followed) as it is now; nullptr when it is missing, not a regular
    // file or larger than largest bytes. Throws std::runtime_error when it exists but cannot be
    // read.
    std::shared_ptr<const CachedFile> get(const std::string& path,
                                          std::uint64_t largest = UINT64_MAX);
    // The same, for a file whose identity the caller has just looked up (a regular file) when
    // known is not null; with null the identity is looked up here.
    std::shared_ptr<const CachedFile> get(const std::string& path, const FileIdentity* known,
                                          std::uint64_t largest = UINT64_MAX);

    // The title (titleOfText) of a page larger than largestKept, whose identity the caller has
    // just looked up: read once per identity, the last few kept, and one such reading at a time,
    // so that many requests for a new version of a large page wait for one reading instead of
    // each holding the whole file. Throws std::runtime_error when it cannot be read.
    std::string largeFileTitle(const std::string& path, const FileIdentity& identity);

    // The largest file kept (a larger one is read at every get).
    std::size_t largestKept() const { return maxFileBytes_; }

    // The cache the server's pages and templates share.
    static FileCache& shared();

    // How many times any cache has read a file since the program started; tests use it to see
    // that an unchanged file is not read again.
    static std::uint64_t reads();

  private:
    struct Impl;
    const std::size_t maxEntries_;
    const std::size_t maxBytes_;
    const std::size_t maxFileBytes_;
    std::unique_ptr<Impl> impl_;
};

} // namespace pelotest

#include "server/FileCache.h"

#include "server/PageText.h"
#include "server/StaticFiles.h"
#include "state/RegularFile.h"

#include <algorithm>
#include <atomic>
#include <list>
#include <mutex>
#include <stdexcept>
#include <unordered_map>
#include <utility>

namespace pelotest {

namespace {

std::atomic<std::uint64_t> fileReads{0};

// The file as it is now, read through one descriptor so that its identity and its bytes belong
// together (opened without waiting, so that a FIFO put in its place cannot block the request);
// nullptr when it is missing or not a regular file.
std::shared_ptr<CachedFile> readFile(const std::string& path) {
    const RegularFile opened(path);
    switch (opened.status()) {
    case RegularFile::Status::Missing:
    case RegularFile::Status::NotRegular:
        return nullptr;
    case RegularFile::Status::Unreadable:
        throw std::runtime_error("Cannot open file " + path);
    case RegularFile::Status::Open:
        break;
    }
    fileReads.fetch_add(1, std::memory_order_relaxed);
    auto file = std::make_shared<CachedFile>();
    file->identity = opened.identity();
    std::optional<std::string> read = opened.readAll();
    if (!read)
        throw std::runtime_error("Cannot read file " + path);
    std::string& bytes = file->bytes;
    bytes = std::move(*read);
    file->lines = splitLines(bytes);
    file->title = titleOfText(bytes);
    const FileStamp stamp = stampOf(file->identity);
    file->entityTag = entityTag(stamp);
    file->lastModified = httpDate(stamp.modifiedSeconds);
    return file;
}

} // namespace

std::uint64_t FileCache::reads() {
    return fileReads.load(std::memory_order_relaxed);
}

struct FileCache::Impl {
    struct Entry {
        std::string path;
        std::shared_ptr<const CachedFile> file;
    };
    std::mutex mutex;        // guards what follows
    std::list<Entry> recent; // most recently used first
    std::unordered_map<std::string, std::list<Entry>::iterator> byPath;
    std::size_t bytes = 0;
    struct Title {
        std::string path;
        FileIdentity identity;
        std::string title;
    };
    std::list<Title> titles; // of large files, most recent first
    std::mutex titleReading; // one large file read for its title at a time

    std::optional<std::string> keptTitle(const std::string& path, const FileIdentity& identity) {
        std::lock_guard lock(mutex);
        for (const Title& kept : titles)
            if (kept.path == path && kept.identity == identity)
                return kept.title;
        return std::nullopt;
    }

    static std::size_t weight(const CachedFile& file) {
        return file.bytes.size() * 2 + file.lines.size() * sizeof(std::string) + 256;
    }
    void erase(std::list<Entry>::iterator it) {
        bytes -= weight(*it->file);
        byPath.erase(it->path);
        recent.erase(it);
    }
};

FileCache::FileCache(std::size_t maxEntries, std::size_t maxBytes, std::size_t maxFileBytes)
    : maxEntries_(maxEntries), maxBytes_(maxBytes), maxFileBytes_(maxFileBytes),
      impl_(std::make_unique<Impl>()) {}

FileCache::~FileCache() = default;

std::shared_ptr<const CachedFile> FileCache::get(const std::string& path, std::uint64_t largest) {
    return get(path, nullptr, largest);
}

std::shared_ptr<const CachedFile> FileCache::get(const std::string& path, const FileIdentity* known,
                                                 std::uint64_t largest) {
    std::optional<FileIdentity> lookedUp;
    if (!known && !(lookedUp = regularFileIdentity(path)))
        return nullptr;
    const FileIdentity& now = known ? *known : *lookedUp;
    if (now.size > largest)
        return nullptr;
    {
        std::lock_guard lock(impl_->mutex);
        if (const auto found = impl_->byPath.find(path); found != impl_->byPath.end()) {
            const auto it = found->second;
            if (it->file->identity == now) {
                impl_->recent.splice(impl_->recent.begin(), impl_->recent, it);
                return it->file;
            }
            impl_->erase(it);
        }
    }
    std::shared_ptr<const CachedFile> file = readFile(path);
    if (!file || file->bytes.size() > maxFileBytes_ || !file->identity.settled())
        return file;
    std::lock_guard lock(impl_->mutex);
    if (const auto found = impl_->byPath.find(path); found != impl_->byPath.end())
        impl_->erase(found->second); // another request read it meanwhile
    impl_->recent.push_front(Impl::Entry{path, file});
    impl_->byPath.emplace(path, impl_->recent.begin());
    impl_->bytes += Impl::weight(*file);
    while (impl_->recent.size() > maxEntries_ || impl_->bytes > maxBytes_)
        impl_->erase(std::prev(impl_->recent.end()));
    return file;
}

std::string FileCache::largeFileTitle(const std::string& path, const FileIdentity& identity) {
    // Titles are short: a few dozen of them cost nothing, and the pages too large for the cache
    // are few.
    constexpr std::size_t kTitlesKept = 32;
    if (auto title = impl_->keptTitle(path, identity))
        return *title;
    const std::lock_guard reading(impl_->titleReading);
    if (auto title = impl_->keptTitle(path, identity))
        return *title;
    const RegularFile opened(path);
    if (opened.status() == RegularFile::Status::Unreadable)
        throw std::runtime_error("Cannot open file " + path);
    if (!opened.isOpen())
        return {};
    fileReads.fetch_add(1, std::memory_order_relaxed);
    std::string title;
    {
        const std::optional<std::string> bytes = opened.readAll();
        if (!bytes)
            throw std::runtime_error("Cannot read file " + path);
        title = titleOfText(*bytes);
    }
    if (!opened.identity().settled())
        return title;
    std::lock_guard lock(impl_->mutex);
    impl_->titles.remove_if([&path](const Impl::Title& kept) { return kept.path == path; });
    impl_->titles.push_front(Impl::Title{path, opened.identity(), title});
    if (impl_->titles.size() > kTitlesKept)
        impl_->titles.pop_back();
    return title;
}

FileCache& FileCache::shared() {
    static FileCache cache(1024, 64 * 1024 * 1024, 4 * 1024 * 1024);
    return cache;
}

} // namespace pelotest

#include "server/FileCache.h"

#include "server/PageText.h"
#include "server/StaticFiles.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <list>
#include <mutex>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>
#include <utility>

namespace pelotest {

namespace {

std::atomic<std::uint64_t> fileReads{0};

class FileDescriptor {
  public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }

  private:
    int fd_;
};

// The file as it is now, read through one descriptor so that its identity and its bytes belong
// together (opened without waiting, so that a FIFO put in its place cannot block the request);
// nullptr when it is missing or not a regular file.
std::shared_ptr<CachedFile> readFile(const std::string& path) {
    const FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    struct stat info {};
    if (fd.get() < 0) {
        if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
            return nullptr;
        throw std::runtime_error("Cannot open file " + path);
    }
    if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode))
        return nullptr;
    fileReads.fetch_add(1, std::memory_order_relaxed);
    auto file = std::make_shared<CachedFile>();
    file->identity = identityOf(info);
    std::string& bytes = file->bytes;
    bytes.resize(static_cast<std::size_t>(info.st_size));
    std::size_t got = 0;
    for (;;) {
        if (got == bytes.size())
            bytes.resize(got + 64 * 1024); // the file grew since fstat: read on to its end
        const ssize_t n = ::read(fd.get(), bytes.data() + got, bytes.size() - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            throw std::runtime_error("Cannot read file " + path);
        if (n == 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    bytes.resize(got);
    file->lines = splitLines(bytes);
    file->title = titleFromLines(file->lines);
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

FileCache& FileCache::shared() {
    static FileCache cache(1024, 64 * 1024 * 1024, 4 * 1024 * 1024);
    return cache;
}

} // namespace pelotest

// The file watcher of Windows: one ReadDirectoryChangesW watch of each folder's whole subtree,
// read by a thread of its own that collects a burst of changes before it reports them. When
// Windows says its buffer overflowed, the burst reports that changes were lost (an empty list),
// which the listener takes as "everything changed" and answers by a full rescan.

#include "platform/FolderWatcher.h"

#include "platform/TextCodecs.h"

#include <algorithm>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <set>
#include <thread>
#include <windows.h>

namespace fs = std::filesystem;

namespace pelotest {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kMaxBurst = 4096;
constexpr std::chrono::milliseconds kMissingLook{200};
constexpr DWORD kChanges = FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME |
                           FILE_NOTIFY_CHANGE_SIZE | FILE_NOTIFY_CHANGE_LAST_WRITE |
                           FILE_NOTIFY_CHANGE_ATTRIBUTES | FILE_NOTIFY_CHANGE_CREATION;

std::string folderName(std::string folder) {
    std::replace(folder.begin(), folder.end(), '\\', '/');
    while (folder.size() > 3 && folder.back() == '/')
        folder.pop_back();
    return folder;
}

fs::path widePath(const std::string& path) {
    const std::u16string wide = utf16FromSiteBytes(path);
    return fs::path(std::wstring(wide.begin(), wide.end()));
}

class WindowsWatcher final : public FileWatcher {
  public:
    // The unwatched listener is kept for the interface's sake: a folder that cannot be opened is
    // looked for again and again like a missing one, and not yet reported as unwatched here.
    WindowsWatcher(Listener listener, BurstTiming timing, UnwatchedListener)
        : listener_(std::move(listener)), timing_(timing), reporter_([this] { reportBursts(); }) {}

    ~WindowsWatcher() override {
        stopWatches();
        {
            std::lock_guard lock(mutex_);
            ending_ = true;
        }
        changed_.notify_all();
        reporter_.join();
        ::CloseHandle(stop_);
    }

    void watch(std::vector<std::string> folders) override {
        std::sort(folders.begin(), folders.end());
        folders.erase(std::unique(folders.begin(), folders.end()), folders.end());
        {
            // The same folders asked for again keep their watches: a request asks on every
            // page, and a restart would miss what changes meanwhile.
            std::lock_guard lock(watchesMutex_);
            if (folders == watchedFolders_)
                return;
            watchedFolders_ = folders;
        }
        stopWatches();
        std::lock_guard lock(watchesMutex_);
        for (std::string& folder : folders)
            watches_.emplace_back(
                [this, folder = folderName(std::move(folder))] { watchFolder(folder); });
    }

    // Each folder's thread opens its folder at once; the first change is then seen.
    bool awaitWatches(std::chrono::milliseconds) override { return true; }

    void report(std::string path) override { add(std::move(path)); }

  private:
    void stopWatches() {
        std::vector<std::thread> threads;
        {
            std::lock_guard lock(watchesMutex_);
            threads.swap(watches_);
        }
        ::SetEvent(stop_);
        for (std::thread& thread : threads)
            thread.join();
        ::ResetEvent(stop_);
    }

    bool stopping() const { return ::WaitForSingleObject(stop_, 0) == WAIT_OBJECT_0; }

    void add(std::string path) {
        {
            std::lock_guard lock(mutex_);
            if (burst_.empty() && !lost_)
                burstStart_ = Clock::now();
            if (burst_.size() >= kMaxBurst)
                lost_ = true;
            else
                burst_.insert(std::move(path));
            lastChange_ = Clock::now();
        }
        changed_.notify_all();
    }

    void lose() {
        {
            std::lock_guard lock(mutex_);
            if (burst_.empty() && !lost_)
                burstStart_ = Clock::now();
            lost_ = true;
            lastChange_ = Clock::now();
        }
        changed_.notify_all();
    }

    // Watches folder until stopped: waits for it to exist, then reads its changes.
    void watchFolder(const std::string& folder) {
        bool existed = true;
        while (!stopping()) {
            const HANDLE handle = ::CreateFileW(
                widePath(folder).c_str(), FILE_LIST_DIRECTORY,
                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr);
            if (handle == INVALID_HANDLE_VALUE) {
                existed = false;
                ::WaitForSingleObject(stop_, static_cast<DWORD>(kMissingLook.count()));
                continue;
            }
            if (!existed)
                add(folder); // it appeared: its whole content counts as changed
            existed = true;
            readChanges(handle, folder);
            ::CloseHandle(handle);
        }
    }

    // Reads the changes below folder until stopped or until the folder goes away. The read is
    // overlapped, so that a stop (the stop_ event) ends the wait at once.
    void readChanges(HANDLE handle, const std::string& folder) {
        alignas(DWORD) static thread_local char buffer[64 * 1024];
        const HANDLE done = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
        while (!stopping()) {
            OVERLAPPED read{};
            read.hEvent = done;
            ::ResetEvent(done);
            if (!::ReadDirectoryChangesW(handle, buffer, sizeof buffer, TRUE, kChanges, nullptr,
                                         &read, nullptr))
                break; // the folder went away
            const HANDLE events[] = {done, stop_};
            if (::WaitForMultipleObjects(2, events, FALSE, INFINITE) != WAIT_OBJECT_0) {
                ::CancelIoEx(handle, &read);
                DWORD ignored = 0;
                ::GetOverlappedResult(handle, &read, &ignored, TRUE);
                break;
            }
            DWORD got = 0;
            if (!::GetOverlappedResult(handle, &read, &got, FALSE))
                break;
            if (got == 0) {
                lose(); // Windows' buffer overflowed: what changed is not known
                continue;
            }
            for (std::size_t at = 0;;) {
                const auto* entry = reinterpret_cast<const FILE_NOTIFY_INFORMATION*>(buffer + at);
                const std::u16string name(reinterpret_cast<const char16_t*>(entry->FileName),
                                          entry->FileNameLength / sizeof(wchar_t));
                std::string path = folder + "/" + utf8FromUtf16(name);
                std::replace(path.begin(), path.end(), '\\', '/');
                add(std::move(path));
                if (entry->NextEntryOffset == 0)
                    break;
                at += entry->NextEntryOffset;
            }
        }
        ::CloseHandle(done);
    }

    // Collects a burst until it has been quiet for timing_.quiet or lasted timing_.longest,
    // then hands it to the listener.
    void reportBursts() {
        std::unique_lock lock(mutex_);
        for (;;) {
            changed_.wait(lock, [this] { return ending_ || !burst_.empty() || lost_; });
            if (ending_)
                return;
            for (;;) {
                const auto quietEnd = lastChange_ + timing_.quiet;
                const auto longestEnd = burstStart_ + timing_.longest;
                const auto end = std::min(quietEnd, longestEnd);
                if (Clock::now() >= end)
                    break;
                changed_.wait_until(lock, end, [this] { return ending_; });
                if (ending_)
                    return;
            }
            std::vector<std::string> changed;
            if (!lost_)
                changed.assign(burst_.begin(), burst_.end());
            burst_.clear();
            lost_ = false;
            lock.unlock();
            listener_(std::move(changed));
            lock.lock();
        }
    }

    Listener listener_;
    BurstTiming timing_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::set<std::string> burst_;
    bool lost_ = false;
    bool ending_ = false;
    Clock::time_point burstStart_;
    Clock::time_point lastChange_;
    std::mutex watchesMutex_;
    const HANDLE stop_ = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::vector<std::thread> watches_;
    std::vector<std::string> watchedFolders_;
    std::thread reporter_;
};

} // namespace

std::unique_ptr<FileWatcher> makeFileWatcher(FileWatcher::Listener listener, BurstTiming timing,
                                             FileWatcher::UnwatchedListener unwatched) {
    return std::make_unique<WindowsWatcher>(std::move(listener), timing, std::move(unwatched));
}

} // namespace pelotest

// The file watcher of Linux: one inotify watch per folder below the watched ones, read by a
// thread of its own that collects a burst of changes before it reports them.

#include "platform/FolderWatcher.h"

#include <dirent.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <condition_variable>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <unordered_map>

namespace pelotest {

namespace {

using Clock = std::chrono::steady_clock;

// Folders watched at most (each costs a watch of the user's system-wide allowance) and changed
// paths collected in one burst at most (beyond it the burst counts as "everything changed").
constexpr std::size_t kMaxFolders = 8192;
constexpr std::size_t kMaxBurst = 4096;
// How often a folder that does not exist (yet) is looked for, and how often one that exists but
// cannot be watched is tried again.
constexpr std::chrono::milliseconds kMissingLook{200};
constexpr std::chrono::milliseconds kUnwatchedRetry{2000};

constexpr std::uint32_t kChanges = IN_CREATE | IN_DELETE | IN_MODIFY | IN_CLOSE_WRITE | IN_ATTRIB |
                                   IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF;

bool isFolder(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// Why the system refused to watch a folder, in words for the status line.
std::string refusalReason(int error) {
    if (error == ENOSPC)
        return "the user's inotify watches are used up (fs.inotify.max_user_watches)";
    return std::generic_category().message(error);
}

// The folders are walked, watched and forgotten on the watcher's own thread alone: a request
// that asks for other folders only leaves the new list for it, so no request ever waits for a
// walk through a large folder.
class InotifyWatcher final : public FileWatcher {
  public:
    InotifyWatcher(Listener listener, BurstTiming timing, UnwatchedListener unwatchedListener)
        : listener_(std::move(listener)), unwatchedListener_(std::move(unwatchedListener)),
          timing_(timing) {
        inotify_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        wake_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        if (inotify_ < 0 || wake_ < 0) {
            closeDescriptors();
            throw std::runtime_error("Cannot watch files: inotify is not available");
        }
        thread_ = std::thread([this] { run(); });
    }

    ~InotifyWatcher() override {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        applied_.notify_all();
        wake();
        thread_.join();
        closeDescriptors();
    }

    void watch(std::vector<std::string> folders) override {
        std::vector<std::string> roots;
        for (const std::string& folder : folders)
            if (!folder.empty())
                roots.push_back(normalFolder(folder));
        std::sort(roots.begin(), roots.end());
        // A folder inside another watched one is watched with it.
        std::vector<std::string> outer;
        for (const std::string& root : roots)
            if (outer.empty() || !isBelowOrSame(outer.back(), root))
                outer.push_back(root);
        {
            std::lock_guard lock(mutex_);
            wantedRoots_ = std::move(outer);
            ++asked_;
        }
        wake();
    }

    bool awaitWatches(std::chrono::milliseconds within) override {
        std::unique_lock lock(mutex_);
        return applied_.wait_for(lock, within, [this] { return walked_ == asked_ || stop_; });
    }

    void report(std::string path) override {
        {
            std::lock_guard lock(mutex_);
            reported_.push_back(std::move(path));
        }
        wake();
    }

  private:
    void closeDescriptors() {
        if (inotify_ >= 0)
            ::close(inotify_);
        if (wake_ >= 0)
            ::close(wake_);
        inotify_ = wake_ = -1;
    }

    void wake() {
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto written = ::write(wake_, &one, sizeof one);
    }

    // Everything below runs on the watcher's thread and uses what only that thread touches.

    void note(std::string path) {
        const auto now = Clock::now();
        if (burst_.empty() && !lost_)
            burstStart_ = now;
        lastChange_ = now;
        if (burst_.size() < kMaxBurst)
            burst_.insert(std::move(path));
        else
            lost_ = true;
    }

    // Watches folder and the folders below it (links are not followed); with reportFiles, what
    // they hold counts as changed (a folder created or moved in, a folder that reappeared). A
    // folder that exists but cannot be watched is kept in unwatched_ (and left there by the
    // walk). The watch of folder itself, or -1.
    int addTree(const std::string& folder, bool reportFiles) {
        int top = -1;
        std::vector<std::string> pending{folder};
        while (!pending.empty()) {
            std::string current = std::move(pending.back());
            pending.pop_back();
            if (folders_.size() >= kMaxFolders)
                break;
            // Only the watched folder itself may be a link (the user chose it); below it, a link
            // to a folder is never entered.
            const std::uint32_t mask =
                kChanges | IN_ONLYDIR | IN_EXCL_UNLINK | (current == folder ? 0 : IN_DONT_FOLLOW);
            const int wd = ::inotify_add_watch(inotify_, current.c_str(), mask);
            if (wd < 0) {
                // Gone meanwhile (or not a folder): nothing to watch, and its parent reports it.
                if (errno != ENOENT && errno != ENOTDIR)
                    unwatched_[current] = errno;
                continue;
            }
            if (current == folder)
                top = wd;
            folders_[wd] = current;
            DIR* dir = ::opendir(current.c_str());
            if (!dir) {
                if (errno != ENOENT && errno != ENOTDIR)
                    unwatched_[current] = errno;
                continue;
            }
            unwatched_.erase(current);
            while (const dirent* entry = ::readdir(dir)) {
                const std::string_view name = entry->d_name;
                if (name == "." || name == "..")
                    continue;
                std::string path = current + (current == "/" ? "" : "/") + std::string(name);
                unsigned char type = entry->d_type;
                if (type == DT_UNKNOWN) {
                    struct stat info {};
                    if (::lstat(path.c_str(), &info) == 0)
                        type = S_ISDIR(info.st_mode)   ? DT_DIR
                               : S_ISLNK(info.st_mode) ? DT_LNK
                                                       : DT_REG;
                }
                if (type == DT_DIR)
                    pending.push_back(std::move(path));
                else if (reportFiles)
                    note(std::move(path));
            }
            ::closedir(dir);
        }
        return top;
    }

    // Forgets the watches of folder and of everything below it.
    void removeTree(const std::string& folder) {
        for (auto it = folders_.begin(); it != folders_.end();) {
            if (isBelowOrSame(folder, it->second)) {
                ::inotify_rm_watch(inotify_, it->first);
                it = folders_.erase(it);
            } else {
                ++it;
            }
        }
        for (auto it = unwatched_.lower_bound(folder);
             it != unwatched_.end() && it->first.starts_with(folder);)
            it = isBelowOrSame(folder, it->first) ? unwatched_.erase(it) : std::next(it);
    }

    // Follows the folders asked for: a folder no longer asked for is forgotten, a new one is
    // walked, and one asked for again keeps its watches.
    void applyRoots(std::vector<std::string> wanted) {
        if (wanted == roots_)
            return;
        std::vector<int> watches(wanted.size(), -1);
        for (std::size_t i = 0; i < roots_.size(); ++i) {
            const auto kept = std::find(wanted.begin(), wanted.end(), roots_[i]);
            if (kept != wanted.end())
                watches[static_cast<std::size_t>(kept - wanted.begin())] = rootWatches_[i];
            else
                removeTree(roots_[i]);
        }
        std::vector<bool> known(wanted.size(), false);
        for (std::size_t i = 0; i < wanted.size(); ++i)
            known[i] = std::find(roots_.begin(), roots_.end(), wanted[i]) != roots_.end();
        roots_ = std::move(wanted);
        rootWatches_ = std::move(watches);
        for (std::size_t i = 0; i < roots_.size(); ++i)
            if (!known[i])
                rootWatches_[i] = addTree(roots_[i], false);
    }

    void handle(const inotify_event& event) {
        if (event.mask & IN_Q_OVERFLOW) {
            lost_ = true;
            if (burst_.empty())
                burstStart_ = Clock::now();
            lastChange_ = Clock::now();
            return;
        }
        const auto found = folders_.find(event.wd);
        if (event.mask & IN_IGNORED) {
            // The folder is gone (or its watch was removed): a watched folder is looked for again.
            if (found != folders_.end())
                folders_.erase(found);
            for (int& root : rootWatches_)
                if (root == event.wd)
                    root = -1;
            return;
        }
        if (found == folders_.end())
            return;
        const std::string folder = found->second;
        if (event.mask & (IN_DELETE_SELF | IN_MOVE_SELF)) {
            const auto root = std::find(rootWatches_.begin(), rootWatches_.end(), event.wd);
            if (root != rootWatches_.end()) {
                // The watched folder itself went away or moved: its watches follow it no longer.
                removeTree(folder);
                *root = -1;
                note(folder);
            }
            return;
        }
        if (event.len == 0 || event.name[0] == '\0')
            return;
        std::string path = folder + (folder == "/" ? "" : "/") + event.name;
        if (event.mask & IN_ISDIR) {
            if (event.mask & (IN_MOVED_FROM | IN_DELETE))
                removeTree(path);
            else if (event.mask & (IN_CREATE | IN_MOVED_TO))
                addTree(path, true);
        }
        note(std::move(path));
    }

    void readEvents() {
        alignas(inotify_event) std::array<char, 64 * 1024> buffer;
        for (;;) {
            const ssize_t got = ::read(inotify_, buffer.data(), buffer.size());
            if (got <= 0)
                return;
            for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= got;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer.data() + at);
                handle(*event);
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
        }
    }

    std::size_t rootIndex(const std::string& folder) const {
        return static_cast<std::size_t>(std::find(roots_.begin(), roots_.end(), folder) -
                                        roots_.begin());
    }

    // A watched folder that has (re)appeared is watched again, and all it holds counts as changed.
    // A folder that could not be watched is tried again less often; it counts as changed only
    // once it is watched, so a folder that stays unwatchable never causes a reload.
    void lookForMissing() {
        for (std::size_t i = 0; i < roots_.size(); ++i) {
            if (rootWatches_[i] >= 0 || unwatched_.contains(roots_[i]) || !isFolder(roots_[i]))
                continue;
            rootWatches_[i] = addTree(roots_[i], true);
            if (rootWatches_[i] >= 0)
                note(roots_[i]);
        }
        const auto now = Clock::now();
        if (unwatched_.empty() || now < nextRetry_)
            return;
        nextRetry_ = now + kUnwatchedRetry;
        std::vector<std::string> again;
        for (const auto& [folder, error] : unwatched_)
            again.push_back(folder);
        for (const std::string& folder : again) {
            // Tried afresh: a folder that has gone meanwhile is dropped (its parent's watch, or
            // the look for a missing root, takes care of it); one still refused is kept.
            unwatched_.erase(folder);
            const int wd = addTree(folder, true);
            if (const std::size_t root = rootIndex(folder); root < roots_.size())
                rootWatches_[root] = wd;
            if (wd >= 0 && !unwatched_.contains(folder))
                note(folder);
        }
    }

    // Tells the listener when the folders that cannot be watched have changed.
    void publishUnwatched() {
        std::vector<Unwatched> now;
        now.reserve(unwatched_.size());
        for (const auto& [folder, error] : unwatched_)
            now.push_back(Unwatched{folder, refusalReason(error)});
        if (now == published_)
            return;
        published_ = now;
        if (unwatchedListener_)
            unwatchedListener_(std::move(now));
    }

    // How long the thread may wait for the next event; -1 for as long as it takes.
    int waitMillis() const {
        std::chrono::milliseconds wait{-1};
        const auto now = Clock::now();
        const auto until = [&now](Clock::time_point due) {
            return std::max(std::chrono::milliseconds(0),
                            std::chrono::ceil<std::chrono::milliseconds>(due - now));
        };
        const auto atMost = [&wait](std::chrono::milliseconds limit) {
            wait = wait.count() < 0 ? limit : std::min(wait, limit);
        };
        if (!burst_.empty() || lost_)
            atMost(until(std::min(lastChange_ + timing_.quiet, burstStart_ + timing_.longest)));
        for (std::size_t i = 0; i < roots_.size(); ++i)
            if (rootWatches_[i] < 0 && !unwatched_.contains(roots_[i]))
                atMost(kMissingLook);
        if (!unwatched_.empty())
            atMost(until(nextRetry_));
        return static_cast<int>(wait.count());
    }

    void run() {
        for (;;) {
            std::array<pollfd, 2> fds{pollfd{inotify_, POLLIN, 0}, pollfd{wake_, POLLIN, 0}};
            const int ready = ::poll(fds.data(), fds.size(), waitMillis());
            if (ready < 0 && errno != EINTR)
                return;
            if (fds[1].revents & POLLIN) {
                std::uint64_t count = 0;
                [[maybe_unused]] const auto read = ::read(wake_, &count, sizeof count);
            }
            std::optional<std::vector<std::string>> wanted;
            std::vector<std::string> reported;
            std::uint64_t asked = 0;
            {
                std::lock_guard lock(mutex_);
                if (stop_)
                    return;
                wanted.swap(wantedRoots_);
                reported.swap(reported_);
                asked = asked_;
            }
            if (wanted) {
                // Events still queued for folders about to be forgotten are read first.
                readEvents();
                applyRoots(std::move(*wanted));
                {
                    std::lock_guard lock(mutex_);
                    walked_ = asked;
                }
                applied_.notify_all();
            }
            for (std::string& path : reported)
                note(std::move(path));
            if (fds[0].revents & POLLIN)
                readEvents();
            lookForMissing();
            publishUnwatched();
            const auto now = Clock::now();
            const bool due = (!burst_.empty() || lost_) && (now >= lastChange_ + timing_.quiet ||
                                                            now >= burstStart_ + timing_.longest);
            if (!due)
                continue;
            std::vector<std::string> changed;
            if (!lost_)
                changed.assign(std::make_move_iterator(burst_.begin()),
                               std::make_move_iterator(burst_.end()));
            burst_.clear();
            lost_ = false;
            listener_(std::move(changed));
        }
    }

    const Listener listener_;
    const UnwatchedListener unwatchedListener_;
    const BurstTiming timing_;
    int inotify_ = -1;
    int wake_ = -1; // an eventfd that ends the thread's wait

    std::mutex mutex_; // guards what the other threads leave for the watcher's thread
    bool stop_ = false;
    std::optional<std::vector<std::string>> wantedRoots_; // the latest folders asked for
    std::vector<std::string> reported_;
    std::uint64_t asked_ = 0;  // how many times folders were asked for
    std::uint64_t walked_ = 0; // how many of them the thread has applied
    std::condition_variable applied_;

    // The watcher's thread alone uses what follows.
    std::vector<std::string> roots_;
    std::vector<int> rootWatches_;                 // the watch of each root, -1 while it is missing
    std::unordered_map<int, std::string> folders_; // watch -> folder
    std::map<std::string, int> unwatched_;         // folder -> why its watch was refused (errno)
    std::vector<Unwatched> published_;
    Clock::time_point nextRetry_{};
    std::set<std::string> burst_;
    bool lost_ = false;
    Clock::time_point burstStart_{};
    Clock::time_point lastChange_{};

    std::thread thread_; // last, so that it starts after everything above is made
};

} // namespace

std::unique_ptr<FileWatcher> makeFileWatcher(FileWatcher::Listener listener, BurstTiming timing,
                                             FileWatcher::UnwatchedListener unwatched) {
    return std::make_unique<InotifyWatcher>(std::move(listener), timing, std::move(unwatched));
}

} // namespace pelotest

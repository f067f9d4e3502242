#pragma once
// Watching folders for changes: the interface is the same on every system; makeFileWatcher gives
// the one of this system (inotify on Linux, ReadDirectoryChangesW on Windows:
// platform/posix and platform/win32).

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace pelotest {

class FileWatcher {
  public:
    // Called on the watcher's own thread with the paths that changed in one burst (each once,
    // absolute, as found below the watched folder, in no particular order). An empty list means
    // that changes were lost (the system's queue overflowed): treat everything as changed.
    using Listener = std::function<void(std::vector<std::string> changed)>;

    // A folder that exists but cannot be watched now: the system refused its watch (no read
    // permission, the user's allowance of watches used up). Its changes are not seen; it is tried
    // again now and then, and once it is watched, all it holds counts as changed once.
    struct Unwatched {
        std::string folder;
        std::string reason;
        bool operator==(const Unwatched&) const = default;
    };
    // Called on the watcher's thread whenever the folders that cannot be watched change (empty:
    // every folder is watched again), sorted by folder.
    using UnwatchedListener = std::function<void(std::vector<Unwatched> unwatched)>;

    virtual ~FileWatcher() = default; // stops the thread and waits for it

    // Watches these folders and everything below them, replacing the folders watched so far. A
    // folder that does not exist yet (or is deleted later) is watched for until it appears; its
    // whole content then counts as changed. A watched folder may itself be a link (the user chose
    // it); links are never followed below it, so nothing outside it is watched. Returns at once:
    // the folders are walked on the watcher's thread, and only the ones that were not watched
    // before (a folder watched already keeps its watches).
    virtual void watch(std::vector<std::string> folders) = 0;
    // Waits until the folders last asked for are watched (walked by the watcher's thread), at
    // most within; whether they are. For callers that must not miss a change made right after
    // asking (tests, above all).
    virtual bool awaitWatches(std::chrono::milliseconds within) = 0;

    // Adds path to the burst under way as if the system had reported it (a file the server
    // wrote itself), so that it and the system's own report lead to one call of the listener.
    virtual void report(std::string path) = 0;
};

// How long a burst lasts: changes are collected until none has come for quiet, but for at most
// longest after the first of them.
struct BurstTiming {
    std::chrono::milliseconds quiet{100};
    std::chrono::milliseconds longest{1000};
};

// The watcher of this system; its thread runs until it is destroyed.
std::unique_ptr<FileWatcher> makeFileWatcher(FileWatcher::Listener listener,
                                             BurstTiming timing = {},
                                             FileWatcher::UnwatchedListener unwatched = {});

// The folder as written, without a trailing separator and dot segments, so that the same folder
// given twice is one folder; and whether path is folder or lies below it. Changes are reported
// by such paths, and those who read them compare them so.
std::string normalFolder(const std::string& folder);
bool isBelowOrSame(std::string_view folder, std::string_view path);

} // namespace pelotest

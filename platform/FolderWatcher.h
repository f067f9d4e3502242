#pragma once
// Watching folders for changes: the interface is the same on every system; makeFileWatcher gives
// the one of this system (inotify on Linux, ReadDirectoryChangesW on Windows:
// platform/posix and platform/win32).

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace pelotest {

class FileWatcher {
  public:
    // Called on the watcher's own thread with the paths that changed in one burst (each once,
    // absolute, as found below the watched folder, in no particular order). An empty list means
    // that changes were lost (the system's queue overflowed): treat everything as changed.
    using Listener = std::function<void(std::vector<std::string> changed)>;

    virtual ~FileWatcher() = default; // stops the thread and waits for it

    // Watches these folders and everything below them, replacing the folders watched so far. A
    // folder that does not exist yet (or is deleted later) is watched for until it appears; its
    // whole content then counts as changed. Links are never followed below a folder, so nothing
    // outside it is watched.
    virtual void watch(std::vector<std::string> folders) = 0;

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
                                             BurstTiming timing = {});

} // namespace pelotest

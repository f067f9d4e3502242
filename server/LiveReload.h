#pragma once
// Live reload: while it is on (the key LiveReload, or --live-reload for one run), every HTML answer
// of a site loads /$int/live.js, which listens on the event stream /$int/live. A file watcher on
// the static folder and the template folder tells the open streams what changed: a page,
// template or script reloads the page, a style sheet alone is swapped in place.

#include "server/FileWatcher.h"
#include "server/HttpTypes.h"
#include "server/RequestContext.h"
#include "state/AppState.h"
#include "state/Host.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace pelotest {

// Whether live reload is on for this run.
bool liveReloadOn(const AppState& state) REQUIRES(state.mutex);

// The tag every HTML answer carries while live reload is on, and the script it loads.
inline constexpr std::string_view kLiveScriptTag = "<script src=\"/$int/live.js\"></script>";
std::string_view liveScript();

// Puts kLiveScriptTag before the last "</body>" of html (ignoring case), or at its end when it
// has none.
void injectLiveScript(std::string& html);

// The event streams of the open pages and the watcher that feeds them. One per server; every
// member may be called from any thread.
class LiveReload {
  public:
    struct Options {
        // Streams held at most; the oldest is closed for a newcomer.
        std::size_t maxStreams = 32;
        // A comment is sent this often, so that proxies and the browser keep an idle stream.
        std::chrono::milliseconds keepAlive{15'000};
        BurstTiming burst{};
    };

    LiveReload(Host& host, Options options);
    ~LiveReload();
    LiveReload(const LiveReload&) = delete;
    LiveReload& operator=(const LiveReload&) = delete;

    // Watches the static folder and the (expanded) template folder of the latest request; nothing
    // is done while they stay the same. Starts the watcher at the first call.
    void watchFolders(const std::string& staticRoot, const std::string& templateFolder);
    // Whether these are the folders watched now (so that watchFolders would do nothing).
    bool watches(const std::string& staticRoot, const std::string& templateFolder) const;
    // Live reload was switched off: stops the watcher and closes every stream.
    void switchOff();
    // A file the server wrote itself (the browser editor): announced like a change on disk, in
    // the same burst as the watcher's own report of it.
    void fileWritten(std::string path);
    // Tells every stream about changed paths (an empty list reloads).
    void announce(const std::vector<std::string>& changed);

    // The answer to /$int/live.
    std::shared_ptr<const EventStream> stream() const { return stream_; }
    std::size_t streamCount() const;

  private:
    void opened(std::shared_ptr<EventSink> sink);
    void closed(const EventSink* sink);
    void sendToAll(const std::string& text);
    void keepAlive();

    Host& host_;
    const Options options_;
    // Sent first on every stream: how soon to reconnect, and which run of the server this is, so
    // that a page that reconnects to a restarted server reloads.
    const std::string hello_;
    const std::shared_ptr<const EventStream> stream_;

    // Whether there may be a watcher or a stream to end (so that every request made while live
    // reload is off need not take the mutex).
    std::atomic<bool> active_{false};
    mutable std::mutex mutex_; // guards what follows
    std::unique_ptr<FileWatcher> watcher_;
    std::string staticRoot_, templateFolder_;
    std::deque<std::shared_ptr<EventSink>> streams_; // the oldest first
    bool stopping_ = false;
    std::condition_variable wake_;
    std::thread keepAliveThread_; // started with the first stream
};

// The answers of /$int/live and /$int/live.js (only while ex.live is set).
void answerLiveStream(Exchange& ex);
void answerLiveScript(Exchange& ex);

} // namespace pelotest

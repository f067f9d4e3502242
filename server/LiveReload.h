#pragma once
// Live reload: while it is on (the key LiveReload, or --live-reload for one run), every HTML answer
// of a site loads /$int/live.js, which listens on the event stream /$int/live. A file watcher on
// the static folder and the template folder tells the open streams what changed: a page,
// template or script reloads the page, a style sheet alone is swapped in place.

#include "server/FileWatcher.h"
#include "server/HttpTypes.h"
#include "server/RequestContext.h"
#include "state/AppState.h"
#include "state/FileIdentity.h"
#include "state/Host.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
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

// Whether an answer sent as text/html is an HTML document that the live script may go into: the
// page or template it was made from (sourceFile; empty for a page the server made) has the
// extension .htm or .html, ignoring case, or its text starts like HTML: after a UTF-8 byte-order
// mark and blanks (space, tab, CR, LF, form feed), "<" followed by an ASCII letter or "!" (a
// tag, a doctype, a comment). A template that renders JSON, plain text or XML ("<?xml") gets no
// script.
bool isHtmlDocument(std::string_view sourceFile, std::string_view body);

// The parameter by which the live script asks for a changed style sheet again ("?$live=<time>").
// A request that carries it sets no variable with it; one for an existing static file sets no
// variable at all and adds no row to the log (it is the page's own style sheet, loaded again).
inline constexpr std::string_view kStyleSheetSwapParameter = "$live";
// Whether one of the request's decoded "name=value" entries is that parameter (name ignoring case).
bool isStyleSheetSwapEntry(std::string_view entry);

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

    // Which switching on this is: read by a request together with the setting (under the state
    // lock), so that a request that saw live reload on cannot start the watcher again after
    // switchOff (which begins a new one).
    std::uint64_t generation() const { return generation_.load(); }
    // Watches the static folder and the (expanded) template folder of the latest request; nothing
    // is done while they stay the same, or when live reload has been switched off since
    // generation was read. Starts the watcher at the first call. Returns at once: the folders are
    // walked on the watcher's thread.
    void watchFolders(const std::string& staticRoot, const std::string& templateFolder,
                      std::uint64_t generation);
    // Waits until the watcher watches the folders last asked for, at most within; whether it does
    // (false without a watcher).
    bool awaitWatches(std::chrono::milliseconds within) const;
    // Whether these are the folders watched now (so that watchFolders would do nothing).
    bool watches(const std::string& staticRoot, const std::string& templateFolder) const;
    // Live reload was switched off: stops the watcher and closes every stream.
    void switchOff();
    // The folders that cannot be watched now, each as "folder (why)"; their changes reload no
    // page until they can be watched.
    std::vector<std::string> unwatchedFolders() const;
    // A page file of the static folder with the live script in it, read once per version of the
    // file (its identity) however many requests ask for it at once; nullptr when it cannot be
    // read or is larger than largest.
    std::shared_ptr<const std::string> pageWithScript(const std::string& file,
                                                      std::uint64_t largest);
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
    void unwatchedChanged(std::vector<FileWatcher::Unwatched> unwatched);

    Host& host_;
    const Options options_;
    // Sent first on every stream: how soon to reconnect, and which run of the server this is, so
    // that a page that reconnects to a restarted server reloads.
    const std::string hello_;
    const std::shared_ptr<const EventStream> stream_;

    // Whether there may be a watcher or a stream to end (so that every request made while live
    // reload is off need not take the mutex).
    std::atomic<bool> active_{false};
    std::atomic<std::uint64_t> generation_{0};
    mutable std::mutex mutex_; // guards what follows
    std::unique_ptr<FileWatcher> watcher_;
    std::string staticRoot_, templateFolder_;
    std::deque<std::shared_ptr<EventSink>> streams_; // the oldest first
    bool stopping_ = false;
    std::condition_variable wake_;
    std::thread keepAliveThread_; // started with the first stream
    std::vector<std::string> unwatched_;

    // The pages with the script, newest first, at most kPagesKept of them; one reading at a time,
    // so that requests for the same new version wait for it instead of each reading the file.
    struct PageWithScript {
        std::string file;
        FileIdentity identity;
        std::shared_ptr<const std::string> text;
    };
    std::mutex pagesMutex_; // guards pages_
    std::deque<PageWithScript> pages_;
    std::mutex pageReading_;
};

// The answers of /$int/live and /$int/live.js (only while ex.live is set).
void answerLiveStream(Exchange& ex);
void answerLiveScript(Exchange& ex);

} // namespace pelotest

#include "server/LiveReload.h"

#include "state/TextCase.h"

#include <algorithm>
#include <utility>

namespace pelotest {

namespace {

// Reloads the page when a file of the site changes and swaps a changed style sheet in place. A
// page that loses its stream reconnects by itself; when the server it reaches then is another
// run (its "hello" differs), what the page shows may be stale, so it reloads.
constexpr std::string_view kLiveScript =
    "// PeloTest live reload: the page reloads when a file of the site changes; a changed style\n"
    "// sheet is swapped in place.\n"
    "(function () {\n"
    "  \"use strict\";\n"
    "  if (!window.EventSource) return;\n"
    "  var server = null;\n"
    "  var source = new EventSource(\"/$int/live\");\n"
    "  source.addEventListener(\"hello\", function (event) {\n"
    "    if (server !== null && server !== event.data) location.reload();\n"
    "    server = event.data;\n"
    "  });\n"
    "  source.addEventListener(\"reload\", function () {\n"
    "    location.reload();\n"
    "  });\n"
    "  source.addEventListener(\"css\", function (event) {\n"
    "    var links = document.querySelectorAll(\"link[rel~=stylesheet i][href]\");\n"
    "    for (var i = 0; i < links.length; i++) {\n"
    "      var url = new URL(links[i].getAttribute(\"href\"), location.href);\n"
    "      var path = url.pathname;\n"
    "      try { path = decodeURIComponent(path); } catch (e) {}\n"
    "      if (url.origin !== location.origin || path !== event.data) continue;\n"
    "      url.searchParams.set(\"v\", String(Date.now()));\n"
    "      links[i].href = url.href;\n"
    "    }\n"
    "  });\n"
    "  source.addEventListener(\"bye\", function () {\n"
    "    source.close();\n"
    "  });\n"
    "})();\n";

constexpr std::string_view kReloadEvent = "event: reload\ndata:\n\n";
constexpr std::string_view kKeepAlive = ": keep-alive\n\n";
// Sent to the oldest stream when it is closed for a newcomer: its page stops reconnecting, so
// that more pages than streams do not take turns closing each other.
constexpr std::string_view kByeEvent = "event: bye\ndata:\n\n";

std::string helloEvent() {
    const auto run = std::chrono::system_clock::now().time_since_epoch().count();
    return "retry: 1000\nevent: hello\ndata: " + std::to_string(run) + "\n\n";
}

// The events of one burst of changes.
std::string eventsFor(const std::vector<std::string>& changed, const std::string& staticRoot) {
    const LiveChange change = classifyChanges(changed, staticRoot);
    std::string events;
    for (const std::string& path : change.styleSheets) {
        // A line break would end the field early (and a file name may hold one).
        if (path.find_first_of("\r\n") != std::string::npos)
            return std::string(kReloadEvent);
        events += "event: css\ndata: " + path + "\n\n";
    }
    return events.empty() ? std::string(kReloadEvent) : events;
}

} // namespace

bool liveReloadOn(const AppState& state) {
    return state.settings.liveReload || state.runOverrides.liveReload;
}

std::string_view liveScript() {
    return kLiveScript;
}

void injectLiveScript(std::string& html) {
    std::size_t end = std::string::npos;
    for (std::size_t at = findIgnoreCase(html, "</body>"); at != std::string::npos;
         at = findIgnoreCase(html, "</body>", at + 1))
        end = at;
    html.insert(end == std::string::npos ? html.size() : end, kLiveScriptTag);
}

LiveReload::LiveReload(Host& host, Options options)
    : host_(host), options_(options), hello_(helloEvent()),
      stream_(std::make_shared<const EventStream>(
          EventStream{[this](std::shared_ptr<EventSink> sink) { opened(std::move(sink)); },
                      [this](const EventSink* sink) { closed(sink); }})) {}

LiveReload::~LiveReload() {
    std::unique_ptr<FileWatcher> watcher;
    std::thread keepAliveThread;
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        watcher = std::move(watcher_);
        keepAliveThread = std::move(keepAliveThread_);
    }
    wake_.notify_all();
    // Ended outside the mutex: a report the watcher is delivering needs it.
    watcher.reset();
    if (keepAliveThread.joinable())
        keepAliveThread.join();
}

void LiveReload::watchFolders(const std::string& staticRoot, const std::string& templateFolder) {
    std::lock_guard lock(mutex_);
    if (stopping_ || (watcher_ && staticRoot == staticRoot_ && templateFolder == templateFolder_))
        return;
    if (!watcher_) {
        try {
            watcher_ = makeFileWatcher(
                [this](std::vector<std::string> changed) { announce(changed); }, options_.burst);
        } catch (const std::exception&) {
            return; // no watcher on this system: the pages just do not reload by themselves
        }
    }
    active_ = true;
    staticRoot_ = staticRoot;
    templateFolder_ = templateFolder;
    watcher_->watch({staticRoot_, templateFolder_});
}

bool LiveReload::watches(const std::string& staticRoot, const std::string& templateFolder) const {
    std::lock_guard lock(mutex_);
    return watcher_ && staticRoot == staticRoot_ && templateFolder == templateFolder_;
}

void LiveReload::switchOff() {
    if (!active_.exchange(false))
        return;
    std::unique_ptr<FileWatcher> watcher;
    std::deque<std::shared_ptr<EventSink>> streams;
    {
        std::lock_guard lock(mutex_);
        watcher = std::move(watcher_);
        streams.swap(streams_);
        staticRoot_.clear();
        templateFolder_.clear();
    }
    for (const auto& sink : streams) {
        sink->send(std::string(kByeEvent));
        sink->close();
    }
    if (!streams.empty())
        host_.liveStreamsChanged(0);
}

void LiveReload::fileWritten(std::string path) {
    {
        std::lock_guard lock(mutex_);
        if (watcher_)
            return watcher_->report(std::move(path));
    }
    announce({std::move(path)});
}

void LiveReload::announce(const std::vector<std::string>& changed) {
    std::string staticRoot;
    {
        std::lock_guard lock(mutex_);
        staticRoot = staticRoot_;
    }
    sendToAll(eventsFor(changed, staticRoot));
}

std::size_t LiveReload::streamCount() const {
    std::lock_guard lock(mutex_);
    return streams_.size();
}

void LiveReload::sendToAll(const std::string& text) {
    std::lock_guard lock(mutex_);
    for (const auto& sink : streams_)
        sink->send(text);
}

void LiveReload::opened(std::shared_ptr<EventSink> sink) {
    std::shared_ptr<EventSink> oldest;
    std::size_t count = 0;
    {
        std::lock_guard lock(mutex_);
        if (stopping_)
            return sink->close();
        if (streams_.size() >= options_.maxStreams) {
            oldest = std::move(streams_.front());
            streams_.pop_front();
        }
        sink->send(hello_);
        active_ = true;
        streams_.push_back(std::move(sink));
        count = streams_.size();
        if (!keepAliveThread_.joinable()) {
            try {
                keepAliveThread_ = std::thread([this] { keepAlive(); });
            } catch (const std::system_error&) {
                // Without it an idle stream may be dropped by a proxy; the page reconnects.
            }
        }
    }
    if (oldest) {
        oldest->send(std::string(kByeEvent));
        oldest->close();
    }
    host_.liveStreamsChanged(count);
}

void LiveReload::closed(const EventSink* sink) {
    std::size_t count = 0;
    {
        std::lock_guard lock(mutex_);
        const auto it = std::find_if(streams_.begin(), streams_.end(),
                                     [sink](const auto& held) { return held.get() == sink; });
        if (it == streams_.end())
            return; // closed for a newcomer or by switchOff, and counted then
        streams_.erase(it);
        count = streams_.size();
    }
    host_.liveStreamsChanged(count);
}

void LiveReload::keepAlive() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        wake_.wait_for(lock, options_.keepAlive);
        if (stopping_)
            break;
        for (const auto& sink : streams_)
            sink->send(std::string(kKeepAlive));
    }
}

void answerLiveStream(Exchange& ex) {
    ex.response.contentType = "text/event-stream";
    ex.response.setHeader("Cache-Control", "no-cache");
    ex.response.stream = ex.live->stream();
}

void answerLiveScript(Exchange& ex) {
    ex.response.contentType = "text/javascript";
    ex.response.body.assign(kLiveScript);
}

} // namespace pelotest

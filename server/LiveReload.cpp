#include "server/LiveReload.h"

#include "server/RequestSafety.h"
#include "state/RegularFile.h"
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
    "  // A changed style sheet is asked for again under the parameter $live, which the server\n"
    "  // keeps out of the site's variables and its log.\n"
    "  source.addEventListener(\"css\", function (event) {\n"
    "    var links = document.querySelectorAll(\"link[rel~=stylesheet i][href]\");\n"
    "    for (var i = 0; i < links.length; i++) {\n"
    "      var url = new URL(links[i].getAttribute(\"href\"), location.href);\n"
    "      var path = url.pathname;\n"
    "      try { path = decodeURIComponent(path); } catch (e) {}\n"
    "      if (url.origin !== location.origin || path !== event.data) continue;\n"
    "      url.searchParams.set(\"$live\", String(Date.now()));\n"
    "      links[i].href = url.href;\n"
    "    }\n"
    "  });\n"
    "  source.addEventListener(\"bye\", function () {\n"
    "    source.close();\n"
    "  });\n"
    "})();\n";

// The pages with the script kept at once (each at most the largest page answered so).
constexpr std::size_t kPagesKept = 2;

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

bool isHtmlDocument(std::string_view sourceFile, std::string_view body) {
    const std::size_t dot = sourceFile.rfind('.');
    if (dot != std::string_view::npos && sourceFile.find('/', dot) == std::string_view::npos) {
        const std::string_view extension = sourceFile.substr(dot);
        if (equalsIgnoreCase(extension, ".htm") || equalsIgnoreCase(extension, ".html"))
            return true;
    }
    if (body.starts_with("\xEF\xBB\xBF"))
        body.remove_prefix(3);
    const std::size_t start = body.find_first_not_of(" \t\r\n\f");
    if (start == std::string_view::npos || body[start] != '<' || start + 1 >= body.size())
        return false;
    const char next = body[start + 1];
    return next == '!' || (next >= 'a' && next <= 'z') || (next >= 'A' && next <= 'Z');
}

bool isStyleSheetSwapEntry(std::string_view entry) {
    const std::string_view name = entry.substr(0, entry.find('='));
    return equalsIgnoreCase(name, kStyleSheetSwapParameter);
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

void LiveReload::watchFolders(const std::string& staticRoot, const std::string& templateFolder,
                              std::uint64_t generation) {
    std::lock_guard lock(mutex_);
    // Marked active before the generation is compared: a switchOff that begins a new generation
    // after the comparison then finds it active and ends the watcher made here.
    active_ = true;
    if (stopping_ || generation != generation_.load() ||
        (watcher_ && staticRoot == staticRoot_ && templateFolder == templateFolder_))
        return;
    if (!watcher_) {
        try {
            watcher_ = makeFileWatcher(
                [this](std::vector<std::string> changed) { announce(changed); }, options_.burst,
                [this](std::vector<FileWatcher::Unwatched> unwatched) {
                    unwatchedChanged(std::move(unwatched));
                });
        } catch (const std::exception&) {
            return; // no watcher on this system: the pages just do not reload by themselves
        }
    }
    staticRoot_ = staticRoot;
    templateFolder_ = templateFolder;
    watcher_->watch({staticRoot_, templateFolder_});
}

bool LiveReload::awaitWatches(std::chrono::milliseconds within) const {
    FileWatcher* watcher = nullptr;
    {
        std::lock_guard lock(mutex_);
        watcher = watcher_.get();
    }
    // The watcher lives until switchOff or the destructor, which a caller of this does not race.
    return watcher && watcher->awaitWatches(within);
}

bool LiveReload::watches(const std::string& staticRoot, const std::string& templateFolder) const {
    std::lock_guard lock(mutex_);
    return watcher_ && staticRoot == staticRoot_ && templateFolder == templateFolder_;
}

void LiveReload::switchOff() {
    // A new generation first, so that a request that saw live reload on before cannot start the
    // watcher again once this has ended it.
    generation_.fetch_add(1);
    if (!active_.exchange(false))
        return;
    std::unique_ptr<FileWatcher> watcher;
    std::deque<std::shared_ptr<EventSink>> streams;
    bool wasUnwatched = false;
    {
        std::lock_guard lock(mutex_);
        watcher = std::move(watcher_);
        streams.swap(streams_);
        staticRoot_.clear();
        templateFolder_.clear();
        wasUnwatched = !unwatched_.empty();
        unwatched_.clear();
    }
    {
        std::lock_guard lock(pagesMutex_);
        pages_.clear();
    }
    // Ended outside the mutex: a report the watcher is delivering needs it.
    watcher.reset();
    if (wasUnwatched)
        host_.liveFoldersUnwatched({});
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

std::vector<std::string> LiveReload::unwatchedFolders() const {
    std::lock_guard lock(mutex_);
    return unwatched_;
}

void LiveReload::unwatchedChanged(std::vector<FileWatcher::Unwatched> unwatched) {
    // The user's watches used up, every folder left over fails: a few of them name the problem.
    constexpr std::size_t kNamedAtMost = 8;
    std::vector<std::string> folders;
    for (const FileWatcher::Unwatched& folder : unwatched) {
        if (folders.size() == kNamedAtMost) {
            folders.push_back("... " + std::to_string(unwatched.size() - kNamedAtMost) +
                              " more folders (" + unwatched.back().reason + ")");
            break;
        }
        folders.push_back(folder.folder + " (" + folder.reason + ")");
    }
    {
        std::lock_guard lock(mutex_);
        if (!watcher_ || stopping_)
            return; // switched off meanwhile: nothing is watched, so nothing is missing
        unwatched_ = folders;
    }
    host_.liveFoldersUnwatched(folders);
}

std::shared_ptr<const std::string> LiveReload::pageWithScript(const std::string& file,
                                                              std::uint64_t largest) {
    const auto kept = [this, &file](const FileIdentity& identity) {
        std::lock_guard lock(pagesMutex_);
        for (const PageWithScript& page : pages_)
            if (page.file == file && page.identity == identity)
                return page.text;
        return std::shared_ptr<const std::string>();
    };
    std::optional<FileIdentity> identity = regularFileIdentity(file);
    if (!identity || identity->size > largest)
        return nullptr;
    if (auto text = kept(*identity))
        return text;
    const std::lock_guard reading(pageReading_);
    // Another request may have read this version while this one waited.
    if (auto text = kept(*identity))
        return text;
    const RegularFile opened(file);
    if (!opened.isOpen() || opened.identity().size > largest)
        return nullptr;
    std::optional<std::string> bytes = opened.readAll(largest);
    if (!bytes)
        return nullptr;
    injectLiveScript(*bytes);
    auto text = std::make_shared<const std::string>(std::move(*bytes));
    // A file changed within the file system's clock tick may keep its identity while its bytes
    // change: such a reading serves this request alone.
    if (!opened.identity().settled())
        return text;
    std::lock_guard lock(pagesMutex_);
    std::erase_if(pages_, [&file](const PageWithScript& page) { return page.file == file; });
    pages_.push_front(PageWithScript{file, opened.identity(), text});
    if (pages_.size() > kPagesKept)
        pages_.pop_back();
    return text;
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
    // A page of another site may open the stream (a browser opens it, though the page may not
    // read it) and so push the developer's own pages out of the streams held: refused.
    if (fromAnotherSite(ex.request))
        return answerCrossSiteRefused(ex.response);
    ex.response.contentType = "text/event-stream";
    ex.response.setHeader("Cache-Control", "no-cache");
    ex.response.stream = ex.live->stream();
}

void answerLiveScript(Exchange& ex) {
    ex.response.contentType = "text/javascript";
    ex.response.body.assign(kLiveScript);
}

} // namespace pelotest

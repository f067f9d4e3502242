#include "server/RequestHandler.h"

#include "platform/Network.h"

#include "server/PageSkeleton.h"
#include "server/RequestContext.h"
#include "server/RequestSafety.h"
#include "state/TextCase.h"
#include "state/TextEdits.h"

#include <array>
#include <optional>
#include <utility>

namespace pelotest {

void RequestBusy::enter(const std::function<bool()>& autoSortOn) {
    for (;;) {
        // Asked outside mutex_: the answer needs the state lock, which a running request holds.
        const bool oneAtATime = autoSortOn();
        std::unique_lock lock(mutex_);
        if (!oneAtATime || inProgress_ == 0) {
            ++inProgress_;
            return;
        }
        // A request is in progress; it calls leave() under mutex_, so its wake-up cannot be
        // missed between the test above and this wait.
        released_.wait(lock);
    }
}

void RequestBusy::leave() {
    {
        std::lock_guard lock(mutex_);
        --inProgress_;
    }
    released_.notify_all();
}

bool RequestBusy::tryEnter(bool oneAtATime) {
    std::lock_guard lock(mutex_);
    if (oneAtATime && inProgress_ != 0)
        return false;
    ++inProgress_;
    return true;
}

int RequestBusy::inProgress() const {
    std::lock_guard lock(mutex_);
    return inProgress_;
}

namespace {

bool isIpLiteral(const std::string& host, AddressFamily family) {
    return isAddressLiteral(host, family);
}

bool isListed(std::string_view name, std::string_view allowedHosts) {
    while (!allowedHosts.empty()) {
        const std::size_t comma = allowedHosts.find(',');
        const std::string_view entry = trimBlanks(allowedHosts.substr(0, comma));
        if (!entry.empty() && equalsIgnoreCase(entry, name))
            return true;
        if (comma == std::string_view::npos)
            break;
        allowedHosts.remove_prefix(comma + 1);
    }
    return false;
}

} // namespace

bool isAllowedHost(std::optional<std::string_view> hostHeader, std::string_view allowedHosts) {
    if (!hostHeader)
        return true;
    std::string_view host = trimBlanks(*hostHeader);
    if (!host.empty() && host.front() == '[') { // "[::1]:8080"
        const std::size_t close = host.find(']');
        if (close == std::string_view::npos)
            return false;
        const std::string_view rest = host.substr(close + 1);
        if (!rest.empty() && rest.front() != ':')
            return false;
        return isIpLiteral(std::string(host.substr(1, close - 1)), AddressFamily::IPv6);
    }
    if (const std::size_t colon = host.find(':'); colon != std::string_view::npos) {
        if (host.find(':', colon + 1) != std::string_view::npos)
            return false; // an IPv6 literal must stand in brackets
        host = host.substr(0, colon);
    }
    if (!host.empty() && host.back() == '.') // the fully qualified form "localhost."
        host.remove_suffix(1);
    if (host.empty())
        return false;
    if (equalsIgnoreCase(host, "localhost") || endsWithIgnoreCase(host, ".localhost"))
        return true;
    if (isIpLiteral(std::string(host), AddressFamily::IPv4))
        return true;
    return isListed(host, allowedHosts);
}

namespace {

void answerForbiddenHost(HttpResponse& response) {
    answerForbidden(response, "This server answers only requests addressed to localhost, to an "
                              "IP address or to a host name listed in the key AllowedHosts of "
                              "the section [Const] of its settings file.");
}

constexpr std::string_view kIntPrefix = "/$int/";

// Every document under "/$int", in any case: whatever answers it, no other site may frame it.
bool isBuiltInPage(std::string_view document) {
    return equalsIgnoreCase(document, "/$int") || startsWithIgnoreCase(document, kIntPrefix);
}

// Counts a request as in progress for the lifetime of the object. autoSortOn is the setting as
// read together with the Host check; after a wait it is read again.
class BusyScope {
  public:
    // Takes over a request that RequestBusy::tryEnter has counted already.
    BusyScope(RequestBusy& busy, std::adopt_lock_t) : busy_(busy) {}
    BusyScope(RequestBusy& busy, AppState& state, bool autoSortOn) : busy_(busy) {
        busy_.enter([&state, known = std::optional<bool>(autoSortOn)]() mutable {
            if (known)
                return *std::exchange(known, std::nullopt);
            const StateLock lock(state.mutex);
            return state.settings.variablesAutoSort;
        });
    }
    ~BusyScope() { busy_.leave(); }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

  private:
    RequestBusy& busy_;
};

} // namespace

HttpResponse RequestHandler::handle(const HttpRequest& request) {
    HttpResponse response;
    handle(request, response);
    return response;
}

void RequestHandler::handle(const HttpRequest& request, HttpResponse& response) {
    response.clear();
    bool autoSortOn = false;
    {
        // Declared before the lock, so that the state lock is released before the guard.
        std::optional<BusyScope> entered;
        const StateLock lock(state_.mutex);
        if (!isAllowedHost(request.header("Host"), state_.settings.allowedHosts)) {
            answerForbiddenHost(response);
            return;
        }
        autoSortOn = state_.settings.variablesAutoSort;
        // Most requests find the guard free: they go on under the lock taken for the Host check.
        if (busy_.tryEnter(autoSortOn)) {
            entered.emplace(busy_, std::adopt_lock);
            return route(request, response);
        }
    }
    // Declared in this order so that the state lock is released before the guard.
    const BusyScope busy(busy_, state_, autoSortOn);
    const StateLock lock(state_.mutex);
    route(request, response);
}

void RequestHandler::route(const HttpRequest& request, HttpResponse& response) {
    Exchange ex{request, response, state_, host_, {}, {}};
    ex.paths = computeRequestPaths(state_, &host_, request.document);
    const bool builtIn = isBuiltInPage(request.document);
    if (liveReloadOn(state_)) {
        ex.live = &live_;
        // The folders of the latest request are the ones the open pages come from. The watcher
        // walks new ones on its own thread; the request only leaves them for it.
        const std::uint64_t generation = live_.generation();
        if (!live_.watches(ex.paths.staticRoot, ex.paths.templateFolder))
            runUnlocked(state_.mutex, [this, &ex, generation] {
                live_.watchFolders(ex.paths.staticRoot, ex.paths.templateFolder, generation);
            });
    } else {
        live_.switchOff();
    }
    router_(ex);
    // The built-in pages (the editor above all) may be shown in frames of this server only.
    if (builtIn)
        addFrameGuard(response);
    else if (ex.live && !response.file && !response.body.empty() &&
             startsWithIgnoreCase(response.contentType, "text/html") &&
             isHtmlDocument(ex.answerSource, response.body))
        injectLiveScript(response.body);
}

} // namespace pelotest

#pragma once
// What every request passes before it is answered: the Host check, the guard that lets requests
// run one at a time while auto-sort is on, the state lock and the request context. Which answer a
// request gets is not decided here: the program hands the handler its route table (pages/Routes.h).

#include "server/HttpTypes.h"
#include "server/LiveReload.h"
#include "server/RequestContext.h"
#include "state/AppState.h"
#include "state/Host.h"

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string_view>
#include <utility>

namespace pelotest {

// RequestBusy: while auto-sort is on, requests are handled one at a time; otherwise several may
// be in progress at once. Waiting requests sleep until a request ends (no polling).
class RequestBusy {
  public:
    // Waits while autoSortOn() holds and another request is in progress, then counts this one as
    // in progress. autoSortOn is asked again after every wake-up, never with the guard's own
    // mutex held.
    void enter(const std::function<bool()>& autoSortOn);
    // Counts the request as in progress when it need not wait (oneAtATime: auto-sort is on);
    // false, changing nothing, when it would have to.
    bool tryEnter(bool oneAtATime);
    // Ends a request counted by enter and wakes the waiting ones.
    void leave();
    int inProgress() const;

  private:
    mutable std::mutex mutex_;
    std::condition_variable released_;
    int inProgress_ = 0;
};

// Against DNS rebinding: true when the Host header (without port) is localhost, a name ending in
// ".localhost", an IP address literal, or one of the comma-separated allowedHosts (ignoring
// case). A request without a Host header cannot come from a rebound name and is allowed.
bool isAllowedHost(std::optional<std::string_view> hostHeader, std::string_view allowedHosts);

// The route table: fills ex.response for one request that passed the Host check, with the guard
// entered and the state locked.
using Router = std::function<void(Exchange&)>;

class RequestHandler {
  public:
    RequestHandler(AppState& state, Host& host, Router router, LiveReload::Options live = {})
        : state_(state), host_(host), router_(std::move(router)), live_(host, live) {}

    // Answers one request. Exceptions propagate: the listener answers them with 500.
    HttpResponse handle(const HttpRequest& request);
    // The same into response, which is cleared first (keeping its room).
    void handle(const HttpRequest& request, HttpResponse& response);

    // The event streams of live reload (the number of open pages, for the window).
    const LiveReload& liveReload() const { return live_; }
    // Live reload was switched off while the server runs: the open pages stop listening now,
    // not at the next request.
    void switchLiveReloadOff() { live_.switchOff(); }

  private:
    // The route table's answer, with the guard entered and the state locked.
    void route(const HttpRequest& request, HttpResponse& response) REQUIRES(state_.mutex);

    AppState& state_;
    Host& host_;
    Router router_;
    RequestBusy busy_;
    LiveReload live_;
};

} // namespace pelotest

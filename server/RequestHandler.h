#pragma once
// IdHTTPServer1CommandGet: the request guard, the request context, and the dispatch table.

#include "server/HttpTypes.h"
#include "state/AppState.h"
#include "state/Host.h"

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string_view>

namespace pelotest {

// RequestBusy: while auto-sort is on, requests are handled one at a time; otherwise several may
// be in progress at once. Waiting requests sleep until a request ends (no polling).
class RequestBusy {
  public:
    // Waits while autoSortOn() holds and another request is in progress, then counts this one as
    // in progress. autoSortOn is asked again after every wake-up, never with the guard's own
    // mutex held.
    void enter(const std::function<bool()>& autoSortOn);
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
bool isAllowedHost(const std::optional<std::string>& hostHeader, std::string_view allowedHosts);

class RequestHandler {
  public:
    RequestHandler(AppState& state, Host& host) : state_(state), host_(host) {}

    // Answers one request. Exceptions propagate: the listener answers them with 500.
    HttpResponse handle(const HttpRequest& request);

  private:
    AppState& state_;
    Host& host_;
    RequestBusy busy_;
};

} // namespace pelotest

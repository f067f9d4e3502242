#pragma once
// IdHTTPServer1CommandGet: the request guard, the request context, and the dispatch table.

#include "server/HttpTypes.h"
#include "state/AppState.h"
#include "state/Host.h"

#include <condition_variable>
#include <mutex>

namespace pelotest {

class RequestHandler {
  public:
    RequestHandler(AppState& state, Host& host) : state_(state), host_(host) {}

    // Answers one request. Exceptions propagate: the listener answers them with 500.
    HttpResponse handle(const HttpRequest& request);

  private:
    AppState& state_;
    Host& host_;
    // RequestBusy: while auto-sort is on, one request at a time.
    std::mutex busyMutex_;
    std::condition_variable busyReleased_;
    bool busy_ = false;
};

} // namespace pelotest

#pragma once
// The HTTP/1.1 listener: keep-alive, bounded header, body, connection count and idle time. Every
// request goes to one RequestHandler; its answer (text, or a file passed to the socket by the
// system) is written back here, after the state lock has been released.
//
// Connections are served asynchronously on lanes, one per two cores (at least one; the client
// runs on the same machine): a lane is an event loop with its own thread, and a connection stays
// on the lane that accepted it, on a strand of its own. A request's handler runs on the thread that
// read the request. Handlers may block (the request guard lets them wait for each other while
// auto-sort is on), so a watcher, running only while requests come in, gives a lane whose every
// thread has been inside a handler for a few milliseconds one more thread, which ends once it is no
// longer needed: accepting, the 503 answer of a full server and the other connections of that lane
// go on while handlers wait.

#include "server/HttpTypes.h"
#include "server/RequestHandler.h"
#include "state/AppState.h"
#include "state/Host.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace pelotest {

// What the server accepts from the network before it refuses.
struct ServerLimits {
    // Request line plus header fields; more is answered with 431.
    std::size_t maxHeaderBytes = 16 * 1024;
    // Request body (a form post, a template saved by the editor); more is answered with 413.
    std::uint64_t maxBodyBytes = 8 * 1024 * 1024;
    // Open connections. At the limit, the connection that has waited longest for a request is
    // closed to make room; when every one is busy with a request, one more is answered with 503
    // and closed at once.
    std::size_t maxConnections = 256;
    // Longest wait for the header of a request (also between two keep-alive requests) and for
    // the client to take each piece of a response; the connection is closed after it.
    std::chrono::milliseconds idleTimeout{60'000};
    // The slowest body accepted. Every byte received earns 1/minBodyRate seconds of time to wait
    // for the rest, and at most bodyGrace is ever saved up: a body that falls bodyGrace behind
    // that rate (so also one that stops for bodyGrace) is dropped. While it lags behind, its
    // connection counts as idle, so that a full server closes it to make room.
    std::uint64_t minBodyRate = 16 * 1024; // bytes per second
    std::chrono::milliseconds bodyGrace{10'000};
    // Parameters (query and form entries) of one request; more is answered with 413 before the
    // request is handled, so that no request can keep the state busy for long.
    std::size_t maxParameters = 10'000;
};

class HttpServer {
  public:
    // Answers one parsed request; an exception it throws is answered with 500 and its message.
    using Handler = std::function<HttpResponse(const HttpRequest&)>;

    // Serves the request handler (Host check, guard, context) over state and host; router
    // answers each request that passes them.
    HttpServer(AppState& state, Host& host, Router router, ServerLimits limits = {});
    // Serves any handler with the same connection handling.
    explicit HttpServer(Handler handler, ServerLimits limits = {});
    ~HttpServer(); // stops
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Binds address (an IP literal) and port (0 picks a free one) and starts accepting.
    // Throws std::runtime_error naming address and port when the socket cannot be bound.
    void start(const std::string& address, std::uint16_t port);
    // Closes the listener and every connection and waits for their threads. Idempotent.
    void stop();
    // The same, but waits at most limit for requests still being handled; false when some are
    // still running then (the server must then not be destroyed before the process ends).
    bool stop(std::chrono::milliseconds limit);
    bool running() const;
    // The bound port (meaningful while running).
    std::uint16_t port() const;
    // The pages listening for live reload now (their event streams are open).
    std::size_t liveStreamCount() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace pelotest

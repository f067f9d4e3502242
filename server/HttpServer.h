#pragma once
// The HTTP/1.1 listener: keep-alive, bounded header, body, connection count and idle time. Every
// request goes to one RequestHandler; its answer (text, or a file passed to the socket by the
// system) is written back here, after the state lock has been released.
//
// Connections are served asynchronously on lanes (server/LanePool.h): a connection stays on the
// lane that accepted it, on a strand of its own, and a request's handler runs on the thread that
// read the request. docs/architecture.md explains the design and its measurements.

#include "server/HttpTypes.h"
#include "server/RequestHandler.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
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
    // The slowest client accepted while it takes an answer, by the same rule: every byte the client
    // takes earns 1/minSendRate seconds, at most sendGrace saved up. A connection that lags behind
    // counts as idle, so that clients which ask for large files and never read cannot hold every
    // place of a full server; one that keeps up is never closed to make room. (Alone, a slow reader
    // keeps its connection: only the idle time ends a pause in reading.)
    std::uint64_t minSendRate = 16 * 1024; // bytes per second
    std::chrono::milliseconds sendGrace{10'000};
    // Events of a stream (live reload) that its client has not taken yet; a client that falls this
    // far behind is dropped.
    std::size_t maxStreamBacklog = 64 * 1024;
    // Parameters (query and form entries) of one request; more is answered with 413 before the
    // request is handled, so that no request can keep the state busy for long.
    std::size_t maxParameters = 10'000;
};

// What one built-in page takes on, so that no request holds the state for long.
struct PageLimits {
    // The largest file the browser editor opens (its save could not bring more back).
    static constexpr std::uint64_t editorFileBytes = 8 * 1024 * 1024;
    // Entries of one folder that the file list shows; a line counts the rest.
    static constexpr std::size_t fileListEntries = 10'000;
};

// The line that warns of a server listening on an address that is not loopback (0.0.0.0, ::,
// an address on the network): the control pages, with the editor and the file lists, then answer
// anyone who can reach it. nullopt for a loopback address (127.0.0.0/8, ::1) and for what is no
// IP address (the server does not start there).
std::optional<std::string> openToTheNetworkWarning(const std::string& bindAddress);

class HttpServer {
  public:
    // Answers one parsed request; an exception it throws is answered with 500 and its message.
    using Handler = std::function<HttpResponse(const HttpRequest&)>;

    // Serves handler (Host check, guard, context and route table), which the caller has made.
    explicit HttpServer(std::shared_ptr<RequestHandler> handler, ServerLimits limits = {});
    // Serves any handler with the same connection handling.
    explicit HttpServer(Handler handler, ServerLimits limits = {});
    ~HttpServer(); // stops
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Binds address (an IP literal) and port (0 picks a free one) and starts accepting.
    // Throws std::system_error naming address and port, with the system's error code, when the
    // socket cannot be bound, and std::runtime_error when address is no IP address.
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

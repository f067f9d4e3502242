// The listener: accepts connections, hands each to a lane, keeps the registry of open ones,
// closes those past their deadline and makes room at the connection limit (see HttpServer.h for
// how threads are used). A connection's own life is server/Connection.cpp.

#include "server/HttpServer.h"

#include "platform/Sockets.h"

#include "server/Connection.h"
#include "server/LanePool.h"
#include "server/RequestHandler.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/strand.hpp>

#include <condition_variable>
#include <map>
#include <mutex>
#include <stdexcept>
#include <system_error>
#include <vector>

namespace pelotest {

namespace {

// A full server makes room for a new connection by closing the one that has waited longest for
// its next request; this many closings may be under way at once before it refuses with 503.
constexpr std::size_t kEvictionsInFlight = 16;

// How often the server looks for connections whose read or write has outlasted its deadline. One
// look for all connections replaces a timer armed and cancelled around every read and write (two
// system calls per request); a deadline is kept this much late at most.
constexpr std::chrono::milliseconds kDeadlineSweep{100};

} // namespace

// The listener's state, shared with its connections (ConnectionShared) and with the deleter of
// each connection.
struct ServerCore : ConnectionShared {
    using ConnectionShared::ConnectionShared;

    // The listening socket and its retry timer live on a strand of the first lane.
    net::strand<net::io_context::executor_type> acceptStrand{pool.lane(0).context.get_executor()};
    tcp::acceptor acceptor{acceptStrand};
    net::steady_timer retryTimer{acceptStrand};
    net::steady_timer sweepTimer{acceptStrand};
    std::size_t nextLane = 0; // on the accepting strand
    std::uint16_t boundPort = 0;
    bool started = false;

    // The open connections. The registry holds each only weakly, so it never reaches a freed
    // one; a connection's place is given back by its deleter, once it has been destroyed whole.
    std::mutex mutex; // guards what follows
    std::condition_variable allClosed;
    std::map<std::uint64_t, std::weak_ptr<Connection>> connections;
    std::size_t open = 0; // places taken: connections admitted and not yet destroyed
    std::uint64_t nextId = 0;
    bool stopping = false;

    // Destroys a connection and gives its place back.
    struct Release {
        ServerCore* core;
        std::uint64_t id;
        void operator()(Connection* connection) const {
            delete connection;
            core->giveBack(id);
        }
    };

    void stopPool();
    void acceptNext();
    void sweepNext();
    void onAccepted(Lane& lane, Socket socket);
    bool evictLongestWaiting();
    void giveBack(std::uint64_t id);
    // The connections alive now, each held until the caller lets go. The caller must let go
    // without the mutex held: the last reference destroys a connection, whose deleter takes it.
    std::vector<std::shared_ptr<Connection>> liveConnections();
};

void ServerCore::giveBack(std::uint64_t id) {
    std::lock_guard lock(mutex);
    connections.erase(id);
    --open;
    allClosed.notify_all();
}

std::vector<std::shared_ptr<Connection>> ServerCore::liveConnections() {
    std::vector<std::shared_ptr<Connection>> live;
    std::lock_guard lock(mutex);
    live.reserve(connections.size());
    for (const auto& [id, connection] : connections)
        if (auto alive = connection.lock())
            live.push_back(std::move(alive));
    return live;
}

// With every connection gone: ends the pool threads and closes the listening socket.
void ServerCore::stopPool() {
    pool.stop();
    // No thread runs the pool now.
    beast::error_code ec;
    acceptor.close(ec);
    retryTimer.cancel();
    sweepTimer.cancel();
}

// Closes the connections whose read or write has outlasted its deadline, every kDeadlineSweep,
// until the server stops.
void ServerCore::sweepNext() {
    sweepTimer.expires_after(kDeadlineSweep);
    sweepTimer.async_wait([this](beast::error_code waited) {
        if (waited)
            return;
        {
            std::lock_guard lock(mutex);
            if (stopping)
                return; // every connection is being closed anyway
        }
        const std::int64_t now = steadyNow();
        for (const auto& connection : liveConnections()) {
            const std::int64_t due = connection->deadline();
            if (due != 0 && due <= now)
                connection->expire();
        }
        sweepNext();
    });
}

void ServerCore::acceptNext() {
    Lane& lane = pool.lane(nextLane++);
    acceptor.async_accept(net::make_strand(lane.context),
                          [this, &lane](beast::error_code ec, Socket socket) {
                              if (ec == net::error::operation_aborted || !acceptor.is_open())
                                  return;
                              if (ec) {
                                  // Out of descriptors or memory, for instance: try again shortly
                                  // instead of spinning.
                                  retryTimer.expires_after(std::chrono::milliseconds(100));
                                  retryTimer.async_wait([this](beast::error_code waited) {
                                      if (!waited && acceptor.is_open())
                                          acceptNext();
                                  });
                                  return;
                              }
                              onAccepted(lane, std::move(socket));
                              acceptNext();
                          });
}

void ServerCore::onAccepted(Lane& lane, Socket socket) {
    std::size_t taken = 0;
    {
        std::lock_guard lock(mutex);
        if (stopping)
            return;
        taken = open;
    }
    // Places are only given back meanwhile (connections are admitted on this strand alone).
    if (taken >= limits.maxConnections &&
        (taken >= limits.maxConnections + kEvictionsInFlight || !evictLongestWaiting())) {
        // Answered at once, without a connection: the short reply fits the socket's send buffer.
        static constexpr std::string_view busy = "HTTP/1.1 503 Service Unavailable\r\n"
                                                 "Content-Type: text/plain\r\n"
                                                 "Content-Length: 25\r\n"
                                                 "Retry-After: 1\r\n"
                                                 "Connection: close\r\n\r\n"
                                                 "Too many connections, 503\n";
        beast::error_code ec;
        socket.non_blocking(true, ec);
        socket.write_some(net::buffer(busy.data(), busy.size()), ec);
        socket.shutdown(tcp::socket::shutdown_send, ec);
        socket.close(ec);
        return;
    }
    std::uint64_t id = 0;
    {
        std::lock_guard lock(mutex);
        id = nextId++;
        ++open;
    }
    std::unique_ptr<Connection> made;
    try {
        made = std::make_unique<Connection>(*this, lane, std::move(socket));
    } catch (...) {
        // Out of memory: the connection is dropped, the server keeps running.
        giveBack(id);
        return;
    }
    std::shared_ptr<Connection> connection;
    try {
        connection = std::shared_ptr<Connection>(made.release(), Release{this, id});
    } catch (...) {
        return; // the deleter has destroyed it and given its place back
    }
    bool stopped = false;
    {
        std::lock_guard lock(mutex);
        connections.emplace(id, connection);
        stopped = stopping; // stop() has not seen it: it ends at once
    }
    if (stopped)
        connection->abort();
    connection->start();
}

// Idle connections must not lock others out: at the limit, the connection that has waited longest
// for a request, or lagged longest behind a minimum rate (a body that trickles, a client that does
// not take its answer or its stream's events), is closed (it ends shortly) and the new one is
// served. False when every connection is busy with a request or keeps up, or is a stream waiting
// for events.
bool ServerCore::evictLongestWaiting() {
    std::shared_ptr<Connection> oldest;
    std::int64_t oldestSince = 0;
    const std::int64_t now = steadyNow();
    for (auto& connection : liveConnections()) {
        const std::int64_t since = connection->waitingSince();
        if (since != 0 && since <= now && (!oldest || since < oldestSince)) {
            oldest = std::move(connection);
            oldestSince = since;
        }
    }
    if (!oldest)
        return false;
    oldest->evict();
    return true;
}

struct HttpServer::Impl : ServerCore {
    using ServerCore::ServerCore;
    std::shared_ptr<const RequestHandler> requestHandler; // when serving the request handler
};

HttpServer::HttpServer(std::shared_ptr<RequestHandler> handler, ServerLimits limits)
    : impl_(std::make_unique<Impl>(
          [handler](const HttpRequest& request, HttpResponse& response) {
              handler->handle(request, response);
          },
          limits)) {
    impl_->requestHandler = std::move(handler);
}

HttpServer::HttpServer(Handler handler, ServerLimits limits)
    : impl_(std::make_unique<Impl>(
          [handler = std::move(handler)](const HttpRequest& request, HttpResponse& response) {
              response = handler(request);
          },
          limits)) {}

HttpServer::~HttpServer() {
    stop();
}

std::optional<std::string> openToTheNetworkWarning(const std::string& bindAddress) {
    beast::error_code ec;
    auto ip = net::ip::make_address(bindAddress, ec);
    if (ec)
        return std::nullopt;
    if (ip.is_v6() && ip.to_v6().is_v4_mapped())
        ip = net::ip::make_address_v4(net::ip::v4_mapped, ip.to_v6());
    if (ip.is_loopback())
        return std::nullopt;
    return "warning: listening on " + bindAddress +
           ", not on loopback only: the control pages (/$int, with the editor and the file "
           "lists) are open to anyone on the network who can reach this computer";
}

void HttpServer::start(const std::string& address, std::uint16_t port) {
    if (impl_->started)
        throw std::logic_error("HTTP server already started");
    const std::string where = address + " port " + std::to_string(port);
    beast::error_code ec;
    const auto ip = net::ip::make_address(address, ec);
    if (ec)
        throw std::runtime_error("Cannot listen on " + where + ": \"" + address +
                                 "\" is not an IP address");
    const tcp::endpoint endpoint{ip, port};
    tcp::acceptor& acceptor = impl_->acceptor;
    acceptor.open(endpoint.protocol(), ec);
    if (!ec)
        if (!takePortForListening(acceptor.native_handle()))
            ec = net::error::access_denied;
    if (!ec)
        acceptor.bind(endpoint, ec);
    if (!ec)
        acceptor.listen(net::socket_base::max_listen_connections, ec);
    if (ec) {
        beast::error_code ignored;
        acceptor.close(ignored);
        // The code in the system's own terms, so that a caller can tell a port in use from one
        // it may not open.
        throw std::system_error(std::error_code(ec.value(), std::system_category()),
                                "Cannot listen on " + where);
    }
    impl_->boundPort = acceptor.local_endpoint().port();
    {
        std::lock_guard lock(impl_->mutex);
        impl_->stopping = false;
    }
    // Queued before any thread runs the pool, so nothing else touches the acceptor yet.
    impl_->acceptNext();
    impl_->sweepNext();
    try {
        impl_->pool.start();
    } catch (...) {
        impl_->stopPool();
        throw;
    }
    impl_->started = true;
}

void HttpServer::stop() {
    if (!impl_->started)
        return;
    if (stop(std::chrono::milliseconds::zero()))
        return;
    {
        std::unique_lock lock(impl_->mutex);
        impl_->allClosed.wait(lock, [this] { return impl_->open == 0; });
    }
    impl_->stopPool();
    impl_->started = false;
}

bool HttpServer::stop(std::chrono::milliseconds limit) {
    if (!impl_->started)
        return true;
    {
        std::lock_guard lock(impl_->mutex);
        if (!impl_->stopping) {
            impl_->stopping = true;
            net::post(impl_->acceptStrand, [core = impl_.get()] {
                beast::error_code ec;
                core->acceptor.close(ec);
                core->retryTimer.cancel();
                core->sweepTimer.cancel();
            });
        }
    }
    // A connection registered later sees stopping and ends itself (onAccepted).
    for (const auto& connection : impl_->liveConnections())
        connection->abort();
    // A connection aborted while it waits for the network ends at once; one whose request is
    // still being handled ends when the handler returns.
    std::unique_lock lock(impl_->mutex);
    if (!impl_->allClosed.wait_for(lock, limit, [this] { return impl_->open == 0; }))
        return false;
    lock.unlock();
    impl_->stopPool();
    impl_->started = false;
    return true;
}

bool HttpServer::running() const {
    return impl_->started;
}

std::uint16_t HttpServer::port() const {
    return impl_->boundPort;
}

std::size_t HttpServer::liveStreamCount() const {
    return impl_->requestHandler ? impl_->requestHandler->liveReload().streamCount() : 0;
}

} // namespace pelotest

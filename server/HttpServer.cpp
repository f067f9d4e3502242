// The listener and the life of one connection. Each connection has its own thread and its own
// io_context, so that every network operation can run under a deadline (Beast's tcp_stream)
// while the connection still reads as one straight function.

#include "server/HttpServer.h"

#include "server/PageSkeleton.h"
#include "server/RequestHandler.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/empty_body.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/string_body.hpp>
#include <boost/beast/http/write.hpp>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

namespace pelotest {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = net::ip::tcp;

namespace {

constexpr std::size_t kFileChunk = 64 * 1024;
// After an error answer the server reads (and drops) what the client still sends for a moment,
// so that closing does not reset the connection before the client has read the answer.
constexpr std::chrono::milliseconds kLingerTime{1000};
constexpr std::size_t kLingerBytes = 1024 * 1024;
// A full server makes room for a new connection by closing the one that has waited longest for
// its next request; this many closings may be under way at once before it refuses with 503.
constexpr std::size_t kEvictionsInFlight = 16;

using Clock = std::chrono::steady_clock;

std::int64_t steadyNow() {
    return Clock::now().time_since_epoch().count();
}

// A body that has lagged behind the minimum rate for this long (or half the grace, when that is
// shorter) counts as stalled: its connection may be closed to make room.
constexpr std::chrono::milliseconds kBodyStall{1000};

// Header values come partly from request data; a line break in one must not start a new field.
std::string headerSafe(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c == '\r' || c == '\n' || c == '\0')
            c = ' ';
    return out;
}

HttpResponse errorResponse(int status, std::string message) {
    HttpResponse response;
    response.status = status;
    response.contentType = "text/plain";
    response.body = std::move(message);
    return response;
}

struct Outcome {
    bool keepAlive = false;
};

// Requests whose framing the server does not take: HTTP/1.1 requires a Host field, and a body
// in any transfer coding but chunked could not be read correctly.
template <typename Header>
std::optional<std::pair<http::status, std::string>> checkFraming(const Header& header) {
    if (header.version() >= 11 && header.find(http::field::host) == header.end())
        return std::pair{http::status::bad_request, std::string("Missing Host header\n")};
    if (const auto coding = header.find(http::field::transfer_encoding); coding != header.end()) {
        std::string_view value = coding->value();
        while (!value.empty() && (value.front() == ' ' || value.front() == '\t'))
            value.remove_prefix(1);
        while (!value.empty() && (value.back() == ' ' || value.back() == '\t'))
            value.remove_suffix(1);
        if (!beast::iequals(value, "chunked"))
            return std::pair{http::status::not_implemented,
                             std::string("Transfer-Encoding not supported\n")};
    }
    return std::nullopt;
}

} // namespace

// One connection: reads requests, lets the handler answer them and writes the answers, until the
// client or an error ends it, the idle time passes or the server stops.
class Connection {
  public:
    Connection(const HttpServer::Handler& handler, const ServerLimits& limits,
               std::unique_ptr<net::io_context> context, tcp::socket socket)
        : handler_(handler), limits_(limits), context_(std::move(context)),
          stream_(std::move(socket)) {
        // Answers go out as soon as they are written: a header and a body written one after the
        // other would otherwise wait for the client's delayed acknowledgement (40 ms).
        beast::error_code ec;
        stream_.socket().set_option(tcp::no_delay(true), ec);
    }

    ~Connection() {
        beast::error_code ec;
        stream_.socket().close(ec);
    }

    void run();

    // Since when the connection has been waiting for (the header of) its next request, or its
    // body has been lagging behind the minimum rate, in steady-clock ticks (a later time while a
    // body keeps up); 0 while it answers or has been told to close.
    std::int64_t waitingSince() const { return waitingSince_; }

    // From another thread, with the server's mutex held: closes a connection that waits for a
    // request to make room for a new one.
    void evict() {
        waitingSince_ = 0;
        abort();
    }

    // From another thread: closes the socket on the connection's own thread as soon as it waits
    // for the network, which ends any read or write in progress.
    void abort() {
        net::post(*context_, [this] {
            beast::error_code ec;
            stream_.socket().shutdown(tcp::socket::shutdown_both, ec);
            stream_.socket().close(ec);
        });
    }

  private:
    // Runs one asynchronous operation to its end (or its deadline) on this thread.
    template <typename Start>
    beast::error_code await(Start&& start) {
        beast::error_code result = net::error::operation_aborted;
        start([&result](beast::error_code ec, std::size_t) { result = ec; });
        context_->restart();
        context_->run();
        return result;
    }

    beast::error_code writeAll(net::const_buffer data) {
        stream_.expires_after(limits_.idleTimeout);
        return await([&](auto done) { net::async_write(stream_, data, done); });
    }

    template <typename Message>
    beast::error_code writeMessage(Message& message) {
        stream_.expires_after(limits_.idleTimeout);
        return await([&](auto done) { http::async_write(stream_, message, done); });
    }

    bool serveOne();
    beast::error_code readBody(http::request_parser<http::string_body>& parser);
    Outcome answer(const http::request<http::string_body>& wire);
    // Takes the body of response (so a large page is not copied once more).
    bool writeTextResponse(HttpResponse& response, unsigned version, bool keepAlive, bool headOnly);
    bool writeFileResponse(const HttpResponse& response, unsigned version, bool keepAlive,
                           bool headOnly);
    template <typename Body>
    void setHeaders(http::response<Body>& message, const HttpResponse& response, bool keepAlive);
    void refuse(http::status status, std::string message, unsigned version);
    void lingeringClose();

    const HttpServer::Handler& handler_;
    const ServerLimits& limits_;
    std::unique_ptr<net::io_context> context_;
    beast::tcp_stream stream_;
    beast::flat_buffer buffer_;
    std::atomic<std::int64_t> waitingSince_{0};
};

void Connection::run() {
    while (serveOne()) {
    }
    beast::error_code ec;
    stream_.socket().shutdown(tcp::socket::shutdown_send, ec);
}

// Reads one request and answers it; false when the connection is to be closed.
bool Connection::serveOne() {
    http::request_parser<http::string_body> parser;
    parser.header_limit(static_cast<std::uint32_t>(limits_.maxHeaderBytes));
    parser.body_limit(limits_.maxBodyBytes);

    // One deadline covers the whole header, so a client that trickles bytes cannot hold the
    // connection longer than one that sends nothing; the body has its own rule (readBody).
    stream_.expires_after(limits_.idleTimeout);
    waitingSince_ = steadyNow();
    beast::error_code ec =
        await([&](auto done) { http::async_read_header(stream_, buffer_, parser, done); });
    waitingSince_ = 0;
    if (!ec) {
        if (const auto refusal = checkFraming(parser.get())) {
            refuse(refusal->first, refusal->second, parser.get().version());
            return false;
        }
    }
    if (!ec && !parser.is_done()) {
        auto& header = parser.get();
        if (beast::iequals(header[http::field::expect], "100-continue")) {
            http::response<http::empty_body> go{http::status::continue_, header.version()};
            if (writeMessage(go))
                return false;
        }
        ec = readBody(parser);
    }
    const unsigned version = parser.is_header_done() ? parser.get().version() : 11;
    if (ec == http::error::header_limit) {
        refuse(http::status::request_header_fields_too_large, "Request header too large\n",
               version);
        return false;
    }
    if (ec == http::error::body_limit) {
        refuse(http::status::payload_too_large, "Request body too large\n", version);
        return false;
    }
    if (ec && ec.category() == beast::error_code(http::error::bad_target).category() &&
        ec != http::error::end_of_stream && ec != http::error::partial_message) {
        refuse(http::status::bad_request, "Bad request\n", version);
        return false;
    }
    if (ec) // end of stream, timeout, reset, server stopping
        return false;
    return answer(parser.get()).keepAlive;
}

// Reads the body no slower than the minimum rate (see ServerLimits::bodyGrace).
beast::error_code Connection::readBody(http::request_parser<http::string_body>& parser) {
    const auto grace = limits_.bodyGrace;
    const auto stall = std::min<Clock::duration>(kBodyStall, grace / 2);
    Clock::time_point due = Clock::now() + grace;
    while (!parser.is_done()) {
        waitingSince_ = (due - grace + stall).time_since_epoch().count();
        stream_.expires_at(due);
        std::size_t got = 0;
        const beast::error_code ec = await([&](auto done) {
            http::async_read_some(stream_, buffer_, parser,
                                  [&got, done](beast::error_code e, std::size_t n) mutable {
                                      got = n;
                                      done(e, n);
                                  });
        });
        if (ec) {
            waitingSince_ = 0;
            return ec;
        }
        const auto earned = std::chrono::microseconds(static_cast<std::int64_t>(
            got * 1'000'000 / std::max<std::uint64_t>(limits_.minBodyRate, 1)));
        due = std::min(Clock::now() + grace, due + earned);
    }
    waitingSince_ = 0;
    return {};
}

Outcome Connection::answer(const http::request<http::string_body>& wire) {
    const unsigned version = wire.version();
    const auto method = wire.method();
    if (method != http::verb::get && method != http::verb::post && method != http::verb::head) {
        HttpResponse response = errorResponse(405, "Method not allowed\n");
        response.setHeader("Allow", "GET, HEAD, POST");
        writeTextResponse(response, version, false, false);
        lingeringClose();
        return {};
    }

    std::vector<std::pair<std::string, std::string>> headers;
    for (const auto& field : wire)
        headers.emplace_back(std::string(field.name_string()), std::string(field.value()));
    const auto request = makeHttpRequest(std::string(wire.method_string()), wire.target(),
                                         wire.body(), std::move(headers));
    if (!request) {
        refuse(http::status::bad_request, "Bad request target\n", version);
        return {};
    }
    if (request->params.size() > limits_.maxParameters) {
        HttpResponse refused;
        refused.status = 413;
        refused.contentType = "text/html";
        refused.body =
            refusalPage("413 Payload Too Large", "This request has more than " +
                                                     std::to_string(limits_.maxParameters) +
                                                     " parameters. Nothing was changed.");
        return {writeTextResponse(refused, version, wire.keep_alive(), false) && wire.keep_alive()};
    }

    HttpResponse response;
    try {
        response = handler_(*request);
    } catch (const std::exception& e) {
        response = errorResponse(500, e.what());
    } catch (...) {
        response = errorResponse(500, "Unknown error\n");
    }

    const bool keepAlive = wire.keep_alive();
    const bool headOnly = method == http::verb::head;
    const bool written = response.file ? writeFileResponse(response, version, keepAlive, headOnly)
                                       : writeTextResponse(response, version, keepAlive, headOnly);
    return {written && keepAlive};
}

template <typename Body>
void Connection::setHeaders(http::response<Body>& message, const HttpResponse& response,
                            bool keepAlive) {
    message.result(static_cast<unsigned>(response.status));
    if (!response.contentType.empty())
        message.set(http::field::content_type, headerSafe(response.contentType));
    bool hasCacheControl = false;
    for (const auto& [name, value] : response.headers) {
        if (beast::iequals(name, "Cache-Control"))
            hasCacheControl = true;
        message.set(headerSafe(name), headerSafe(value));
    }
    // Generated pages change with every request; files carry their own caching headers.
    if (!hasCacheControl && !response.file)
        message.set(http::field::cache_control, "no-store");
    message.keep_alive(keepAlive);
}

bool Connection::writeTextResponse(HttpResponse& response, unsigned version, bool keepAlive,
                                   bool headOnly) {
    if (response.status == 304 || response.status == 204 || response.status < 200) {
        // These answers never have a body, so they carry no length either.
        http::response<http::empty_body> message{http::status::ok, version};
        setHeaders(message, response, keepAlive);
        return !writeMessage(message);
    }
    if (headOnly) {
        http::response<http::empty_body> message{http::status::ok, version};
        setHeaders(message, response, keepAlive);
        message.content_length(response.body.size());
        return !writeMessage(message);
    }
    http::response<http::string_body> message{http::status::ok, version};
    setHeaders(message, response, keepAlive);
    message.body() = std::move(response.body);
    message.prepare_payload();
    return !writeMessage(message);
}

// Sends the header, then the file piece by piece; the file is never held in memory whole.
bool Connection::writeFileResponse(const HttpResponse& response, unsigned version, bool keepAlive,
                                   bool headOnly) {
    const FileBody& file = *response.file;
    if (file.bytes && file.offset + file.length <= file.bytes->size()) {
        if (headOnly) {
            http::response<http::empty_body> message{http::status::ok, version};
            setHeaders(message, response, keepAlive);
            message.content_length(file.length);
            return !writeMessage(message);
        }
        http::response<http::string_body> message{http::status::ok, version};
        setHeaders(message, response, keepAlive);
        message.body().assign(*file.bytes, static_cast<std::size_t>(file.offset),
                              static_cast<std::size_t>(file.length));
        message.content_length(file.length);
        return !writeMessage(message);
    }
    std::ifstream in(file.path, std::ios::binary);
    if (in)
        in.seekg(static_cast<std::streamoff>(file.offset));
    if (!in) {
        const int error = errno;
        HttpResponse failed = errorResponse(500, "Cannot read " + file.path.string() + ": " +
                                                     std::strerror(error) + "\n");
        return writeTextResponse(failed, version, keepAlive, headOnly);
    }

    if (!headOnly && file.length <= kFileChunk) {
        // A small file leaves with its header in one write (one system call, one segment).
        http::response<http::string_body> message{http::status::ok, version};
        setHeaders(message, response, keepAlive);
        std::string& body = message.body();
        body.resize(static_cast<std::size_t>(file.length));
        in.read(body.data(), static_cast<std::streamsize>(body.size()));
        if (static_cast<std::uint64_t>(in.gcount()) != file.length)
            return false; // the file shrank: the promised length cannot be kept, so close
        message.content_length(file.length);
        return !writeMessage(message);
    }

    http::response<http::empty_body> message{http::status::ok, version};
    setHeaders(message, response, keepAlive);
    message.content_length(file.length);
    if (writeMessage(message))
        return false;
    if (headOnly)
        return true;

    std::vector<char> chunk(kFileChunk);
    std::uint64_t left = file.length;
    while (left > 0) {
        const auto want = static_cast<std::streamsize>(std::min<std::uint64_t>(left, kFileChunk));
        in.read(chunk.data(), want);
        const std::streamsize got = in.gcount();
        if (got <= 0)
            return false; // the file shrank: the promised length cannot be kept, so close
        if (writeAll(net::buffer(chunk.data(), static_cast<std::size_t>(got))))
            return false;
        left -= static_cast<std::uint64_t>(got);
    }
    return true;
}

void Connection::refuse(http::status status, std::string message, unsigned version) {
    HttpResponse response = errorResponse(static_cast<int>(status), std::move(message));
    if (writeTextResponse(response, version, false, false))
        lingeringClose();
}

void Connection::lingeringClose() {
    beast::error_code ec;
    stream_.socket().shutdown(tcp::socket::shutdown_send, ec);
    std::array<char, 16 * 1024> sink{};
    std::size_t drained = 0;
    stream_.expires_after(kLingerTime);
    while (drained < kLingerBytes) {
        std::size_t got = 0;
        ec = await([&](auto done) {
            stream_.async_read_some(net::buffer(sink),
                                    [&got, done](beast::error_code e, std::size_t n) mutable {
                                        got = n;
                                        done(e, n);
                                    });
        });
        if (ec)
            break;
        drained += got;
    }
}

struct HttpServer::Impl {
    Impl(Handler handler, ServerLimits limits) : handler(std::move(handler)), limits(limits) {}

    const Handler handler;
    const ServerLimits limits;

    net::io_context acceptContext;
    tcp::acceptor acceptor{acceptContext};
    net::steady_timer retryTimer{acceptContext};
    std::thread acceptThread;
    std::uint16_t boundPort = 0;
    bool started = false;

    std::mutex mutex; // guards what follows
    std::condition_variable allClosed;
    std::map<std::uint64_t, Connection*> connections;
    std::size_t threads = 0; // connection threads still running
    std::uint64_t nextId = 0;
    bool stopping = false;

    void acceptNext();
    void onAccepted(std::unique_ptr<net::io_context> context, tcp::socket socket);
    bool evictLongestWaiting();
    void serve(std::uint64_t id, std::unique_ptr<net::io_context> context, tcp::socket socket);
};

void HttpServer::Impl::acceptNext() {
    auto context = std::make_unique<net::io_context>(1);
    auto socket = std::make_unique<tcp::socket>(*context);
    tcp::socket& peer = *socket;
    acceptor.async_accept(peer, [this, context = std::move(context),
                                 socket = std::move(socket)](beast::error_code ec) mutable {
        if (ec == net::error::operation_aborted || !acceptor.is_open())
            return;
        if (ec) {
            // Out of descriptors or memory, for instance: try again shortly instead of spinning.
            retryTimer.expires_after(std::chrono::milliseconds(100));
            retryTimer.async_wait([this](beast::error_code waited) {
                if (!waited && acceptor.is_open())
                    acceptNext();
            });
            return;
        }
        onAccepted(std::move(context), std::move(*socket));
        acceptNext();
    });
}

void HttpServer::Impl::onAccepted(std::unique_ptr<net::io_context> context, tcp::socket socket) {
    std::lock_guard lock(mutex);
    if (stopping)
        return;
    if (threads >= limits.maxConnections &&
        (threads >= limits.maxConnections + kEvictionsInFlight || !evictLongestWaiting())) {
        // Answered here without a thread: the short reply fits the socket's send buffer.
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
    const std::uint64_t id = nextId++;
    try {
        std::thread(&Impl::serve, this, id, std::move(context), std::move(socket)).detach();
        ++threads;
    } catch (const std::system_error&) {
        // No thread to be had: the connection is dropped, the server keeps running.
    }
}

// Idle connections must not lock others out: at the limit, the connection that has waited longest
// for a request is closed (its thread ends shortly) and the new one is served. With the mutex
// held. False when every connection is busy with a request.
bool HttpServer::Impl::evictLongestWaiting() {
    Connection* oldest = nullptr;
    std::int64_t oldestSince = 0;
    const std::int64_t now = steadyNow();
    for (const auto& [id, connection] : connections) {
        const std::int64_t since = connection->waitingSince();
        if (since != 0 && since <= now && (!oldest || since < oldestSince)) {
            oldest = connection;
            oldestSince = since;
        }
    }
    if (!oldest)
        return false;
    oldest->evict();
    return true;
}

void HttpServer::Impl::serve(std::uint64_t id, std::unique_ptr<net::io_context> context,
                             tcp::socket socket) {
    {
        Connection connection(handler, limits, std::move(context), std::move(socket));
        {
            std::lock_guard lock(mutex);
            if (stopping) {
                connection.abort();
            }
            connections.emplace(id, &connection);
        }
        try {
            connection.run();
        } catch (...) {
            // A failure of one connection must not end the process; the socket closes below.
        }
        std::lock_guard lock(mutex);
        connections.erase(id);
    }
    // Nothing of this object is touched after the count drops: stop() may destroy it then.
    std::lock_guard lock(mutex);
    --threads;
    allClosed.notify_all();
}

HttpServer::HttpServer(AppState& state, Host& host, Router router, ServerLimits limits) {
    auto handler = std::make_shared<RequestHandler>(state, host, std::move(router));
    impl_ = std::make_unique<Impl>(
        [handler](const HttpRequest& request) { return handler->handle(request); }, limits);
}

HttpServer::HttpServer(Handler handler, ServerLimits limits)
    : impl_(std::make_unique<Impl>(std::move(handler), limits)) {}

HttpServer::~HttpServer() {
    stop();
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
        acceptor.set_option(net::socket_base::reuse_address(true), ec);
    if (!ec)
        acceptor.bind(endpoint, ec);
    if (!ec)
        acceptor.listen(net::socket_base::max_listen_connections, ec);
    if (ec) {
        beast::error_code ignored;
        acceptor.close(ignored);
        throw std::runtime_error("Cannot listen on " + where + ": " + ec.message());
    }
    impl_->boundPort = acceptor.local_endpoint().port();
    impl_->started = true;
    {
        std::lock_guard lock(impl_->mutex);
        impl_->stopping = false;
    }
    impl_->acceptNext();
    impl_->acceptThread = std::thread([this] { impl_->acceptContext.run(); });
}

void HttpServer::stop() {
    if (!impl_->started)
        return;
    stop(std::chrono::milliseconds::zero());
    std::unique_lock lock(impl_->mutex);
    impl_->allClosed.wait(lock, [this] { return impl_->threads == 0; });
    lock.unlock();
    impl_->acceptContext.restart();
    impl_->started = false;
}

bool HttpServer::stop(std::chrono::milliseconds limit) {
    if (!impl_->started)
        return true;
    if (impl_->acceptThread.joinable()) {
        net::post(impl_->acceptContext, [this] {
            beast::error_code ec;
            impl_->acceptor.close(ec);
            impl_->retryTimer.cancel();
        });
        impl_->acceptThread.join();
    }
    std::unique_lock lock(impl_->mutex);
    impl_->stopping = true;
    for (auto& [id, connection] : impl_->connections)
        connection->abort();
    // A connection aborted while it waits for the network ends at once; one whose request is
    // still being handled ends when the handler returns.
    if (!impl_->allClosed.wait_for(lock, limit, [this] { return impl_->threads == 0; }))
        return false;
    lock.unlock();
    impl_->acceptContext.restart();
    impl_->started = false;
    return true;
}

bool HttpServer::running() const {
    return impl_->started;
}

std::uint16_t HttpServer::port() const {
    return impl_->boundPort;
}

} // namespace pelotest

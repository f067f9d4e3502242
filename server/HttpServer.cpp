// The listener and the life of one connection: reading its requests, handling them and writing
// the answers (see HttpServer.h for how threads are used). The connection's event stream is in
// ConnectionStream.cpp.

#include "server/HttpServer.h"

#include "server/Connection.h"
#include "server/LanePool.h"
#include "server/PageSkeleton.h"
#include "server/RequestHandler.h"
#include "server/ResponseHead.h"
#include "state/TextEdits.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/strand.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/write.hpp>

#include <algorithm>
#include <array>
#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <optional>
#include <sys/sendfile.h>
#include <system_error>
#include <unistd.h>

namespace pelotest {

namespace {

constexpr std::size_t kFileChunk = 64 * 1024;
// The most one sendfile call passes at once, so that one large file does not keep its thread
// from the other connections for long.
constexpr std::size_t kSendfileStep = 1024 * 1024;
// The room an idle connection keeps for the body of its next answer.
constexpr std::size_t kKeptBody = 16 * 1024;
// After an error answer the server reads (and drops) what the client still sends for a moment,
// so that closing does not reset the connection before the client has read the answer.
constexpr std::chrono::milliseconds kLingerTime{1000};
constexpr std::size_t kLingerBytes = 1024 * 1024;
// A full server makes room for a new connection by closing the one that has waited longest for
// its next request; this many closings may be under way at once before it refuses with 503.
constexpr std::size_t kEvictionsInFlight = 16;

// A body or a client taking an answer that has lagged behind its minimum rate for this long (or
// half the grace, when that is shorter) counts as stalled: its connection may be closed to make
// room.
constexpr std::chrono::milliseconds kStall{1000};

// When a transfer that must be done by due, with at most grace saved up, starts to count as
// stalled.
std::int64_t stalledFrom(Clock::time_point due, std::chrono::milliseconds grace) {
    const auto stall = std::min<Clock::duration>(kStall, grace / 2);
    return (due - grace + stall).time_since_epoch().count();
}

// The time bytes earn at rate bytes per second.
std::chrono::microseconds earnedBy(std::size_t bytes, std::uint64_t rate) {
    return std::chrono::microseconds(
        static_cast<std::int64_t>(bytes * 1'000'000 / std::max<std::uint64_t>(rate, 1)));
}

// How often the server looks for connections whose read or write has outlasted its deadline. One
// look for all connections replaces a timer armed and cancelled around every read and write (two
// system calls per request); a deadline is kept this much late at most.
constexpr std::chrono::milliseconds kDeadlineSweep{100};

HttpResponse errorResponse(int status, std::string message) {
    HttpResponse response;
    response.status = status;
    response.contentType = "text/plain";
    response.body = std::move(message);
    return response;
}

// Requests whose framing the server does not take: HTTP/1.1 requires a Host field, and a body
// in any transfer coding but chunked could not be read correctly.
template <typename Header>
std::optional<std::pair<http::status, std::string>> checkFraming(const Header& header) {
    if (header.version() >= 11 && header.find(http::field::host) == header.end())
        return std::pair{http::status::bad_request, std::string("Missing Host header\n")};
    if (const auto coding = header.find(http::field::transfer_encoding); coding != header.end()) {
        if (!beast::iequals(trimBlanks(coding->value()), "chunked"))
            return std::pair{http::status::not_implemented,
                             std::string("Transfer-Encoding not supported\n")};
    }
    return std::nullopt;
}

} // namespace

// What the server and its connections share.
struct ServerCore {
    // Fills in the response of one request; it holds the previous answer, whose room it may use.
    using Filler = std::function<void(const HttpRequest&, HttpResponse&)>;

    ServerCore(Filler handler, ServerLimits limits) : handler(std::move(handler)), limits(limits) {}

    const Filler handler;
    const ServerLimits limits;

    LanePool pool;
    // The listening socket and its retry timer live on a strand of the first lane.
    net::strand<net::io_context::executor_type> acceptStrand{pool.lane(0).context.get_executor()};
    tcp::acceptor acceptor{acceptStrand};
    net::steady_timer retryTimer{acceptStrand};
    net::steady_timer sweepTimer{acceptStrand};
    std::size_t nextLane = 0; // on the accepting strand
    std::uint16_t boundPort = 0;
    bool started = false;

    std::mutex mutex; // guards what follows
    std::condition_variable allClosed;
    std::map<std::uint64_t, Connection*> connections;
    std::size_t open = 0; // connections not yet destroyed
    std::uint64_t nextId = 0;
    bool stopping = false;

    void stopPool();
    void acceptNext();
    void sweepNext();
    void onAccepted(Lane& lane, Socket socket);
    bool evictLongestWaiting();
};

Connection::Registration::~Registration() {
    if (!armed)
        return;
    // Nothing of the connection is touched after the count drops: stop() may go on then.
    std::lock_guard lock(core.mutex);
    core.connections.erase(id);
    --core.open;
    core.allClosed.notify_all();
}

Connection::Connection(ServerCore& core, Lane& lane, std::uint64_t id, Socket socket)
    : registration_{core, id}, core_(core), lane_(lane), limits_(core.limits),
      socket_(std::move(socket)) {
    // Answers go out as soon as they are written: a header and a body written one after the
    // other would otherwise wait for the client's delayed acknowledgement (40 ms).
    beast::error_code ec;
    socket_.set_option(tcp::no_delay(true), ec);
    // Writes are tried at once (sendHead, sendFileSteps) and must never block the lane's thread;
    // the asynchronous reads and writes behave the same either way.
    socket_.non_blocking(true, ec);
    registration_.armed = true;
}

void Connection::start() {
    net::post(socket_.get_executor(), [self = shared_from_this()] { self->readHeader(); });
}

void Connection::closeSocket() {
    beast::error_code ec;
    socket_.shutdown(tcp::socket::shutdown_both, ec);
    socket_.close(ec);
}

void Connection::finish() {
    beast::error_code ec;
    socket_.shutdown(tcp::socket::shutdown_send, ec);
    // The socket closes when the last handler holding the connection has returned.
}

// Reads the header of the next request. One deadline covers the whole header, so a client that
// trickles bytes cannot hold the connection longer than one that sends nothing; the body has its
// own rule (readBody).
void Connection::readHeader() {
    parser_.emplace();
    parser_->header_limit(static_cast<std::uint32_t>(limits_.maxHeaderBytes));
    parser_->body_limit(limits_.maxBodyBytes);
    const Clock::time_point now = Clock::now();
    deadline_ = (now + limits_.idleTimeout).time_since_epoch().count();
    waitingSince_ = now.time_since_epoch().count();
    http::async_read_header(
        socket_, buffer_, *parser_,
        [self = shared_from_this()](beast::error_code ec, std::size_t) { self->onHeader(ec); });
}

void Connection::onHeader(beast::error_code ec) {
    waitingSince_ = 0;
    deadline_ = 0;
    if (ec || parser_->is_done()) {
        if (!ec)
            if (const auto refusal = checkFraming(parser_->get()))
                return refuse(refusal->first, refusal->second, parser_->get().version());
        return onRequest(ec);
    }
    auto& header = parser_->get();
    if (const auto refusal = checkFraming(header))
        return refuse(refusal->first, refusal->second, header.version());
    bodyDue_ = Clock::now() + limits_.bodyGrace;
    if (beast::iequals(header[http::field::expect], "100-continue")) {
        keepAlive_ = true;
        send(EmptyMessage{http::status::continue_, header.version()}, &Connection::afterAnswer);
        // afterAnswer reads on: the body, as the parser is not done yet.
        return;
    }
    readBody();
}

// Reads the body no slower than the minimum rate (see ServerLimits::bodyGrace).
void Connection::readBody() {
    waitingSince_ = stalledFrom(bodyDue_, limits_.bodyGrace);
    deadline_ = bodyDue_.time_since_epoch().count();
    http::async_read_some(socket_, buffer_, *parser_,
                          [self = shared_from_this()](beast::error_code ec, std::size_t got) {
                              self->onBody(ec, got);
                          });
}

void Connection::onBody(beast::error_code ec, std::size_t got) {
    deadline_ = 0;
    if (ec) {
        waitingSince_ = 0;
        return onRequest(ec);
    }
    bodyDue_ =
        std::min(Clock::now() + limits_.bodyGrace, bodyDue_ + earnedBy(got, limits_.minBodyRate));
    if (!parser_->is_done())
        return readBody();
    waitingSince_ = 0;
    onRequest({});
}

// The request is read whole (or reading it failed).
void Connection::onRequest(beast::error_code ec) {
    const unsigned version = parser_->is_header_done() ? parser_->get().version() : 11;
    if (ec == http::error::header_limit)
        return refuse(http::status::request_header_fields_too_large, "Request header too large\n",
                      version);
    if (ec == http::error::body_limit)
        return refuse(http::status::payload_too_large, "Request body too large\n", version);
    if (ec && ec.category() == beast::error_code(http::error::bad_target).category() &&
        ec != http::error::end_of_stream && ec != http::error::partial_message)
        return refuse(http::status::bad_request, "Bad request\n", version);
    if (ec) // end of stream, timeout, reset, server stopping
        return finish();
    answer();
}

void Connection::answer() {
    const auto& wire = parser_->get();
    const unsigned version = wire.version();
    const auto method = wire.method();
    if (method != http::verb::get && method != http::verb::post && method != http::verb::head) {
        response_ = errorResponse(405, "Method not allowed\n");
        response_.setHeader("Allow", "GET, HEAD, POST");
        return writeText(response_, version, false, false, &Connection::afterRefusal);
    }

    // The fields go into the strings of the previous request, which keep their room.
    auto& headers = request_.headers;
    std::size_t count = 0;
    for (const auto& field : wire) {
        if (count == headers.size())
            headers.emplace_back();
        headers[count].first.assign(field.name_string());
        headers[count].second.assign(field.value());
        ++count;
    }
    headers.resize(count);
    if (!readHttpRequest(request_, wire.method_string(), wire.target(), wire.body(),
                         limits_.maxParameters))
        return refuse(http::status::bad_request, "Bad request target\n", version);
    keepAlive_ = wire.keep_alive();
    if (request_.params.size() > limits_.maxParameters) {
        response_.clear();
        answerTooLarge(response_, "This request has more than " +
                                      std::to_string(limits_.maxParameters) +
                                      " parameters. Nothing was changed.");
        return writeText(response_, version, keepAlive_, false, &Connection::afterAnswer);
    }

    core_.pool.enterHandler(lane_);
    try {
        core_.handler(request_, response_);
    } catch (const std::exception& e) {
        response_ = errorResponse(500, e.what());
    } catch (...) {
        response_ = errorResponse(500, "Unknown error\n");
    }
    LanePool::leaveHandler(lane_);

    const bool headOnly = method == http::verb::head;
    if (response_.stream)
        return startStream(version, headOnly);
    if (response_.file)
        writeFile(response_, version, keepAlive_, headOnly, &Connection::afterAnswer);
    else
        writeText(response_, version, keepAlive_, headOnly, &Connection::afterAnswer);
}

void Connection::afterAnswer(bool written) {
    message_ = std::monostate{};
    file_.reset();
    piece_ = std::string();
    if (!written || !keepAlive_)
        return finish();
    if (parser_ && parser_->is_header_done() && !parser_->is_done()) {
        // The answer was 100 Continue: the body's time starts now.
        bodyDue_ = Clock::now() + limits_.bodyGrace;
        return readBody();
    }
    // An idle connection holds no large body, no file and no parameters; the rest is overwritten
    // by the next request and its answer.
    if (response_.body.capacity() > kKeptBody)
        response_.body = std::string();
    response_.body.clear();
    response_.file.reset();
    request_.params.clear();
    readHeader();
}

void Connection::composeHead(const HttpResponse& response, unsigned version, bool keepAlive,
                             std::optional<std::uint64_t> contentLength) {
    composeResponseHead(response, version, keepAlive, contentLength, head_);
    // The answer's time against the minimum rate starts now.
    sendDue_ = Clock::now() + limits_.sendGrace;
}

// Writes head_ and then body (which must stay alive until done is called) in one go.
void Connection::sendHead(std::string_view body, Done done) {
    done_ = done;
    // Most answers fit the socket's send buffer: written at once, they need neither a timer nor a
    // wait for the network. Only what the socket did not take is left to the asynchronous write.
    std::array<net::const_buffer, 2> buffers{net::buffer(head_),
                                             net::buffer(body.data(), body.size())};
    beast::error_code ec;
    const std::size_t total = head_.size() + body.size();
    std::size_t sent = 0;
    const bool writesAtOnce = socket_.non_blocking(); // set by the constructor
    if (writesAtOnce)
        sent = socket_.write_some(buffers, ec);
    if (writesAtOnce && !ec && sent == total)
        return (this->*done_)(true);
    if (ec && ec != net::error::would_block && ec != net::error::try_again &&
        ec != net::error::interrupted)
        return (this->*done_)(false);
    const std::size_t headSent = std::min(sent, head_.size());
    headLeft_ = head_.size() - headSent;
    bodyLeft_ = body.substr(sent - headSent);
    creditSent(sent);
    sendRest();
}

// Writes what is left a piece at a time, so that every piece the client takes counts for it.
void Connection::sendRest() {
    const std::array<net::const_buffer, 2> buffers{
        net::buffer(head_.data() + (head_.size() - headLeft_), headLeft_),
        net::buffer(bodyLeft_.data(), bodyLeft_.size())};
    awaitClient();
    socket_.async_write_some(buffers,
                             [self = shared_from_this()](beast::error_code ec, std::size_t sent) {
                                 self->onSent(ec, sent);
                             });
}

void Connection::onSent(beast::error_code ec, std::size_t sent) {
    deadline_ = 0;
    waitingSince_ = 0;
    if (ec)
        return (this->*done_)(false);
    creditSent(sent);
    const std::size_t fromHead = std::min(sent, headLeft_);
    headLeft_ -= fromHead;
    bodyLeft_.remove_prefix(sent - fromHead);
    if (headLeft_ == 0 && bodyLeft_.empty())
        return (this->*done_)(true);
    sendRest();
}

void Connection::creditSent(std::size_t sent) {
    sendDue_ =
        std::min(Clock::now() + limits_.sendGrace, sendDue_ + earnedBy(sent, limits_.minSendRate));
}

void Connection::awaitClient() {
    deadlineIn(limits_.idleTimeout);
    waitingSince_ = stalledFrom(sendDue_, limits_.sendGrace);
}

template <typename Message>
void Connection::send(Message message, Done done) {
    done_ = done;
    Message& stored = message_.emplace<Message>(std::move(message));
    deadlineIn(limits_.idleTimeout);
    http::async_write(socket_, stored,
                      [self = shared_from_this()](beast::error_code ec, std::size_t) {
                          self->deadline_ = 0;
                          (self.get()->*self->done_)(!ec);
                      });
}

void Connection::writeText(HttpResponse& response, unsigned version, bool keepAlive, bool headOnly,
                           Done done) {
    if (response.status == 304 || response.status == 204 || response.status < 200) {
        // These answers never have a body, so they carry no length either.
        composeHead(response, version, keepAlive, std::nullopt);
        return sendHead({}, done);
    }
    composeHead(response, version, keepAlive, response.body.size());
    // The body stays alive in response until the write has ended.
    sendHead(headOnly ? std::string_view{} : std::string_view(response.body), done);
}

// Sends the header, then the file: from the bytes the handler read (a small file, one write with
// the header), read now (up to one piece), or passed from the file to the socket by the system
// (sendfile) without ever being held in memory whole.
void Connection::writeFile(HttpResponse& response, unsigned version, bool keepAlive, bool headOnly,
                           Done done) {
    const FileBody& file = *response.file;
    if (file.bytes && file.offset + file.length <= file.bytes->size()) {
        composeHead(response, version, keepAlive, file.length);
        // The bytes stay alive in response until the write has ended.
        return sendHead(headOnly ? std::string_view{}
                                 : std::string_view(file.bytes->data() + file.offset,
                                                    static_cast<std::size_t>(file.length)),
                        done);
    }
    // Without waiting: a FIFO put in the file's place fails the read instead of blocking.
    FileHandle in(::open(file.path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (in.get() < 0) {
        const int error = errno;
        HttpResponse failed =
            errorResponse(500, "Cannot read " + file.path + ": " + std::strerror(error) + "\n");
        response = std::move(failed);
        return writeText(response, version, keepAlive, headOnly, done);
    }

    if (!headOnly && file.length <= kFileChunk) {
        // A small file leaves with its header in one write (one system call, one segment).
        piece_.resize(static_cast<std::size_t>(file.length));
        std::size_t got = 0;
        while (got < piece_.size()) {
            const ssize_t n = ::pread(in.get(), piece_.data() + got, piece_.size() - got,
                                      static_cast<off_t>(file.offset + got));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return (this->*done)(false); // the file shrank: the length cannot be kept
            got += static_cast<std::size_t>(n);
        }
        composeHead(response, version, keepAlive, file.length);
        return sendHead(piece_, done);
    }

    composeHead(response, version, keepAlive, file.length);
    if (headOnly)
        return sendHead({}, done);
    // Corked while the file goes out, so that the header and the file leave in full segments
    // instead of a short one at the end of every step (the socket sends each write at once).
    setCorked(true);
    file_ = std::move(in);
    fileOffset_ = static_cast<off_t>(file.offset);
    fileLeft_ = file.length;
    fileDone_ = done;
    sendHead({}, &Connection::afterFileHead);
}

void Connection::afterFileHead(bool written) {
    done_ = fileDone_;
    if (!written)
        return (this->*done_)(false);
    sendFileSteps();
}

void Connection::setCorked(bool corked) {
    const int on = corked ? 1 : 0;
    ::setsockopt(socket_.native_handle(), IPPROTO_TCP, TCP_CORK, &on, sizeof on);
}

// Passes the rest of the file to the socket while it takes it, then waits (asynchronously, at
// most the idle time) until it takes more.
void Connection::sendFileSteps() {
    const int socket = socket_.native_handle();
    if (!socket_.non_blocking()) { // the constructor could not make it so
        beast::error_code ec;
        socket_.native_non_blocking(true, ec);
        if (ec)
            return (this->*done_)(false);
    }
    std::size_t sentNow = 0;
    while (fileLeft_ > 0) {
        const auto step =
            static_cast<std::size_t>(std::min<std::uint64_t>(fileLeft_, kSendfileStep));
        const ssize_t n = ::sendfile(socket, file_.get(), &fileOffset_, step);
        if (n > 0) {
            creditSent(static_cast<std::size_t>(n));
            fileLeft_ -= static_cast<std::uint64_t>(n);
            sentNow += static_cast<std::size_t>(n);
            if (sentNow >= 4 * kSendfileStep && fileLeft_ > 0) {
                // Lets the other connections of this thread have their turn.
                net::post(socket_.get_executor(),
                          [self = shared_from_this()] { self->sendFileSteps(); });
                return;
            }
            continue;
        }
        if (n == 0)
            return (this->*done_)(false); // the file shrank: the promised length cannot be kept
        const int error = errno;
        if (error == EINTR)
            continue;
        if (error == EPIPE) {
            sigset_t pipe;
            sigemptyset(&pipe);
            sigaddset(&pipe, SIGPIPE);
            const timespec none{};
            ::sigtimedwait(&pipe, nullptr, &none);
        }
        if (error != EAGAIN && error != EWOULDBLOCK)
            return (this->*done_)(false);
        // The deadline sweep closes the connection should the client stop taking the file.
        awaitClient();
        socket_.async_wait(
            tcp::socket::wait_write,
            [self = shared_from_this()](beast::error_code e) { self->onWritable(e); });
        return;
    }
    setCorked(false); // sends the last, short segment
    (this->*done_)(true);
}

void Connection::onWritable(beast::error_code ec) {
    deadline_ = 0;
    waitingSince_ = 0;
    if (ec)
        return (this->*done_)(false);
    sendFileSteps();
}

void Connection::refuse(http::status status, std::string message, unsigned version) {
    keepAlive_ = false;
    response_ = errorResponse(static_cast<int>(status), std::move(message));
    writeText(response_, version, false, false, &Connection::afterRefusal);
}

void Connection::afterRefusal(bool written) {
    message_ = std::monostate{};
    if (written)
        lingeringClose();
    else
        finish();
}

void Connection::lingeringClose() {
    beast::error_code ec;
    socket_.shutdown(tcp::socket::shutdown_send, ec);
    sink_ = std::make_unique<std::array<char, 16 * 1024>>();
    drained_ = 0;
    // The whole lingering ends at this deadline, however the client trickles.
    deadlineIn(kLingerTime);
    lingerStep();
}

void Connection::lingerStep() {
    if (drained_ >= kLingerBytes)
        return;
    socket_.async_read_some(net::buffer(*sink_),
                            [self = shared_from_this()](beast::error_code ec, std::size_t got) {
                                if (ec)
                                    return;
                                self->drained_ += got;
                                self->lingerStep();
                            });
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
            const std::int64_t now = steadyNow();
            for (const auto& [id, connection] : connections) {
                const std::int64_t due = connection->deadline();
                if (due != 0 && due <= now)
                    connection->expire();
            }
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
    std::uint64_t id = 0;
    {
        std::lock_guard lock(mutex);
        if (stopping)
            return;
        if (open >= limits.maxConnections &&
            (open >= limits.maxConnections + kEvictionsInFlight || !evictLongestWaiting())) {
            // Answered at once, without a connection: the short reply fits the socket's send
            // buffer.
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
        id = nextId++;
        ++open;
    }
    std::shared_ptr<Connection> connection;
    try {
        connection = std::make_shared<Connection>(*this, lane, id, std::move(socket));
    } catch (...) {
        // Out of memory: the connection is dropped, the server keeps running.
        std::lock_guard lock(mutex);
        --open;
        allClosed.notify_all();
        return;
    }
    {
        std::lock_guard lock(mutex);
        connections.emplace(id, connection.get());
        if (stopping) // stop() has not seen it: it ends at once
            connection->abort();
    }
    connection->start();
}

// Idle connections must not lock others out: at the limit, the connection that has waited longest
// for a request, or lagged longest behind a minimum rate (a body that trickles, a client that does
// not take its answer), is closed (it ends shortly) and the new one is served. With the mutex
// held. False when every connection is busy with a request or keeps up.
bool ServerCore::evictLongestWaiting() {
    Connection* oldest = nullptr;
    std::int64_t oldestSince = 0;
    const std::int64_t now = steadyNow();
    for (const auto& [id, connection] : connections) {
        if (connection->streaming())
            continue;
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
    std::unique_lock lock(impl_->mutex);
    if (!impl_->stopping) {
        impl_->stopping = true;
        net::post(impl_->acceptStrand, [core = impl_.get()] {
            beast::error_code ec;
            core->acceptor.close(ec);
            core->retryTimer.cancel();
            core->sweepTimer.cancel();
        });
    }
    for (auto& [id, connection] : impl_->connections)
        connection->abort();
    // A connection aborted while it waits for the network ends at once; one whose request is
    // still being handled ends when the handler returns.
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

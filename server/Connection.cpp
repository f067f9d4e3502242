// The life of one connection (see Connection.h): reading its requests, handling them, writing the
// answers and the events of its stream, its deadlines and its end.

#include "server/Connection.h"

#include "platform/Sockets.h"
#include "server/LanePool.h"
#include "server/PageSkeleton.h"
#include "server/ResponseHead.h"
#include "state/TextEdits.h"

#include <boost/asio/buffer.hpp>
#include <boost/asio/post.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/write.hpp>

#include <algorithm>
#include <array>
#include <optional>

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

HttpResponse errorResponse(int status, std::string message) {
    HttpResponse response;
    response.status = status;
    response.contentType = "text/plain";
    response.body = std::move(message);
    return response;
}

// Requests whose framing the server does not take: HTTP/1.1 requires a Host field, no request
// may have two (the Host check and a proxy in front could each read another one), and a body in
// any transfer coding but chunked could not be read correctly.
template <typename Header>
std::optional<std::pair<http::status, std::string>> checkFraming(const Header& header) {
    if (header.version() >= 11 && header.find(http::field::host) == header.end())
        return std::pair{http::status::bad_request, std::string("Missing Host header\n")};
    if (header.count(http::field::host) > 1)
        return std::pair{http::status::bad_request, std::string("More than one Host header\n")};
    if (const auto coding = header.find(http::field::transfer_encoding); coding != header.end()) {
        if (!beast::iequals(trimBlanks(coding->value()), "chunked"))
            return std::pair{http::status::not_implemented,
                             std::string("Transfer-Encoding not supported\n")};
    }
    return std::nullopt;
}

} // namespace

Connection::Connection(ConnectionShared& shared, Lane& lane, Socket socket)
    : shared_(shared), lane_(lane), limits_(shared.limits), socket_(std::move(socket)) {
    // Answers go out as soon as they are written: a header and a body written one after the
    // other would otherwise wait for the client's delayed acknowledgement (40 ms).
    beast::error_code ec;
    socket_.set_option(tcp::no_delay(true), ec);
    // Writes are tried at once (sendHead, sendFileSteps, writeEvents) and must never block the
    // lane's thread; the asynchronous reads and writes behave the same either way.
    socket_.non_blocking(true, ec);
}

Connection::~Connection() {
    if (stream_)
        stream_->events->closed(stream_->sink.get());
}

void Connection::evict() {
    waitingSince_ = 0;
    abort();
}

void Connection::expire() {
    net::post(socket_.get_executor(), [self = shared_from_this()] {
        const std::int64_t due = self->deadline_;
        if (due != 0 && due <= steadyNow()) {
            self->deadline_ = 0;
            self->closeSocket();
        }
    });
}

void Connection::abort() {
    net::post(socket_.get_executor(), [self = shared_from_this()] { self->closeSocket(); });
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

    shared_.pool.enterHandler(lane_);
    try {
        shared_.handler(request_, response_);
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
    file_.close();
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
    std::error_code openError;
    OpenFile in = openForReading(file.path, Links::Follow, openError);
    if (!in.isOpen()) {
        HttpResponse failed =
            errorResponse(500, "Cannot read " + file.path + ": " + errorText(openError) + "\n");
        response = std::move(failed);
        return writeText(response, version, keepAlive, headOnly, done);
    }

    if (!headOnly && file.length <= kFileChunk) {
        // A small file leaves with its header in one write (one system call, one segment).
        piece_.resize(static_cast<std::size_t>(file.length));
        std::size_t got = 0;
        while (got < piece_.size()) {
            std::error_code readError;
            const auto n =
                in.readAt(file.offset + got, piece_.data() + got, piece_.size() - got, readError);
            if (!n || *n == 0)
                return (this->*done)(false); // the file shrank: the length cannot be kept
            got += *n;
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
    fileOffset_ = file.offset;
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
    pelotest::setCorked(socket_.native_handle(), corked);
}

// Passes the rest of the file to the socket while it takes it, then waits (asynchronously, at
// most the idle time) until it takes more.
void Connection::sendFileSteps() {
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
        const SendStep sent = sendFileStep(socket_.native_handle(), file_, fileOffset_, step);
        switch (sent.outcome) {
        case SendStep::Outcome::Sent:
            creditSent(sent.sent);
            fileLeft_ -= sent.sent;
            sentNow += sent.sent;
            if (sentNow >= 4 * kSendfileStep && fileLeft_ > 0) {
                // Lets the other connections of this thread have their turn.
                net::post(socket_.get_executor(),
                          [self = shared_from_this()] { self->sendFileSteps(); });
                return;
            }
            continue;
        case SendStep::Outcome::FileEnded:
            return (this->*done_)(false); // the file shrank: the promised length cannot be kept
        case SendStep::Outcome::Failed:
            return (this->*done_)(false);
        case SendStep::Outcome::WouldBlock:
            break;
        }
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

// What a stream's owner holds: it reaches the connection only while the connection lives, and
// only by posting to its strand.
class Connection::Sink final : public EventSink {
  public:
    explicit Sink(std::weak_ptr<Connection> connection) : connection_(std::move(connection)) {}
    void send(std::string text) override {
        if (auto connection = connection_.lock()) {
            const auto executor = connection->socket_.get_executor();
            net::post(executor, [self = std::move(connection), text = std::move(text)]() mutable {
                self->queueEvent(std::move(text));
            });
        }
    }
    void close() override {
        if (auto connection = connection_.lock()) {
            const auto executor = connection->socket_.get_executor();
            net::post(executor, [self = std::move(connection)] { self->closeStream(); });
        }
    }

  private:
    std::weak_ptr<Connection> connection_;
};

void Connection::startStream(unsigned version, bool headOnly) {
    // The answer ends when the connection closes, so it carries no length.
    keepAlive_ = false;
    composeHead(response_, version, false, std::nullopt);
    if (headOnly)
        return sendHead({}, &Connection::afterAnswer);
    // Until its head is written the connection is an answer like any other: a client that does
    // not take it lags behind the minimum rate and may be closed to make room.
    sendHead({}, &Connection::afterStreamHead);
}

void Connection::afterStreamHead(bool written) {
    if (!written)
        return finish();
    stream_ = std::make_unique<OpenStream>();
    stream_->events = std::move(response_.stream);
    stream_->sink = std::make_shared<Sink>(weak_from_this());
    sink_ = std::make_unique<std::array<char, 16 * 1024>>();
    // From here on the owner counts it as a stream.
    stream_->events->opened(stream_->sink);
    watchStreamEnd();
}

// The client sends nothing more on a stream; a read that ends tells that it has gone.
void Connection::watchStreamEnd() {
    socket_.async_read_some(net::buffer(*sink_),
                            [self = shared_from_this()](beast::error_code ec, std::size_t) {
                                if (ec || !self->stream_)
                                    return self->endStream();
                                self->watchStreamEnd();
                            });
}

void Connection::queueEvent(std::string text) {
    if (!stream_ || stream_->closing)
        return;
    OpenStream& stream = *stream_;
    const std::size_t waiting = stream.unsent.size() - stream.written;
    if (waiting + text.size() > limits_.maxStreamBacklog)
        return endStream(); // the client does not take what it is sent
    if (waiting == 0) {
        // A new piece of the answer: its time against the minimum rate starts now.
        stream.unsent.clear();
        stream.written = 0;
        sendDue_ = Clock::now() + limits_.sendGrace;
    }
    stream.unsent += text;
    if (!stream.awaitingClient)
        writeEvents();
}

void Connection::closeStream() {
    if (!stream_)
        return;
    stream_->closing = true;
    if (!stream_->awaitingClient)
        writeEvents();
}

// Writes what is queued as far as the socket takes it at once; the rest waits until the socket
// can take more, while the connection counts as idle once it lags behind the minimum rate (a
// stream whose client stops reading is closed to make room like any slow reader).
void Connection::writeEvents() {
    OpenStream& stream = *stream_;
    while (stream.written < stream.unsent.size()) {
        beast::error_code ec;
        if (!socket_.non_blocking())
            socket_.non_blocking(true, ec);
        const std::size_t sent =
            ec ? 0
               : socket_.write_some(net::buffer(stream.unsent.data() + stream.written,
                                                stream.unsent.size() - stream.written),
                                    ec);
        if (ec == net::error::would_block || ec == net::error::try_again) {
            stream.awaitingClient = true;
            awaitClient();
            socket_.async_wait(tcp::socket::wait_write,
                               [self = shared_from_this()](beast::error_code waited) {
                                   self->onStreamWritable(waited);
                               });
            return;
        }
        if (ec == net::error::interrupted)
            continue;
        if (ec)
            return endStream();
        stream.written += sent;
        creditSent(sent);
    }
    deadline_ = 0;
    waitingSince_ = 0;
    if (stream.closing)
        endStream();
}

void Connection::onStreamWritable(beast::error_code ec) {
    if (!stream_)
        return; // ended meanwhile
    stream_->awaitingClient = false;
    if (ec)
        return endStream();
    writeEvents();
}

// The one end of a stream, whoever asks for it first: the client leaving, a failed or lagging
// write, its owner closing it, eviction, a deadline or the server stopping.
void Connection::endStream() {
    if (!stream_)
        return;
    const std::unique_ptr<OpenStream> ended = std::move(stream_);
    deadline_ = 0;
    waitingSince_ = 0;
    closeSocket();
    ended->events->closed(ended->sink.get());
}

} // namespace pelotest

#pragma once
// One connection of the listener, internal to the server. Its whole life is Connection.cpp:
// reading requests, letting the handler answer them, writing the answers, the event stream it
// may carry (live reload), its deadlines and its end. The listener (HttpServer.cpp) creates it,
// holds it only by a weak reference, and reaches it only through the calls marked "from another
// thread".

#include "server/HttpServer.h"

#include "platform/Files.h"
#include "server/HttpTypes.h"
#include "server/LanePool.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/strand.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http/empty_body.hpp>
#include <boost/beast/http/message.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/string_body.hpp>

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

namespace pelotest {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = net::ip::tcp;
// A connection's socket, bound to the strand of its lane by type: its operations call the strand
// directly instead of through a type-erased executor.
using Strand = net::strand<net::io_context::executor_type>;
using Socket = net::basic_stream_socket<tcp, Strand>;

using Clock = std::chrono::steady_clock;

// Now, in the steady-clock ticks that the deadlines and waiting times of connections are kept in.
inline std::int64_t steadyNow() {
    return Clock::now().time_since_epoch().count();
}

// What every connection of one listener shares: how a request is answered, the limits, and the
// lanes that run the connections.
struct ConnectionShared {
    // Fills in the response of one request; it holds the previous answer, whose room it may use.
    using Filler = std::function<void(const HttpRequest&, HttpResponse&)>;

    ConnectionShared(Filler handler, ServerLimits limits)
        : handler(std::move(handler)), limits(limits) {}

    const Filler handler;
    const ServerLimits limits;
    LanePool pool;
};

// One connection: reads requests, lets the handler answer them and writes the answers, until the
// client or an error ends it, the idle time passes or the server stops. Every step runs on the
// connection's strand; other threads reach it only through evict(), expire() and abort(), and its
// stream's sink.
class Connection : public std::enable_shared_from_this<Connection> {
  public:
    Connection(ConnectionShared& shared, Lane& lane, Socket socket);
    // Reports a stream that is still open as ended (a connection always ends its stream itself
    // first; this is the last resort, so that the stream's owner never counts a gone one).
    ~Connection();

    void start();

    // Since when the connection has been waiting for (the header of) its next request, or its
    // body or the client taking its answer or its events has been lagging behind the minimum
    // rate, in steady-clock ticks (a later time while they keep up); 0 while it answers, while
    // its stream waits for events and once it has been told to close. A full server closes the
    // connection that has waited longest to make room.
    std::int64_t waitingSince() const { return waitingSince_; }

    // When the read or write under way must have ended, in steady-clock ticks; 0 while none is
    // under way (a handler may take as long as it takes, a stream waits for events without end).
    std::int64_t deadline() const { return deadline_; }

    // From another thread: closes a connection that waits for a request (or lags) to make room
    // for a new one.
    void evict();
    // From another thread: closes the connection when its deadline has still passed once its
    // strand runs, which ends the read or write in progress as a timeout would.
    void expire();
    // From another thread: closes the socket on the connection's strand as soon as it waits for
    // the network, which ends any read or write in progress.
    void abort();

  private:
    using EmptyMessage = http::response<http::empty_body>;
    using Done = void (Connection::*)(bool written);
    class Sink;

    void readHeader();
    void onHeader(beast::error_code ec);
    void readBody();
    void onBody(beast::error_code ec, std::size_t got);
    void onRequest(beast::error_code ec);
    void answer();
    void afterAnswer(bool written);

    // Each sends one answer and then calls done with whether it was written whole. Text and
    // file responses take what they send from response (a large page is not copied once more).
    void writeText(HttpResponse& response, unsigned version, bool keepAlive, bool headOnly,
                   Done done);
    void writeFile(HttpResponse& response, unsigned version, bool keepAlive, bool headOnly,
                   Done done);
    template <typename Message>
    void send(Message message, Done done);
    void composeHead(const HttpResponse& response, unsigned version, bool keepAlive,
                     std::optional<std::uint64_t> contentLength);
    void sendHead(std::string_view body, Done done);
    void sendRest();
    void onSent(beast::error_code ec, std::size_t sent);
    // The client took sent bytes of the answer: they earn time against the minimum rate.
    void creditSent(std::size_t sent);
    // Waiting for the client to take more of the answer: the connection counts as idle from the
    // moment it lags behind the minimum rate.
    void awaitClient();
    void afterFileHead(bool written);
    void sendFileSteps();
    // Whether the socket holds back short segments (the connection ends, and so sends them, on
    // every failure).
    void setCorked(bool corked);
    void onWritable(beast::error_code ec);

    // An endless answer: the header, then what its sink is given, until either side closes.
    void startStream(unsigned version, bool headOnly);
    void afterStreamHead(bool written);
    void watchStreamEnd();
    void queueEvent(std::string text);
    void closeStream();
    void writeEvents();
    void onStreamWritable(beast::error_code ec);
    void endStream();

    void refuse(http::status status, std::string message, unsigned version);
    void afterRefusal(bool written);
    void lingeringClose();
    void lingerStep();
    void finish();
    void closeSocket();
    // The read or write that starts now must have ended within this time.
    void deadlineIn(Clock::duration within) {
        deadline_ = (Clock::now() + within).time_since_epoch().count();
    }

    // Read by the listener from other threads.
    std::atomic<std::int64_t> waitingSince_{0};
    std::atomic<std::int64_t> deadline_{0};

    ConnectionShared& shared_;
    Lane& lane_;
    const ServerLimits& limits_;
    Socket socket_;
    beast::flat_buffer buffer_;
    std::optional<http::request_parser<http::string_body>> parser_;
    Clock::time_point bodyDue_{};
    Clock::time_point sendDue_{};
    // What sendRest still has to write: the rest of head_, then of the body.
    std::size_t headLeft_ = 0;
    std::string_view bodyLeft_;
    bool keepAlive_ = false;
    // What is being written: one of the messages, what the handler gave (its body bytes stay
    // alive here), and for a large file its descriptor and what is left of it.
    std::variant<std::monostate, EmptyMessage> message_;
    std::string head_;
    std::string piece_;   // a small file read now
    HttpRequest request_; // the request being answered, kept for its room
    Done fileDone_ = nullptr;
    HttpResponse response_;
    Done done_ = nullptr;
    OpenFile file_;
    std::uint64_t fileOffset_ = 0;
    std::uint64_t fileLeft_ = 0;
    // Where what the client still sends is dropped (lingering close, a stream's end watch).
    std::unique_ptr<std::array<char, 16 * 1024>> sink_;
    std::size_t drained_ = 0;

    // The event stream the connection carries from its head written to its end: where the end is
    // reported, the sink handed out for it, and the events the client has not taken yet. Its end
    // alone releases it, and every step of the stream that finds it released does nothing; no
    // write ever holds its bytes, so nothing in flight outlives it.
    struct OpenStream {
        std::shared_ptr<const EventStream> events;
        std::shared_ptr<EventSink> sink;
        std::string unsent;
        std::size_t written = 0;     // of unsent
        bool awaitingClient = false; // a wait for the socket to take more is under way
        bool closing = false;        // ends once everything queued is written
    };
    std::unique_ptr<OpenStream> stream_;
};

} // namespace pelotest

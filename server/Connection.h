#pragma once
// One connection of the listener (server/HttpServer.cpp), internal to the server. It has a header
// of its own so that its steps can live in two files: reading requests and writing answers in
// HttpServer.cpp, beside the listener that creates the connections, and the event stream of live
// reload, which a connection carries only now and then, in ConnectionStream.cpp.

#include "server/HttpServer.h"

#include "platform/Files.h"
#include "server/HttpTypes.h"

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
#include <deque>
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

class Lane;
struct ServerCore;

// One connection: reads requests, lets the handler answer them and writes the answers, until the
// client or an error ends it, the idle time passes or the server stops. Every step runs on the
// connection's strand; other threads reach it only through evict() and abort().
class Connection : public std::enable_shared_from_this<Connection> {
  public:
    Connection(ServerCore& core, Lane& lane, std::uint64_t id, Socket socket);

    void start();

    // Since when the connection has been waiting for (the header of) its next request, or its
    // body or the client taking its answer has been lagging behind the minimum rate, in
    // steady-clock ticks (a later time while they keep up); 0 while it answers or has been told
    // to close.
    std::int64_t waitingSince() const { return waitingSince_; }

    // From another thread, with the server's mutex held: closes a connection that waits for a
    // request (or lags) to make room for a new one.
    void evict() {
        waitingSince_ = 0;
        abort();
    }

    // When the read or write under way must have ended, in steady-clock ticks; 0 while none is
    // under way (a handler may take as long as it takes).
    std::int64_t deadline() const { return deadline_; }

    // From another thread, with the server's mutex held: closes the connection when its deadline
    // has still passed once its strand runs, which ends the read or write in progress as a
    // timeout would.
    void expire() {
        if (auto self = weak_from_this().lock())
            net::post(socket_.get_executor(), [self = std::move(self)] {
                const std::int64_t due = self->deadline_;
                if (due != 0 && due <= steadyNow()) {
                    self->deadline_ = 0;
                    self->closeSocket();
                }
            });
    }

    // Whether the connection carries an endless answer (an event stream). It holds its place
    // among the connections, but is never the idle one closed to make room.
    bool streaming() const { return streaming_; }

    // From any thread: what the sink of a stream does (see EventSink).
    static void queueEvent(std::shared_ptr<Connection> self, std::string text);
    static void closeStream(std::shared_ptr<Connection> self);

    // From another thread: closes the socket on the connection's strand as soon as it waits for
    // the network, which ends any read or write in progress.
    void abort() {
        // The reference moves into the posted step, so that the connection never ends here, where
        // the server's mutex may be held.
        if (auto self = weak_from_this().lock())
            net::post(socket_.get_executor(), [self = std::move(self)] { self->closeSocket(); });
    }

  private:
    using EmptyMessage = http::response<http::empty_body>;
    using Done = void (Connection::*)(bool written);

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
    void writeEvents();
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

    // Read by the accepting side as long as the connection is registered, so it outlives the
    // registration.
    std::atomic<std::int64_t> waitingSince_{0};
    std::atomic<std::int64_t> deadline_{0};
    std::atomic<bool> streaming_{false};
    // Removes the connection from the server when it is gone; declared before the other members,
    // so that it runs after they (the socket above all) have been destroyed. Armed only once the
    // connection is built whole.
    struct Registration {
        ServerCore& core;
        std::uint64_t id;
        bool armed = false;
        ~Registration();
    } registration_;
    ServerCore& core_;
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
    std::unique_ptr<std::array<char, 16 * 1024>> sink_;
    std::size_t drained_ = 0;
    // The stream being answered: where its end is reported, the sink handed out for it, and the
    // events queued (the first is being written).
    std::shared_ptr<const EventStream> stream_;
    std::shared_ptr<EventSink> eventSink_;
    std::deque<std::string> events_;
    std::size_t eventBytes_ = 0;
    bool writingEvent_ = false;
    bool closingStream_ = false;
    bool streamEnded_ = false;
};

} // namespace pelotest

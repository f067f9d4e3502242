// The event stream of a connection: an endless answer (live reload) that writes what the stream's
// owner sends, until either side closes. Apart from the request and answer steps in
// HttpServer.cpp, as a connection carries a stream only now and then.

#include "server/Connection.h"

#include <boost/asio/buffer.hpp>
#include <boost/asio/write.hpp>

#include <cstddef>
#include <memory>
#include <string>
#include <utility>

namespace pelotest {

namespace {

// Events not yet taken by the client of a stream; a client that falls this far behind is dropped.
constexpr std::size_t kStreamBacklog = 64 * 1024;

// What a stream's owner holds: it reaches the connection only while the connection lives.
class ConnectionSink final : public EventSink {
  public:
    explicit ConnectionSink(std::weak_ptr<Connection> connection)
        : connection_(std::move(connection)) {}
    void send(std::string text) override {
        if (auto connection = connection_.lock())
            Connection::queueEvent(std::move(connection), std::move(text));
    }
    void close() override {
        if (auto connection = connection_.lock())
            Connection::closeStream(std::move(connection));
    }

  private:
    std::weak_ptr<Connection> connection_;
};

} // namespace

void Connection::startStream(unsigned version, bool headOnly) {
    // The answer ends when the connection closes, so it carries no length.
    keepAlive_ = false;
    composeHead(response_, version, false, std::nullopt);
    if (headOnly)
        return sendHead({}, &Connection::afterAnswer);
    stream_ = std::move(response_.stream);
    streaming_ = true;
    sendHead({}, &Connection::afterStreamHead);
}

void Connection::afterStreamHead(bool written) {
    if (!written) {
        streamEnded_ = true;
        return finish();
    }
    eventSink_ = std::make_shared<ConnectionSink>(weak_from_this());
    stream_->opened(eventSink_);
    sink_ = std::make_unique<std::array<char, 16 * 1024>>();
    watchStreamEnd();
}

// The client sends nothing more on a stream; a read that ends tells that it has gone.
void Connection::watchStreamEnd() {
    socket_.async_read_some(net::buffer(*sink_),
                            [self = shared_from_this()](beast::error_code ec, std::size_t) {
                                if (ec)
                                    return self->endStream();
                                self->watchStreamEnd();
                            });
}

void Connection::queueEvent(std::shared_ptr<Connection> self, std::string text) {
    const auto executor = self->socket_.get_executor();
    net::post(executor, [self = std::move(self), text = std::move(text)]() mutable {
        if (self->streamEnded_ || self->closingStream_)
            return;
        if (self->eventBytes_ + text.size() > kStreamBacklog)
            return self->endStream(); // the client does not take what it is sent
        self->eventBytes_ += text.size();
        self->events_.push_back(std::move(text));
        if (!self->writingEvent_)
            self->writeEvents();
    });
}

void Connection::closeStream(std::shared_ptr<Connection> self) {
    const auto executor = self->socket_.get_executor();
    net::post(executor, [self = std::move(self)] {
        self->closingStream_ = true;
        if (!self->writingEvent_)
            self->endStream();
    });
}

void Connection::writeEvents() {
    if (events_.empty()) {
        writingEvent_ = false;
        if (closingStream_)
            endStream();
        return;
    }
    writingEvent_ = true;
    deadlineIn(limits_.idleTimeout);
    net::async_write(socket_, net::buffer(events_.front()),
                     [self = shared_from_this()](beast::error_code ec, std::size_t) {
                         self->deadline_ = 0;
                         if (ec)
                             return self->endStream();
                         self->eventBytes_ -= self->events_.front().size();
                         self->events_.pop_front();
                         self->writeEvents();
                     });
}

void Connection::endStream() {
    if (streamEnded_)
        return;
    streamEnded_ = true;
    writingEvent_ = false;
    events_.clear();
    closeSocket();
    if (eventSink_)
        stream_->closed(eventSink_.get());
    eventSink_.reset();
}

} // namespace pelotest

// The life of live-reload event streams over real sockets: each input is a script of clients that
// open streams (some with a small receive buffer, some after a pipelined request), half-close,
// reset, close, read or stop reading them, while events are announced, the oldest streams are
// closed for newcomers and live reload is switched off. Nothing may crash or read freed memory,
// at most 32 streams are counted, every stream counted ends once its client has gone, and the
// server still answers afterwards.

#include "app/HeadlessHost.h"
#include "server/HttpServer.h"
#include "server/LiveReload.h"
#include "state/AppState.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <thread>

using namespace pelotest;

namespace {

void check(bool condition) {
    if (!condition)
        std::abort();
}

struct Server {
    Server() { server.start("127.0.0.1", 0); }
    AppState state;
    HeadlessHost host{state};
    LiveReload live{host, LiveReload::Options{}};
    HttpServer server{[this](const HttpRequest& request) {
        HttpResponse response;
        if (request.document == "/live") {
            response.contentType = "text/event-stream";
            response.stream = live.stream();
        } else {
            response.body = "<html><body>page</body></html>";
        }
        return response;
    }};
};

// One client socket; -1 when the slot is empty.
struct Client {
    int fd = -1;

    void open(std::uint16_t port, std::string_view request, int receiveBuffer) {
        drop(false);
        fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (receiveBuffer > 0)
            ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        check(::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0);
        ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    }
    void readArrived() const {
        char buffer[4096];
        if (fd >= 0)
            while (::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT) > 0) {
            }
    }
    void drop(bool reset) {
        if (fd < 0)
            return;
        if (reset) {
            const linger now{1, 0};
            ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &now, sizeof now);
        }
        ::close(fd);
        fd = -1;
    }
};

constexpr std::string_view kStream = "GET /live HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
constexpr std::string_view kPageThenStream = "GET /page HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"
                                             "GET /live HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
constexpr std::string_view kHeadOfStream = "HEAD /live HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";

template <typename Done>
bool waitUntil(Done done) {
    for (int i = 0; i < 400; ++i) {
        if (done())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return done();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Server site;
    const std::uint16_t port = site.server.port();
    std::array<Client, 40> clients; // more than the 32 streams held
    // Two bytes a step: what happens, and to which client.
    for (std::size_t i = 0; i + 1 < size && i < 1024; i += 2) {
        Client& client = clients[data[i + 1] % clients.size()];
        switch (data[i] % 12) {
        case 0:
            client.open(port, kStream, 0);
            break;
        case 1: // never reads: its socket fills up
            client.open(port, kStream, 2048);
            break;
        case 2:
            client.open(port, kPageThenStream, 2048);
            break;
        case 3: // asks, shuts its sending side, and goes
            client.open(port, kStream, 0);
            ::shutdown(client.fd, SHUT_WR);
            client.readArrived();
            client.drop(false);
            break;
        case 4:
            if (client.fd >= 0)
                ::shutdown(client.fd, SHUT_WR);
            break;
        case 5:
            client.drop(true);
            break;
        case 6:
            client.drop(false);
            break;
        case 7:
            client.readArrived();
            break;
        case 8:
            site.live.announce({});
            break;
        case 9:
            site.live.announce({"/style.css", "/" + std::string(4096, 'x') + ".css"});
            break;
        case 10:
            site.live.switchOff();
            break;
        case 11:
            client.open(port, kHeadOfStream, 0);
            break;
        }
        check(site.live.streamCount() <= 32);
    }
    for (Client& client : clients)
        client.drop(false);
    // Every stream ends once its client has gone, and the server still takes new ones.
    check(waitUntil([] { return site.live.streamCount() == 0; }));
    Client last;
    last.open(port, kStream, 0);
    check(waitUntil([] { return site.live.streamCount() == 1; }));
    last.drop(false);
    check(waitUntil([] { return site.live.streamCount() == 0; }));
    return 0;
}

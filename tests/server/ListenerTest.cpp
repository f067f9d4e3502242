// The listener: answers, HEAD, keep-alive, files, failures, limits and the Host check, against a
// real socket on 127.0.0.1.

#include "server/HttpServer.h"

#include "ServerTestSupport.h"
#include "support/HttpTestClient.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace pelotest {
namespace {

using namespace std::chrono_literals;
using test::httpGet;
using test::httpRequest;
using test::rawExchange;

// A connected client socket, closed at the end; receiveBuffer (bytes) makes its receive buffer
// small.
class RawClient {
  public:
    explicit RawClient(std::uint16_t port, int receiveBuffer = 0)
        : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
        if (receiveBuffer > 0)
            ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
            throw std::runtime_error("connect failed");
    }
    ~RawClient() { ::close(fd_); }
    // False when the peer has closed.
    bool send(std::string_view bytes) const {
        return ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
               static_cast<ssize_t>(bytes.size());
    }
    // What arrives within timeout (stops at the first pause after some data).
    std::string readSome(std::chrono::milliseconds timeout) const {
        std::string received;
        char buffer[4096];
        pollfd p{fd_, POLLIN, 0};
        while (::poll(&p, 1, received.empty() ? static_cast<int>(timeout.count()) : 50) > 0) {
            const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
            if (n <= 0)
                break;
            received.append(buffer, static_cast<std::size_t>(n));
        }
        return received;
    }
    // What one receive gives (at most 4 KiB), waiting at most timeout for it.
    std::string readOnce(std::chrono::milliseconds timeout) const {
        char buffer[4096];
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(timeout.count())) <= 0)
            return {};
        const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
        return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
    }
    // Reads until the peer closes (true) or timeout passes (false).
    bool readUntilClosed(std::chrono::milliseconds timeout, std::string* received = nullptr) const {
        const auto end = std::chrono::steady_clock::now() + timeout;
        char buffer[4096];
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                end - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                return false;
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left.count())) <= 0)
                return false;
            const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
            if (n <= 0)
                return true;
            if (received)
                received->append(buffer, static_cast<std::size_t>(n));
        }
    }

  private:
    int fd_;
};

int countOf(std::string_view text, std::string_view needle) {
    int n = 0;
    for (auto at = text.find(needle); at != std::string_view::npos; at = text.find(needle, at + 1))
        ++n;
    return n;
}

HttpResponse textAnswer(std::string body) {
    HttpResponse response;
    response.body = std::move(body);
    return response;
}

TEST(Listener, AnswersWithTheHandlersStatusTypeHeadersAndBody) {
    HttpServer server([](const HttpRequest& request) {
        HttpResponse response;
        response.status = 404;
        response.contentType = "text/css";
        response.body = "doc=" + request.document + " method=" + request.method;
        response.setHeader("X-Extra", "1");
        return response;
    });
    server.start("127.0.0.1", 0);
    const auto result = httpGet(server.port(), "/a%20b.htm?x=1");
    EXPECT_EQ(result.status, 404);
    EXPECT_EQ(result.header("Content-Type"), "text/css");
    EXPECT_EQ(result.header("X-Extra"), "1");
    EXPECT_EQ(result.header("Content-Length"), std::to_string(result.body.size()));
    EXPECT_EQ(result.header("Cache-Control"), "no-store"); // a generated answer
    EXPECT_EQ(result.body, "doc=/a b.htm method=GET");
}

TEST(Listener, HandlerHeadersWinAndCannotBreakTheHeader) {
    HttpServer server([](const HttpRequest&) {
        HttpResponse response = textAnswer("x");
        response.setHeader("Cache-Control", "max-age=60");
        response.setHeader("Location", "/a\r\nSet-Cookie: evil=1");
        return response;
    });
    server.start("127.0.0.1", 0);
    const auto result = httpGet(server.port(), "/");
    EXPECT_EQ(result.header("Cache-Control"), "max-age=60");
    EXPECT_EQ(result.header("Location"), "/a  Set-Cookie: evil=1");
    EXPECT_FALSE(result.header("Set-Cookie"));
}

TEST(Listener, AnExceptionIsAnsweredWith500AndItsMessage) {
    std::atomic<int> calls = 0;
    HttpServer server([&](const HttpRequest&) -> HttpResponse {
        if (calls++ == 0)
            throw std::runtime_error("Die Datei kann nicht gelesen werden");
        return textAnswer("fine");
    });
    server.start("127.0.0.1", 0);
    const auto failed = httpGet(server.port(), "/");
    EXPECT_EQ(failed.status, 500);
    EXPECT_EQ(failed.body, "Die Datei kann nicht gelesen werden");
    EXPECT_EQ(httpGet(server.port(), "/").body, "fine"); // the server keeps running
}

TEST(Listener, HeadSendsTheHeadersOfGetWithoutBody) {
    HttpServer server(
        [](const HttpRequest& request) { return textAnswer("hello " + request.method); });
    server.start("127.0.0.1", 0);
    const auto result = httpRequest(server.port(), "HEAD", "/x");
    EXPECT_EQ(result.status, 200);
    EXPECT_EQ(result.header("Content-Length"), "10"); // "hello HEAD"
    EXPECT_EQ(result.body, "");
    const std::string raw = rawExchange(
        server.port(), "HEAD /x HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n\r\n");
    ASSERT_FALSE(raw.empty());
    EXPECT_TRUE(raw.ends_with("\r\n\r\n")) << raw;
}

TEST(Listener, KeepAliveServesSeveralRequestsOnOneConnection) {
    std::atomic<int> calls = 0;
    HttpServer server([&](const HttpRequest& request) {
        ++calls;
        return textAnswer(request.document);
    });
    server.start("127.0.0.1", 0);
    const std::string raw =
        rawExchange(server.port(), "GET /one HTTP/1.1\r\nHost: localhost\r\n\r\n"
                                   "GET /two HTTP/1.1\r\nHost: localhost\r\n\r\n"
                                   "GET /three HTTP/1.1\r\nHost: localhost\r\n"
                                   "Connection: close\r\n\r\n"
                                   "GET /never HTTP/1.1\r\nHost: localhost\r\n\r\n");
    EXPECT_EQ(countOf(raw, "HTTP/1.1 200 OK\r\n"), 3) << raw;
    EXPECT_TRUE(raw.ends_with("/three")) << raw;
    EXPECT_EQ(calls, 3);

    // HTTP/1.0 closes after one answer unless asked to keep the connection.
    const std::string old =
        rawExchange(server.port(), "GET /a HTTP/1.0\r\n\r\nGET /b HTTP/1.0\r\n\r\n");
    EXPECT_EQ(countOf(old, "HTTP/1.0 200 OK\r\n"), 1) << old;
    const std::string kept =
        rawExchange(server.port(), "GET /a HTTP/1.0\r\nConnection: keep-alive\r\n\r\n"
                                   "GET /b HTTP/1.0\r\n\r\n");
    EXPECT_EQ(countOf(kept, "HTTP/1.0 200 OK\r\n"), 2) << kept;
}

// A connection reads each request into the object of the one before and lets the handler fill in
// the answer before: nothing of the first request or answer may show in the second.
TEST(Listener, ARequestOnAKeptConnectionSeesNothingOfTheOneBefore) {
    AppState state;
    test::TestHost host;
    std::mutex mutex;
    std::vector<std::string> seen;
    HttpServer server(std::make_shared<RequestHandler>(state, host, [&](Exchange& ex) {
        const HttpRequest& r = ex.request;
        std::string text =
            r.method + " " + r.document + " ?" + r.rawQuery + " referer=" + r.referer + " params=";
        for (const std::string& param : r.params)
            text += param + ";";
        text += " headers=" + std::to_string(r.headers.size());
        {
            std::lock_guard lock(mutex);
            seen.push_back(text);
        }
        if (r.document == "/first") {
            ex.response.status = 202;
            ex.response.contentType = "text/plain";
            ex.response.setHeader("X-First", "1");
            ex.response.body = std::string(20'000, 'x'); // more than an idle connection keeps
        } else {
            ex.response.body = "second";
        }
    }));
    server.start("127.0.0.1", 0);
    const std::string raw = rawExchange(
        server.port(), "POST /first?a=1&b=%41 HTTP/1.1\r\nHost: localhost\r\n"
                       "Referer: http://localhost/r\r\nX-Extra: y\r\n"
                       "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: 3\r\n"
                       "\r\nc=3"
                       "GET /second HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(seen, (std::vector<std::string>{
                        "POST /first ?a=1&b=%41 referer=http://localhost/r params=c=3;a=1;b=A; "
                        "headers=5",
                        "GET /second ? referer= params= headers=2"}));
    const std::size_t second = raw.find("HTTP/1.1 200 OK\r\n");
    ASSERT_NE(second, std::string::npos) << raw;
    EXPECT_EQ(raw.substr(second), "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n"
                                  "Cache-Control: no-store\r\nConnection: close\r\n"
                                  "Content-Length: 6\r\n\r\nsecond");
}

TEST(Listener, ExpectContinueIsAnswered) {
    HttpServer server([](const HttpRequest& request) {
        return textAnswer(request.params.empty() ? "" : request.params.front());
    });
    server.start("127.0.0.1", 0);
    RawClient client(server.port());
    ASSERT_TRUE(
        client.send("POST /f HTTP/1.1\r\nHost: localhost\r\nExpect: 100-continue\r\n"
                    "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: 3\r\n"
                    "Connection: close\r\n\r\n"));
    // The interim answer comes before the body is sent.
    EXPECT_EQ(client.readSome(5s), "HTTP/1.1 100 Continue\r\n\r\n");
    ASSERT_TRUE(client.send("a=1"));
    std::string received;
    ASSERT_TRUE(client.readUntilClosed(5s, &received));
    EXPECT_TRUE(received.starts_with("HTTP/1.1 200 OK\r\n")) << received;
    EXPECT_TRUE(received.ends_with("a=1")) << received;
}

TEST(Listener, StreamsAFilePieceFromItsOffset) {
    const test::TempDir dir;
    std::string content;
    for (int i = 0; i < 300'000; ++i)
        content += static_cast<char>('a' + i % 26 + (i / 1000) % 3);
    const auto file = dir.write("big.bin", content);
    HttpServer server([&](const HttpRequest& request) {
        HttpResponse response;
        response.contentType = "application/octet-stream";
        if (request.document == "/missing")
            response.file = FileBody{dir.path() / "missing.bin", 0, 10};
        else if (request.document == "/whole")
            response.file = FileBody{file, 0, content.size()};
        else
            response.file = FileBody{file, 1000, 150'000};
        response.setHeader("ETag", "\"v1\"");
        return response;
    });
    server.start("127.0.0.1", 0);
    const auto part = httpGet(server.port(), "/part");
    EXPECT_EQ(part.status, 200);
    EXPECT_EQ(part.header("Content-Length"), "150000");
    EXPECT_EQ(part.header("ETag"), "\"v1\"");
    EXPECT_FALSE(part.header("Cache-Control")); // files carry their own caching headers
    EXPECT_TRUE(part.body == content.substr(1000, 150'000));
    EXPECT_TRUE(httpGet(server.port(), "/whole").body == content);

    const auto head = httpRequest(server.port(), "HEAD", "/part");
    EXPECT_EQ(head.header("Content-Length"), "150000");
    EXPECT_EQ(head.body, "");

    const auto missing = httpGet(server.port(), "/missing");
    EXPECT_EQ(missing.status, 500);
    EXPECT_NE(missing.body.find("missing.bin"), std::string::npos) << missing.body;
}

// A file sent after its header promised a length that the file no longer has (it was shorter
// already, or shrinks while it is being sent) ends the connection short of that length: the
// client sees a cut answer, never a hang or bytes of another answer. The server serves on.
TEST(Listener, AFileThatShrinksWhileSentEndsTheConnection) {
    const test::TempDir dir;
    struct Case {
        const char* name;
        std::size_t size;        // the file as the handler finds it
        std::size_t promised;    // the length the handler promises
        std::size_t truncatedTo; // the file cut to this after the first bytes arrived (or size)
    };
    const std::vector<Case> cases = {
        {"small, read at once", 5'000, 10'000, 5'000},
        {"large, shorter from the start", 1 << 20, 2 << 20, 1 << 20},
        {"large, cut while sent", 32 << 20, 32 << 20, 1 << 20},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto file = dir.write(std::string(c.name) + ".bin", std::string(c.size, 'x'));
        HttpServer server([&](const HttpRequest&) {
            HttpResponse response;
            response.contentType = "application/octet-stream";
            response.file = FileBody{file, 0, c.promised};
            return response;
        });
        server.start("127.0.0.1", 0);
        RawClient client(server.port());
        ASSERT_TRUE(client.send("GET /f HTTP/1.1\r\nHost: localhost\r\n\r\n"));
        std::string received = client.readOnce(2s);
        if (c.truncatedTo != c.size)
            std::filesystem::resize_file(file, c.truncatedTo);
        ASSERT_TRUE(client.readUntilClosed(10s, &received)) << "the connection stayed open";
        const std::size_t headEnd = received.find("\r\n\r\n");
        if (headEnd != std::string::npos) {
            EXPECT_NE(received.find("Content-Length: " + std::to_string(c.promised)),
                      std::string::npos);
            EXPECT_LT(received.size() - headEnd - 4, c.promised);
        }
        std::filesystem::resize_file(file, c.promised);
        EXPECT_EQ(httpGet(server.port(), "/f").body.size(), c.promised) << "serves on";
    }
}

// Clients that leave in the middle of a large file end their own connection, not the server.
TEST(Listener, ClientsLeavingDuringALargeFileLeaveTheServerServing) {
    const test::TempDir dir;
    const auto file = dir.write("big.bin", std::string(8 << 20, 'x'));
    HttpServer server([&](const HttpRequest& request) {
        if (request.document == "/small")
            return textAnswer("ok");
        HttpResponse response;
        response.file = FileBody{file, 0, 8 << 20};
        return response;
    });
    server.start("127.0.0.1", 0);
    for (int i = 0; i < 40; ++i) {
        RawClient client(server.port());
        ASSERT_TRUE(client.send("GET /big HTTP/1.1\r\nHost: localhost\r\n\r\n"));
        EXPECT_FALSE(client.readOnce(5s).empty());
    } // closed with most of the file unread
    EXPECT_EQ(httpGet(server.port(), "/small").body, "ok");
}

// A client that stops taking a large file is let go after the idle time: the rest of the file is
// never sent.
TEST(Listener, AClientThatStopsReadingALargeFileIsClosedAfterTheIdleTime) {
    const test::TempDir dir;
    const auto file = dir.write("huge.bin", "");
    constexpr std::uint64_t kSize = 256u << 20; // more than any socket buffers hold
    std::filesystem::resize_file(file, kSize);
    ServerLimits limits;
    limits.idleTimeout = 300ms;
    HttpServer server(
        [&](const HttpRequest&) {
            HttpResponse response;
            response.file = FileBody{file, 0, kSize};
            return response;
        },
        limits);
    server.start("127.0.0.1", 0);
    const RawClient client(server.port());
    ASSERT_TRUE(client.send("GET /huge HTTP/1.1\r\nHost: localhost\r\n\r\n"));
    std::this_thread::sleep_for(1500ms); // reads nothing while the deadline passes
    std::string received;
    EXPECT_TRUE(client.readUntilClosed(20s, &received));
    EXPECT_LT(received.size(), kSize);
}

// Handlers may block (the request guard makes them wait for each other, tests hold them): while
// some do, even more of them than the server has threads, every other connection is still
// answered.
TEST(Listener, BlockedHandlersDoNotHoldUpOtherConnections) {
    for (const int blocked : {1, 2, 5}) {
        SCOPED_TRACE(blocked);
        std::mutex mutex;
        std::condition_variable released;
        bool release = false;
        std::atomic<int> waiting = 0;
        HttpServer server([&](const HttpRequest& request) {
            if (request.document == "/slow") {
                ++waiting;
                std::unique_lock lock(mutex);
                released.wait(lock, [&] { return release; });
            }
            return textAnswer("ok");
        });
        server.start("127.0.0.1", 0);
        std::vector<std::unique_ptr<RawClient>> slow;
        for (int i = 0; i < blocked; ++i) {
            slow.push_back(std::make_unique<RawClient>(server.port()));
            ASSERT_TRUE(slow.back()->send("GET /slow HTTP/1.1\r\nHost: localhost\r\n\r\n"));
        }
        for (int i = 0; i < 250 && waiting < blocked; ++i)
            std::this_thread::sleep_for(20ms);
        ASSERT_EQ(waiting, blocked);
        for (int i = 0; i < 12; ++i)
            EXPECT_EQ(httpGet(server.port(), "/").body, "ok") << "request " << i;
        {
            std::lock_guard lock(mutex);
            release = true;
        }
        released.notify_all();
        for (const auto& client : slow)
            EXPECT_NE(client->readSome(5s).find("\r\n\r\nok"), std::string::npos);
    }
}

TEST(Listener, RefusesWhatItCannotServe) {
    std::atomic<int> calls = 0;
    HttpServer server([&](const HttpRequest&) {
        ++calls;
        return textAnswer("x");
    });
    server.start("127.0.0.1", 0);
    struct Case {
        const char* request;
        const char* statusLine;
    };
    const std::vector<Case> cases = {
        {"PUT /x HTTP/1.1\r\nHost: localhost\r\nContent-Length: 0\r\n\r\n",
         "HTTP/1.1 405 Method Not Allowed\r\n"},
        {"HELLO\r\n\r\n", "HTTP/1.1 400 Bad Request\r\n"},
        {"GET /a%00b HTTP/1.1\r\nHost: localhost\r\n\r\n", "HTTP/1.1 400 Bad Request\r\n"},
        {"GET * HTTP/1.1\r\nHost: localhost\r\n\r\n", "HTTP/1.1 400 Bad Request\r\n"},
        {"GET / HTTP/1.1\r\nBad Header\r\n\r\n", "HTTP/1.1 400 Bad Request\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.request);
        const std::string raw = rawExchange(server.port(), c.request);
        EXPECT_TRUE(raw.starts_with(c.statusLine)) << raw;
    }
    EXPECT_EQ(calls, 0);
    const std::string put = rawExchange(server.port(), cases[0].request);
    EXPECT_NE(put.find("Allow: GET, HEAD, POST\r\n"), std::string::npos) << put;
}

TEST(Listener, LimitsHeaderAndBodySize) {
    ServerLimits limits;
    limits.maxHeaderBytes = 1024;
    limits.maxBodyBytes = 1000;
    std::atomic<int> calls = 0;
    HttpServer server(
        [&](const HttpRequest& request) {
            ++calls;
            return textAnswer(std::to_string(request.params.size()));
        },
        limits);
    server.start("127.0.0.1", 0);

    const std::string big(2000, 'x');
    const std::string header = rawExchange(
        server.port(), "GET / HTTP/1.1\r\nHost: localhost\r\nX-Big: " + big + "\r\n\r\n");
    EXPECT_TRUE(header.starts_with("HTTP/1.1 431 ")) << header;
    const std::string target =
        rawExchange(server.port(), "GET /" + big + " HTTP/1.1\r\nHost: localhost\r\n\r\n");
    EXPECT_TRUE(target.starts_with("HTTP/1.1 431 ")) << target;

    const std::string form = "a=" + std::string(1200, 'y');
    const std::string sized =
        rawExchange(server.port(), "POST / HTTP/1.1\r\nHost: localhost\r\nContent-Type: "
                                   "application/x-www-form-urlencoded\r\nContent-Length: " +
                                       std::to_string(form.size()) + "\r\n\r\n" + form);
    EXPECT_TRUE(sized.starts_with("HTTP/1.1 413 ")) << sized;
    const std::string chunked = rawExchange(
        server.port(), "POST / HTTP/1.1\r\nHost: localhost\r\nTransfer-Encoding: chunked\r\n\r\n"
                       "4b0\r\n" +
                           form.substr(0, 1200) + "\r\n0\r\n\r\n");
    EXPECT_TRUE(chunked.starts_with("HTTP/1.1 413 ")) << chunked;
    EXPECT_EQ(calls, 0);

    // Just below the limits is served.
    const std::string fits = "a=" + std::string(998, 'y');
    EXPECT_EQ(httpRequest(server.port(), "POST", "/", fits).body, "1");
    EXPECT_EQ(calls, 1);
}

// The two cases of the connection limit run on servers of their own, so that connections of
// one case still being closed cannot take places in the other.
TEST(Listener, AtTheConnectionLimitTheLongestIdleConnectionMakesRoom) {
    ServerLimits limits;
    limits.maxConnections = 2;
    HttpServer server([](const HttpRequest&) { return textAnswer("ok"); }, limits);
    server.start("127.0.0.1", 0);
    const std::string request = "GET / HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n\r\n";

    RawClient first(server.port());
    std::this_thread::sleep_for(50ms);
    RawClient second(server.port());
    std::this_thread::sleep_for(200ms); // both accepted
    RawClient third(server.port());
    ASSERT_TRUE(third.send(request));
    std::string answer;
    ASSERT_TRUE(third.readUntilClosed(5s, &answer));
    EXPECT_TRUE(answer.starts_with("HTTP/1.1 200 OK\r\n")) << answer;
    std::string dropped;
    ASSERT_TRUE(first.readUntilClosed(5s, &dropped));
    EXPECT_EQ(dropped, "");
    // The other connection already open is still served.
    ASSERT_TRUE(second.send(request));
    ASSERT_TRUE(second.readUntilClosed(5s, &answer));
    EXPECT_TRUE(answer.starts_with("HTTP/1.1 200 OK\r\n")) << answer;
}

TEST(Listener, AtTheConnectionLimitWithEveryConnectionBusyOneMoreIsRefused) {
    ServerLimits limits;
    limits.maxConnections = 2;
    std::mutex mutex;
    std::condition_variable released;
    bool release = false;
    std::atomic<int> slowInProgress = 0;
    HttpServer server(
        [&](const HttpRequest& request) {
            if (request.document == "/slow") {
                ++slowInProgress;
                std::unique_lock lock(mutex);
                released.wait(lock, [&] { return release; });
            }
            return textAnswer("ok");
        },
        limits);
    server.start("127.0.0.1", 0);
    // Declared after the server: lets the slow requests end before the server stops, also when
    // an assertion below ends the test early.
    struct Releaser {
        std::mutex& mutex;
        std::condition_variable& released;
        bool& release;
        void operator()() {
            {
                std::lock_guard lock(mutex);
                release = true;
            }
            released.notify_all();
        }
        ~Releaser() { (*this)(); }
    } releaseSlow{mutex, released, release};
    const std::string request = "GET / HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n\r\n";
    {
        RawClient first(server.port());
        RawClient second(server.port());
        ASSERT_TRUE(
            first.send("GET /slow HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n\r\n"));
        ASSERT_TRUE(
            second.send("GET /slow HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n\r\n"));
        for (int i = 0; i < 500 && slowInProgress < 2; ++i)
            std::this_thread::sleep_for(20ms);
        ASSERT_EQ(slowInProgress, 2);
        std::string refused;
        RawClient third(server.port());
        ASSERT_TRUE(third.readUntilClosed(5s, &refused));
        EXPECT_TRUE(refused.starts_with("HTTP/1.1 503 Service Unavailable\r\n")) << refused;
        releaseSlow();
        std::string answer;
        ASSERT_TRUE(first.readUntilClosed(5s, &answer));
        EXPECT_TRUE(answer.starts_with("HTTP/1.1 200 OK\r\n")) << answer;
    }
    // Closed connections free their places.
    for (int attempt = 0; attempt < 50; ++attempt) {
        const std::string raw = rawExchange(server.port(), request);
        if (raw.starts_with("HTTP/1.1 200 OK\r\n"))
            return;
        std::this_thread::sleep_for(50ms);
    }
    ADD_FAILURE() << "no place became free";
}

// Clients that ask for large answers and never read cannot hold every place: once they lag behind
// the minimum rate they count as idle, and a newcomer is served long before the idle time ends.
TEST(Listener, ClientsThatDoNotReadTheirAnswersMakeRoomForANewcomer) {
    const test::TempDir dir;
    const auto file = dir.write("large.bin", "");
    constexpr std::uint64_t kSize = 64u << 20; // more than any socket buffers hold
    std::filesystem::resize_file(file, kSize);
    const std::string page(16u << 20, 'p');
    ServerLimits limits;
    limits.maxConnections = 4; // the idle time stays long: only the rate rule can make room
    HttpServer server(
        [&](const HttpRequest& request) {
            if (request.document == "/small")
                return textAnswer("ok");
            if (request.document == "/page")
                return textAnswer(page);
            HttpResponse response;
            response.file = FileBody{file, 0, kSize};
            return response;
        },
        limits);
    server.start("127.0.0.1", 0);
    std::vector<std::unique_ptr<RawClient>> readers;
    for (std::size_t i = 0; i < limits.maxConnections; ++i) {
        readers.push_back(std::make_unique<RawClient>(server.port(), 4096));
        ASSERT_TRUE(readers.back()->send(std::string("GET ") + (i % 2 ? "/page" : "/file") +
                                         " HTTP/1.1\r\nHost: localhost\r\n\r\n"));
        // Its answer is under way (it is no longer waiting for a request); it reads no more.
        ASSERT_TRUE(readers.back()->readOnce(5s).starts_with("HTTP/1.1 200 OK\r\n"));
    }
    std::string answer;
    // A refused newcomer comes back, as Retry-After asks.
    for (const auto end = std::chrono::steady_clock::now() + 10s;
         std::chrono::steady_clock::now() < end; std::this_thread::sleep_for(200ms)) {
        const RawClient newcomer(server.port());
        ASSERT_TRUE(newcomer.send("GET /small HTTP/1.1\r\nHost: localhost\r\n"
                                  "Connection: close\r\n\r\n"));
        answer.clear();
        newcomer.readUntilClosed(5s, &answer);
        if (answer.starts_with("HTTP/1.1 200 OK\r\n"))
            break;
    }
    EXPECT_TRUE(answer.starts_with("HTTP/1.1 200 OK\r\n")) << answer;
}

// More bytes than any socket between the server and a client that does not read can hold: the
// system's largest send buffer and then some.
std::size_t moreThanSocketsHold() {
    std::size_t most = 4u << 20;
    std::ifstream sizes("/proc/sys/net/ipv4/tcp_wmem");
    std::size_t least = 0, initial = 0;
    sizes >> least >> initial >> most;
    return most + (2u << 20);
}

// An event stream counts as one (its owner is told of it) only once its head is written, and a
// stream whose client does not take its head or its events is closed to make room like any slow
// reader: streams that never read cannot hold every place.
TEST(Listener, AStreamCountsOnceItsHeadIsWrittenAndOneThatStallsMakesRoom) {
    struct Case {
        const char* name;
        std::size_t headPadding; // a header field this long
        std::size_t eventBytes;  // sent on the stream once it is open
    };
    const std::size_t stalling = moreThanSocketsHold();
    const Case cases[] = {
        {"the head stalls", stalling, 0},
        {"the events stall", 0, stalling},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::atomic<int> opened{0}, closed{0};
        const std::string event = "data: " + std::string(32 * 1024, 'e') + "\n\n";
        const auto stream = std::make_shared<EventStream>(
            EventStream{[&](std::shared_ptr<EventSink> sink) {
                            ++opened;
                            for (std::size_t sent = 0; sent < c.eventBytes; sent += event.size())
                                sink->send(event);
                        },
                        [&](const EventSink*) { ++closed; }});
        ServerLimits limits;
        limits.maxConnections = 4; // the idle time stays long: only the rate rule can make room
        limits.maxStreamBacklog = 2 * stalling;
        HttpServer server(
            [&](const HttpRequest& request) {
                if (request.document == "/small")
                    return textAnswer("ok");
                HttpResponse response;
                response.contentType = "text/event-stream";
                if (c.headPadding > 0)
                    response.setHeader("X-Padding", std::string(c.headPadding, 'p'));
                response.stream = stream;
                return response;
            },
            limits);
        server.start("127.0.0.1", 0);
        std::vector<std::unique_ptr<RawClient>> streams;
        for (std::size_t i = 0; i < limits.maxConnections; ++i) {
            streams.push_back(std::make_unique<RawClient>(server.port(), 4096));
            ASSERT_TRUE(streams.back()->send("GET /stream HTTP/1.1\r\nHost: localhost\r\n\r\n"));
        }
        std::this_thread::sleep_for(300ms); // every head is under way, none read
        EXPECT_EQ(opened, c.headPadding > 0 ? 0 : 4);

        std::string answer;
        // A refused newcomer comes back, as Retry-After asks.
        for (const auto end = std::chrono::steady_clock::now() + 10s;
             std::chrono::steady_clock::now() < end; std::this_thread::sleep_for(200ms)) {
            const RawClient newcomer(server.port());
            ASSERT_TRUE(newcomer.send("GET /small HTTP/1.1\r\nHost: localhost\r\n"
                                      "Connection: close\r\n\r\n"));
            answer.clear();
            newcomer.readUntilClosed(5s, &answer);
            if (answer.starts_with("HTTP/1.1 200 OK\r\n"))
                break;
        }
        EXPECT_TRUE(answer.starts_with("HTTP/1.1 200 OK\r\n")) << answer;
        streams.clear();
        server.stop();
        // Every stream that was opened was reported closed once.
        EXPECT_EQ(closed, opened);
    }
}

TEST(Listener, ClosesIdleAndTricklingConnections) {
    ServerLimits limits;
    limits.idleTimeout = 300ms;
    HttpServer server([](const HttpRequest&) { return textAnswer("ok"); }, limits);
    server.start("127.0.0.1", 0);

    const RawClient silent(server.port());
    EXPECT_TRUE(silent.readUntilClosed(10s));

    // Keep-alive: after an answer the connection waits no longer than the idle time.
    const RawClient kept(server.port());
    ASSERT_TRUE(kept.send("GET / HTTP/1.1\r\nHost: localhost\r\n\r\n"));
    std::string answer;
    EXPECT_TRUE(kept.readUntilClosed(10s, &answer));
    EXPECT_TRUE(answer.starts_with("HTTP/1.1 200 OK\r\n")) << answer;

    // A request that never completes does not hold the connection longer either.
    const RawClient trickle(server.port());
    bool closed = false;
    for (int i = 0; i < 100 && !closed; ++i)
        closed = !trickle.send("X") || trickle.readUntilClosed(100ms);
    EXPECT_TRUE(closed);
}

// The idle time bounds waiting for the network only: a handler may take longer, and an answer too
// large for the socket's buffer is finished by later writes within it; either way the connection
// then serves its next request and still closes after the idle time.
TEST(Listener, IdleTimeLimitsOnlyTheWaitForTheNetwork) {
    ServerLimits limits;
    limits.idleTimeout = 300ms;
    std::string large(6 * 1024 * 1024, 'x');
    for (std::size_t i = 0; i < large.size(); i += 4096)
        large[i] = static_cast<char>('a' + i / 4096 % 26);
    HttpServer server(
        [&](const HttpRequest& request) {
            if (request.document == "/slow")
                std::this_thread::sleep_for(600ms);
            return textAnswer(request.document == "/large" ? large : "done");
        },
        limits);
    server.start("127.0.0.1", 0);
    for (const std::string document : {"/slow", "/large"}) {
        SCOPED_TRACE(document);
        const RawClient client(server.port());
        for (int round = 0; round < 2; ++round) {
            ASSERT_TRUE(client.send("GET " + document + " HTTP/1.1\r\nHost: localhost\r\n\r\n"));
            const std::string body = document == "/large" ? large : "done";
            const std::string head = "Content-Length: " + std::to_string(body.size()) + "\r\n";
            if (document == "/large")
                std::this_thread::sleep_for(100ms); // the server's first write cannot take it all
            std::string answer;
            std::size_t wanted = SIZE_MAX;
            while (answer.size() < wanted) {
                const std::string piece = client.readOnce(5s);
                if (piece.empty())
                    break;
                answer += piece;
                if (const std::size_t at = answer.find("\r\n\r\n");
                    wanted == SIZE_MAX && at != std::string::npos)
                    wanted = at + 4 + body.size();
            }
            const std::size_t end = answer.find("\r\n\r\n");
            ASSERT_NE(end, std::string::npos) << "round " << round;
            EXPECT_NE(answer.substr(0, end + 2).find(head), std::string::npos);
            EXPECT_TRUE(answer.substr(end + 4) == body) << "round " << round;
        }
        EXPECT_TRUE(client.readUntilClosed(5s));
    }
}

// Requests sent one after the other without waiting are answered in order, each answer written
// as soon as it is ready, however many are queued.
TEST(Listener, PipelinedRequestsAreAnsweredInOrder) {
    std::atomic<int> calls = 0;
    HttpServer server([&](const HttpRequest& request) {
        ++calls;
        return textAnswer(request.document);
    });
    server.start("127.0.0.1", 0);
    constexpr int kRequests = 3000;
    std::string requests;
    for (int i = 0; i < kRequests; ++i)
        requests += "GET /" + std::to_string(i) + " HTTP/1.1\r\nHost: localhost\r\n\r\n";
    const RawClient client(server.port());
    std::string answers;
    std::thread sender([&] { client.send(requests); });
    const std::string last = "\r\n\r\n/" + std::to_string(kRequests - 1);
    while (answers.size() < last.size() ||
           answers.compare(answers.size() - last.size(), last.size(), last) != 0) {
        const std::string piece = client.readOnce(10s);
        if (piece.empty())
            break;
        answers += piece;
    }
    sender.join();
    EXPECT_EQ(calls, kRequests);
    EXPECT_EQ(countOf(answers, "HTTP/1.1 200 OK\r\n"), kRequests);
    std::size_t at = 0;
    for (int i = 0; i < kRequests && at != std::string::npos; ++i) {
        at = answers.find("\r\n\r\n/" + std::to_string(i), at);
        ASSERT_NE(at, std::string::npos) << "answer " << i << " missing or out of order";
        ++at;
    }
}

// Framing the server does not take is refused before the handler runs: HTTP/1.1 without Host,
// two Host fields, a transfer coding other than chunked. HTTP/1.0 needs no Host.
TEST(Listener, RefusesRequestsWithoutHostOrWithAnUnknownTransferCoding) {
    std::atomic<int> calls = 0;
    HttpServer server([&](const HttpRequest&) {
        ++calls;
        return textAnswer("x");
    });
    server.start("127.0.0.1", 0);
    struct Case {
        std::string request;
        bool answered;
    };
    const std::vector<Case> cases = {
        {"GET / HTTP/1.1\r\n\r\n", false},
        {"GET / HTTP/1.1\r\nConnection: close\r\n\r\n", false},
        {"POST / HTTP/1.1\r\nHost: localhost\r\nTransfer-Encoding: gzip\r\n\r\nab", false},
        {"POST / HTTP/1.1\r\nHost: localhost\r\nTransfer-Encoding: gzip, chunked\r\n\r\n"
         "1\r\na\r\n0\r\n\r\n",
         false},
        {"GET / HTTP/1.1\r\nHost: localhost\r\nHost: evil.example\r\n\r\n", false},
        {"GET / HTTP/1.1\r\nHost: evil.example\r\nhost: localhost\r\n\r\n", false},
        {"GET / HTTP/1.0\r\nHost: localhost\r\nHost: localhost\r\n\r\n", false},
        {"GET / HTTP/1.0\r\n\r\n", true},
        {"POST / HTTP/1.1\r\nHost: localhost\r\nTransfer-Encoding: Chunked\r\n"
         "Connection: close\r\n\r\n1\r\na\r\n0\r\n\r\n",
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.request);
        const int before = calls;
        const std::string raw = rawExchange(server.port(), c.request);
        if (c.answered) {
            EXPECT_NE(raw.find(" 200 OK\r\n"), std::string::npos) << raw;
            EXPECT_EQ(calls, before + 1);
        } else {
            // The answer's version is the request's ("HTTP/1.0 400 ...").
            EXPECT_TRUE(raw.starts_with("HTTP/1.") &&
                        (raw.substr(8, 5) == " 400 " || raw.substr(8, 5) == " 501 "))
                << raw;
            EXPECT_EQ(calls, before);
        }
    }
}

// Listening on an address other than loopback is warned of (the server itself is not started
// here: tests listen on 127.0.0.1 only).
TEST(Listener, WarnsOfAddressesOpenToTheNetwork) {
    struct Case {
        const char* address;
        bool warned;
    };
    const Case cases[] = {
        {"127.0.0.1", false},        {"127.1.2.3", false},      {"::1", false},
        {"::ffff:127.0.0.1", false}, {"0.0.0.0", true},         {"::", true},
        {"192.168.1.20", true},      {"::ffff:10.0.0.1", true}, {"fe80::1", true},
        {"localhost", false}, // no IP address: the server does not start
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.address);
        const auto warning = openToTheNetworkWarning(c.address);
        EXPECT_EQ(warning.has_value(), c.warned);
        if (warning) {
            EXPECT_EQ(*warning, "warning: listening on " + std::string(c.address) +
                                    ", not on loopback only: the control pages (/$int, with the "
                                    "editor and the file lists) are open to anyone on the "
                                    "network who can reach this computer");
        }
    }
}

// 304 (like 204) has no body, so it carries no Content-Length, for GET and HEAD alike.
TEST(Listener, NotModifiedCarriesNoLength) {
    HttpServer server([](const HttpRequest&) {
        HttpResponse response;
        response.status = 304;
        response.setHeader("ETag", "\"1\"");
        return response;
    });
    server.start("127.0.0.1", 0);
    for (const char* method : {"GET", "HEAD"}) {
        SCOPED_TRACE(method);
        const std::string raw = rawExchange(
            server.port(), std::string(method) + " / HTTP/1.1\r\nHost: localhost\r\n\r\n", 500);
        EXPECT_TRUE(raw.starts_with("HTTP/1.1 304 Not Modified\r\n")) << raw;
        EXPECT_EQ(raw.find("Content-Length"), std::string::npos) << raw;
        EXPECT_NE(raw.find("ETag: \"1\"\r\n"), std::string::npos) << raw;
    }
}

// More parameters than the limit are refused with 413 before the handler sees the request.
TEST(Listener, RefusesMoreParametersThanTheLimit) {
    std::atomic<int> calls = 0;
    HttpServer server([&](const HttpRequest&) {
        ++calls;
        return textAnswer("x");
    });
    server.start("127.0.0.1", 0);
    const auto form = [](int count) {
        std::string body;
        for (int i = 0; i < count; ++i)
            body += (i ? "&p" : "p") + std::to_string(i) + "=v";
        return body;
    };
    EXPECT_EQ(httpRequest(server.port(), "POST", "/f?q=1", form(9'999)).status, 200);
    const auto refused = httpRequest(server.port(), "POST", "/f?q=1", form(10'000));
    EXPECT_EQ(refused.status, 413);
    EXPECT_NE(refused.body.find("10000"), std::string::npos) << refused.body;
    EXPECT_EQ(refused.body, "<html><head><title>413 Payload Too Large</title></head><body><h1>413 "
                            "Payload Too Large</h1><p>This request has more than 10000 "
                            "parameters. Nothing was changed.</p></body></html>");
    EXPECT_EQ(refused.header("Content-Type"), "text/html");
    EXPECT_EQ(calls, 1);
}

// A request whose handler does not return keeps stop(limit) waiting no longer than its limit.
TEST(Listener, StopWithALimitDoesNotWaitForAStuckRequest) {
    std::mutex mutex;
    std::condition_variable released;
    bool release = false;
    std::atomic<bool> inHandler = false;
    auto server = std::make_unique<HttpServer>([&](const HttpRequest&) {
        inHandler = true;
        std::unique_lock lock(mutex);
        released.wait(lock, [&] { return release; });
        return textAnswer("late");
    });
    server->start("127.0.0.1", 0);
    RawClient client(server->port());
    ASSERT_TRUE(client.send("GET / HTTP/1.1\r\nHost: localhost\r\n\r\n"));
    for (int i = 0; i < 250 && !inHandler; ++i)
        std::this_thread::sleep_for(20ms);
    ASSERT_TRUE(inHandler);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(server->stop(300ms));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
    {
        std::lock_guard lock(mutex);
        release = true;
    }
    released.notify_all();
    server.reset(); // waits for the request that is now free to end
}

TEST(Listener, StopClosesOpenConnectionsAndFreesThePort) {
    auto server = std::make_unique<HttpServer>([](const HttpRequest&) { return textAnswer("ok"); });
    server->start("127.0.0.1", 0);
    const std::uint16_t port = server->port();
    const RawClient idle(port);
    std::this_thread::sleep_for(100ms);
    server->stop();
    EXPECT_FALSE(server->running());
    EXPECT_TRUE(idle.readUntilClosed(5s));
    // The same object can listen again, on the same port.
    server->start("127.0.0.1", port);
    EXPECT_EQ(httpGet(port, "/").body, "ok");
    server.reset();
}

TEST(Listener, ReportsAPortThatCannotBeBound) {
    HttpServer first([](const HttpRequest&) { return textAnswer("first"); });
    first.start("127.0.0.1", 0);
    HttpServer second([](const HttpRequest&) { return textAnswer("second"); });
    try {
        second.start("127.0.0.1", first.port());
        FAIL() << "bound a port in use";
    } catch (const std::runtime_error& e) {
        const std::string message = e.what();
        EXPECT_NE(message.find("127.0.0.1 port " + std::to_string(first.port())), std::string::npos)
            << message;
        EXPECT_NE(message.find("in use"), std::string::npos) << message;
    }
    EXPECT_FALSE(second.running());
    EXPECT_THROW(second.start("localhost", 0), std::runtime_error); // IP literals only
    EXPECT_EQ(httpGet(first.port(), "/").body, "first");
}

// The request handler behind the listener: Host check, failures and the request guard.
class HandlerOverHttp : public ::testing::Test {
  protected:
    AppState state;
    test::TestHost host;
};

TEST_F(HandlerOverHttp, RefusesForeignHostNamesBeforeTouchingTheState) {
    const test::TestServer server(state, host);
    const auto refused =
        test::httpGet(server.port(), "/x.htm?Probe=1", {{"Host", "rebound.example:8080"}});
    EXPECT_EQ(refused.status, 403);
    EXPECT_NE(refused.body.find("403 Forbidden"), std::string::npos);
    EXPECT_EQ(refused.body,
              "<html><head><title>403 Forbidden</title></head><body><h1>403 Forbidden</h1><p>"
              "This server answers only requests addressed to localhost, to an IP address or to "
              "a host name listed in the key AllowedHosts of the section [Const] of its settings "
              "file.</p></body></html>");
    {
        std::lock_guard lock(state.mutex);
        EXPECT_TRUE(state.variables.empty());
    }

    {
        std::lock_guard lock(state.mutex);
        state.settings.allowedHosts = "phone.lan, rebound.example";
    }
    test::httpGet(server.port(), "/x.htm?Probe=1", {{"Host", "rebound.example:8080"}});
    test::httpGet(server.port(), "/x.htm?Local=1", {{"Host", "localhost:8080"}});
    std::lock_guard lock(state.mutex);
    EXPECT_TRUE(state.variables.find("Probe"));
    EXPECT_TRUE(state.variables.find("Local"));
}

TEST_F(HandlerOverHttp, AnExceptionInAnyBranchGives500AndReleasesTheGuard) {
    host.throwMessage = "notification failed";
    const test::TestServer server(state, host);
    const auto failed = test::httpGet(server.port(), "/x.htm?a=1");
    EXPECT_EQ(failed.status, 500);
    EXPECT_EQ(failed.body, "notification failed");
    // With auto-sort on, a guard left set would hold the next request forever.
    host.throwMessage.clear();
    const auto next = test::httpGet(server.port(), "/x.htm?a=2");
    EXPECT_NE(next.status, 500);
    std::lock_guard lock(state.mutex);
    EXPECT_EQ(test::describeVariables(state.variables), std::vector<std::string>{"a=2|P"});
}

} // namespace
} // namespace pelotest

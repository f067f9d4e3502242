// Load and soak tests of the real server: many connections mixing every kind of request, many idle
// connections, and hostile clients. They check correctness under load (no failed answer, a
// consistent log, tree and variables list, bounded threads), never speed: bench/run measures
// that.
//
// PELOTEST_LOAD_REQUESTS overrides the number of requests of the mixed load (default 100,000).

#include "app/HeadlessHost.h"
#include "pages/Routes.h"
#include "server/HttpServer.h"
#include "state/AppState.h"
#include "state/TextCase.h"
#include "support/TempDir.h"

#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/string_body.hpp>
#include <boost/beast/http/write.hpp>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <mutex>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace pelotest::test {
namespace {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using namespace std::chrono_literals;
using namespace std::string_literals;
using Clock = std::chrono::steady_clock;

// --- a client socket whose every wait has a deadline ---------------------------------------------

// A blocking TCP connection to 127.0.0.1 with poll() deadlines, usable as a Beast sync stream so
// that Beast parses the answers.
class Connection {
  public:
    explicit Connection(std::uint16_t port, std::chrono::milliseconds timeout = 30s)
        : timeout_(timeout) {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd_ < 0)
            throw std::runtime_error("socket() failed");
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            ::close(fd_);
            throw std::runtime_error("connect() failed");
        }
        const int one = 1;
        ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    }
    ~Connection() { ::close(fd_); }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Beast SyncReadStream / SyncWriteStream.
    template <typename Buffers>
    std::size_t read_some(const Buffers& buffers, beast::error_code& ec) {
        const net::mutable_buffer first = *net::buffer_sequence_begin(buffers);
        if (!waitFor(POLLIN)) {
            ec = net::error::timed_out;
            return 0;
        }
        const ssize_t got = ::recv(fd_, first.data(), first.size(), 0);
        if (got < 0) {
            ec = beast::error_code(errno, boost::system::system_category());
            return 0;
        }
        if (got == 0) {
            ec = net::error::eof;
            return 0;
        }
        ec = {};
        return static_cast<std::size_t>(got);
    }
    template <typename Buffers>
    std::size_t read_some(const Buffers& buffers) {
        beast::error_code ec;
        const std::size_t n = read_some(buffers, ec);
        if (ec)
            throw beast::system_error(ec);
        return n;
    }
    template <typename Buffers>
    std::size_t write_some(const Buffers& buffers, beast::error_code& ec) {
        const net::const_buffer first = *net::buffer_sequence_begin(buffers);
        if (!waitFor(POLLOUT)) {
            ec = net::error::timed_out;
            return 0;
        }
        const ssize_t sent = ::send(fd_, first.data(), first.size(), MSG_NOSIGNAL);
        if (sent < 0) {
            ec = beast::error_code(errno, boost::system::system_category());
            return 0;
        }
        ec = {};
        return static_cast<std::size_t>(sent);
    }
    template <typename Buffers>
    std::size_t write_some(const Buffers& buffers) {
        beast::error_code ec;
        const std::size_t n = write_some(buffers, ec);
        if (ec)
            throw beast::system_error(ec);
        return n;
    }

    // Sends all bytes; false when the server closed or reset the connection, or the deadline hit.
    bool sendAll(std::string_view bytes) {
        while (!bytes.empty()) {
            beast::error_code ec;
            const std::size_t n = write_some(net::buffer(bytes.data(), bytes.size()), ec);
            if (ec)
                return false;
            bytes.remove_prefix(n);
        }
        return true;
    }

    // Everything the server sends until it closes the connection or the deadline passes.
    struct Drained {
        std::string bytes;
        bool closed = false; // end of stream or reset (false: the deadline passed)
    };
    Drained drain(std::chrono::milliseconds deadline) {
        Drained result;
        const auto saved = timeout_;
        const auto end = Clock::now() + deadline;
        char chunk[16 * 1024];
        while (Clock::now() < end) {
            timeout_ = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
            beast::error_code ec;
            const std::size_t n = read_some(net::buffer(chunk), ec);
            if (ec == net::error::timed_out)
                break;
            if (ec) {
                result.closed = true;
                break;
            }
            result.bytes.append(chunk, n);
        }
        timeout_ = saved;
        return result;
    }

    // True when the server has closed (or reset) the connection, without waiting; what it sent
    // before (a 503, say) is read and dropped.
    bool closedByServer() {
        char chunk[4096];
        for (;;) {
            const ssize_t got = ::recv(fd_, chunk, sizeof chunk, MSG_DONTWAIT);
            if (got > 0)
                continue;
            return got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR);
        }
    }

    beast::flat_buffer buffer; // what Beast has read ahead on this connection

  private:
    bool waitFor(short events) {
        pollfd p{fd_, events, 0};
        for (;;) {
            const int ready = ::poll(&p, 1, static_cast<int>(timeout_.count()));
            if (ready > 0)
                return true;
            if (ready == 0 || errno != EINTR)
                return false;
        }
    }

    int fd_ = -1;
    std::chrono::milliseconds timeout_;
};

using Response = http::response<http::string_body>;

// One request on an open keep-alive connection; throws on a network error or a bad answer.
Response exchange(Connection& connection, http::verb method, const std::string& target,
                  const std::string& body = {}) {
    http::request<http::string_body> request{method, target, 11};
    request.set(http::field::host, "127.0.0.1");
    if (method == http::verb::post) {
        request.set(http::field::content_type, "application/x-www-form-urlencoded");
        request.body() = body;
        request.prepare_payload();
    }
    http::write(connection, request);
    http::response_parser<http::string_body> parser;
    parser.body_limit(64 * 1024 * 1024);
    http::read(connection, connection.buffer, parser);
    return parser.release();
}

Response get(std::uint16_t port, const std::string& target) {
    Connection connection(port);
    return exchange(connection, http::verb::get, target);
}

int threadCount() {
    int count = 0;
    for ([[maybe_unused]] const auto& entry :
         std::filesystem::directory_iterator("/proc/self/task"))
        ++count;
    return count;
}

// --- a served site
// --------------------------------------------------------------------------------

const std::string kCrLf = "\r\n";

std::string lines(std::initializer_list<std::string_view> list) {
    std::string out;
    for (std::string_view line : list)
        out.append(line).append(kCrLf);
    return out;
}

// The template of the load: a reference to a known variable, one to a variable that the first
// render creates, and a link whose event the first render discovers.
const std::string kTemplate =
    lines({"<html>", "<head>", "<title>Load page</title>", "</head>", "<body>", "<p>/(Fixed)</p>",
           "<p>[/(Created)]</p>", "<a href=\"next.htm?PELO_EVENT=Next&amp;x=1\">next</a>",
           "</body>", "</html>"});
const std::string kRendered = lines(
    {"<html>", "<head>", "<title>Load page</title>", "</head>", "<body>", "<p>fixed value</p>",
     "<p>[]</p>", "<a href=\"next.htm?PELO_EVENT=Next&amp;x=1\">next</a>", "</body>", "</html>"});
const std::string kStaticPage = lines({"<html>", "<head>", "<title>Static page</title>", "</head>",
                                       "<body>static</body>", "</html>"});

std::string pictureBytes() {
    std::string bytes = "GIF89a";
    for (int i = 0; i < 1018; ++i)
        bytes.push_back(static_cast<char>(i * 7 % 256));
    return bytes;
}

struct Site {
    TempDir dir;
    AppState state;
    HeadlessHost host{state};
    std::string picture = pictureBytes();

    explicit Site(int maxLog = 100) {
        dir.write("site/page.htm", kStaticPage);
        dir.write("site/pic.gif", picture);
        dir.write("tmpl/page.htm", kTemplate);
        Settings& s = state.settings;
        s.staticPath = (dir.path() / "site").string() + "/";
        s.dynamicPath = (dir.path() / "tmpl").string();
        s.virtualPath = "app";
        s.maxLog = maxLog;
        s.variablesAutoSort = true;
        state.tree.appendRoot("page.htm").appendChild("page.htm (Show)");
        state.variables.add("Fixed", "fixed value");
    }
};

std::size_t requestCount() {
    if (const char* text = std::getenv("PELOTEST_LOAD_REQUESTS"))
        return std::max<std::size_t>(1, std::strtoull(text, nullptr, 10));
    return 100'000;
}

// --- mixed load
// -----------------------------------------------------------------------------------

// 64 keep-alive connections send templates (GET and form POST), static files, missing files
// and control pages while another thread toggles variables auto-sort, as a user may. Every
// answer is checked; afterwards the log, the tree and the variables list must be consistent.
TEST(LoadTest, MixedRequestsOverManyConnectionsAllSucceedAndLeaveConsistentState) {
    constexpr int kConnections = 64;
    constexpr int kMaxLog = 100;
    const std::size_t total = requestCount();
    Site site(kMaxLog);
    HttpServer server(std::make_shared<RequestHandler>(site.state, site.host, routeRequest));
    server.start("127.0.0.1", 0);
    const std::uint16_t port = server.port();

    std::atomic<bool> stopToggling = false;
    std::thread toggler([&] {
        while (!stopToggling) {
            {
                std::lock_guard lock(site.state.mutex);
                site.state.settings.variablesAutoSort = !site.state.settings.variablesAutoSort;
            }
            std::this_thread::sleep_for(20ms);
        }
    });

    std::atomic<std::size_t> next = 0;
    std::mutex failuresMutex;
    std::vector<std::string> failures;
    std::vector<std::string> lastOwnValue(kConnections); // value of "c<k>" last sent by k
    std::mutex sharedMutex;
    std::set<std::string> sharedValues; // every value sent for "Shared"
    const std::vector<std::string> controlTargets = {
        "/$int/styles.css", "/$int", "/$int/SiteLog.html", "/$int/VarList.html", "/$int/blank.gif"};

    auto worker = [&](int k) {
        std::unique_ptr<Connection> connection;
        std::size_t i;
        auto fail = [&](const std::string& what) {
            std::lock_guard lock(failuresMutex);
            if (failures.size() < 20)
                failures.push_back("connection " + std::to_string(k) + ", request " +
                                   std::to_string(i) + ": " + what);
        };
        while ((i = next++) < total) {
            if (!connection)
                connection = std::make_unique<Connection>(port);
            const std::string own = "c" + std::to_string(k) + "=" + std::to_string(i);
            const std::string shared = std::to_string(k) + "-" + std::to_string(i);
            http::verb method = http::verb::get;
            std::string target, body, expected;
            int expectedStatus = 200;
            bool setsVariables = false;
            switch (i % 10) {
            case 0:
            case 1:
            case 2:
                target = "/app/page.htm?PELO_EVENT=Show&" + own + "&Shared=" + shared;
                expected = kRendered;
                setsVariables = true;
                break;
            case 3: // a form post: the body's fields are parameters like the query's
                method = http::verb::post;
                target = "/app/page.htm?PELO_EVENT=Show";
                body = own + "&Shared=" + shared;
                expected = kRendered;
                setsVariables = true;
                break;
            case 4:
            case 5:
                target = "/pic.gif";
                expected = site.picture;
                break;
            case 6:
                target = "/page.htm";
                expected = kStaticPage;
                break;
            case 7:
                target = "/missing.htm";
                expectedStatus = 404;
                break;
            default:
                target = controlTargets[i % controlTargets.size()];
                break;
            }
            if (setsVariables) {
                lastOwnValue[k] = std::to_string(i);
                std::lock_guard lock(sharedMutex);
                sharedValues.insert(shared);
            }
            try {
                const Response response = exchange(*connection, method, target, body);
                if (static_cast<int>(response.result_int()) != expectedStatus)
                    fail(target + " answered " + std::to_string(response.result_int()));
                else if (!expected.empty() && response.body() != expected)
                    fail(target + " answered another body (" +
                         std::to_string(response.body().size()) + " bytes)");
                if (!response.keep_alive())
                    connection.reset();
            } catch (const std::exception& e) {
                fail(target + ": " + e.what());
                connection.reset();
            }
        }
    };
    std::vector<std::thread> workers;
    for (int k = 0; k < kConnections; ++k)
        workers.emplace_back(worker, k);
    for (auto& t : workers)
        t.join();
    stopToggling = true;
    toggler.join();
    server.stop();

    EXPECT_TRUE(failures.empty()) << failures.size() << " failed, the first:\n"
                                  << [&] {
                                         std::string all;
                                         for (const auto& f : failures)
                                             all += "  " + f + "\n";
                                         return all;
                                     }();

    std::lock_guard lock(site.state.mutex);
    // The log holds exactly MaxLog rows, each one a row that some request wrote.
    const auto& rows = site.state.log.rows();
    EXPECT_EQ(rows.size(), static_cast<std::size_t>(kMaxLog));
    const std::string root = (site.dir.path() / "site").string();
    const std::string templatePath = (site.dir.path() / "tmpl" / "page.htm").string();
    for (const LogEntry& row : rows) {
        const bool known = row == LogEntry{3, "page.htm", "Show", "Load page", templatePath} ||
                           row == LogEntry{8, "page.htm", "", "Static page", root + "/page.htm"} ||
                           (row.kind == 11 && row.fileName == "missing.htm" && row.event.empty() &&
                            row.filePath == root + "/missing.htm");
        EXPECT_TRUE(known) << "unexpected log row " << row.kind << ";" << row.fileName << ";"
                           << row.event << ";" << row.title << ";" << row.filePath;
    }

    // The discovered event was added once, however many requests found it at the same time.
    const auto nodes = site.state.tree.flatten();
    ASSERT_EQ(nodes.size(), 3u);
    EXPECT_EQ(nodes[1]->text, "page.htm (Show)");
    EXPECT_EQ(nodes[2]->text, "Next");
    EXPECT_EQ(nodes[2]->parent, nodes[1]);

    // Every variable written by a request is there once, with a value that a request sent; a
    // connection's own variable holds the last value it sent (its requests ran in order).
    const VariableTable& vars = site.state.variables;
    std::set<std::string> names;
    for (const Variable& row : vars.rows())
        EXPECT_TRUE(names.insert(toLower(row.name)).second) << "duplicate row " << row.name;
    auto value = [&](const std::string& name) -> std::optional<std::string> {
        const auto index = vars.find(name);
        if (!index)
            return std::nullopt;
        return vars[*index].value;
    };
    EXPECT_EQ(value("Fixed"), "fixed value");
    EXPECT_EQ(value("Created"), "");
    EXPECT_EQ(value("PELO_EVENT"), "Show");
    const auto sharedValue = value("Shared");
    ASSERT_TRUE(sharedValue.has_value());
    EXPECT_TRUE(sharedValues.count(*sharedValue)) << "Shared=" << *sharedValue;
    for (int k = 0; k < kConnections; ++k) {
        if (lastOwnValue[k].empty())
            continue;
        EXPECT_EQ(value("c" + std::to_string(k)), lastOwnValue[k]) << "variable c" << k;
    }
    // Nothing else: Fixed, Created, PELO_EVENT, Shared and one variable per connection.
    std::size_t writers = 0;
    for (const auto& v : lastOwnValue)
        writers += v.empty() ? 0 : 1;
    EXPECT_EQ(vars.size(), 4 + writers);
}

// --- idle connections
// -----------------------------------------------------------------------------

// 500 idle connections (half never sent a request, half finished one and keep it alive) must not
// keep an ordinary request from being answered; the server closes them after its idle limit and
// its thread count stays bounded throughout.
TEST(LoadTest, IdleConnectionsDoNotStarveTheServerAndAreClosedAfterTheIdleLimit) {
    constexpr int kIdle = 500;
    Site site;
    ServerLimits limits;
    limits.idleTimeout = 3s; // shortened from the default so that the test is quick
    HttpServer server(std::make_shared<RequestHandler>(site.state, site.host, routeRequest),
                      limits);
    server.start("127.0.0.1", 0);
    // Counted after the start: the listener's own threads (one per lane) are there at rest.
    const int threadsBefore = threadCount();
    const std::uint16_t port = server.port();

    std::vector<std::unique_ptr<Connection>> idle;
    for (int i = 0; i < kIdle; ++i) {
        idle.push_back(std::make_unique<Connection>(port, 5s));
        if (i % 2 == 1) {
            // A finished keep-alive exchange first; may be refused when the server is full.
            try {
                exchange(*idle.back(), http::verb::get, "/pic.gif");
            } catch (const std::exception&) {
            }
        }
    }
    std::this_thread::sleep_for(200ms);
    const int threadsWithIdle = threadCount();

    // An ordinary request on a new connection is still answered.
    const Response answer = get(port, "/page.htm");
    EXPECT_EQ(answer.result_int(), 200);
    EXPECT_EQ(answer.body(), kStaticPage);

    // Bounded: one thread per admitted connection at most (and a few whose connection is being
    // closed), never one per idle socket beyond the connection limit.
    EXPECT_LE(threadsWithIdle - threadsBefore, static_cast<int>(limits.maxConnections) + 32);

    // After the idle limit every idle connection has been closed by the server.
    std::this_thread::sleep_for(limits.idleTimeout + 2s);
    int open = 0;
    for (auto& connection : idle)
        open += connection->closedByServer() ? 0 : 1;
    EXPECT_EQ(open, 0) << "connections still open after the idle limit";
    idle.clear();

    // Their threads have ended, and the server still serves.
    const auto deadline = Clock::now() + 5s;
    while (threadCount() > threadsBefore + 2 && Clock::now() < deadline)
        std::this_thread::sleep_for(50ms);
    EXPECT_LE(threadCount(), threadsBefore + 2);
    EXPECT_EQ(get(port, "/pic.gif").body(), site.picture);
}

// --- hostile clients
// ------------------------------------------------------------------------------

int statusOf(const std::string& bytes) {
    // "HTTP/1.1 413 ..." -> 413; 0 when nothing (or no status line) came back.
    if (bytes.size() < 12 || bytes.compare(0, 5, "HTTP/") != 0)
        return 0;
    return std::atoi(bytes.c_str() + 9);
}

class HostileClientTest : public ::testing::Test {
  protected:
    void SetUp() override {
        limits_.idleTimeout = 3s;
        server_ = std::make_unique<HttpServer>(
            std::make_shared<RequestHandler>(site_.state, site_.host, routeRequest), limits_);
        server_->start("127.0.0.1", 0);
        port_ = server_->port();
    }
    // The server keeps serving: an ordinary request on a new connection gets its file.
    void expectStillServing() {
        const Response response = get(port_, "/pic.gif");
        EXPECT_EQ(response.result_int(), 200);
        EXPECT_EQ(response.body(), site_.picture);
    }

    Site site_;
    ServerLimits limits_;
    std::unique_ptr<HttpServer> server_;
    std::uint16_t port_ = 0;
};

// Headers trickling in one byte a second are dropped once the idle limit has passed, while
// other clients are served meanwhile.
TEST_F(HostileClientTest, SlowHeadersAreDroppedAfterTheIdleLimit) {
    Connection slow(port_);
    const std::string request =
        "GET /pic.gif HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Slow: " + std::string(100, 'x') + "\r\n\r\n";
    const auto start = Clock::now();
    bool dropped = false;
    for (std::size_t i = 0; i < request.size() && Clock::now() - start < 20s; ++i) {
        if (!slow.sendAll(request.substr(i, 1)) || slow.closedByServer()) {
            dropped = true;
            break;
        }
        if (i == 2)
            expectStillServing();
        std::this_thread::sleep_for(1s);
    }
    if (!dropped)
        dropped = slow.drain(2s).closed;
    EXPECT_TRUE(dropped) << "a client sending one byte a second was never dropped";
    EXPECT_LE(Clock::now() - start, limits_.idleTimeout + 3s);
    expectStillServing();
}

// A body far beyond the limit is refused from its announced length (or cut off) long before it
// has been sent, whether announced by Content-Length or sent chunked.
TEST_F(HostileClientTest, HugeBodiesAreRefusedBeforeTheyAreRead) {
    constexpr std::uint64_t kGiB = 1024ull * 1024 * 1024;
    const std::string chunk(64 * 1024, 'a');
    struct Case {
        std::string name, head, piece;
    };
    const std::vector<Case> cases = {
        {"Content-Length",
         "POST /app/page.htm HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: "
         "application/x-www-form-urlencoded\r\nContent-Length: " +
             std::to_string(kGiB) + "\r\n\r\n",
         chunk},
        {"chunked",
         "POST /app/page.htm HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: "
         "application/x-www-form-urlencoded\r\nTransfer-Encoding: chunked\r\n\r\n",
         "10000\r\n" + chunk + "\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Connection client(port_, 5s);
        std::uint64_t sent = 0;
        bool accepted = client.sendAll(c.head);
        while (accepted && sent < kGiB && !client.closedByServer()) {
            accepted = client.sendAll(c.piece);
            sent += accepted ? c.piece.size() : 0;
        }
        const auto answer = client.drain(5s);
        const int status = statusOf(answer.bytes);
        EXPECT_TRUE(status == 413 || (status == 0 && answer.closed))
            << "answer: " << answer.bytes.substr(0, 200);
        EXPECT_LT(sent, kGiB / 4) << "the server read on far beyond its body limit";
    }
    expectStillServing();
}

// Clients that send a body a byte now and then hold no slot: once they lag behind the minimum
// rate they count as idle (a new client closes one to make room, instead of getting 503), and
// they are dropped when they have fallen the grace time behind, long before the idle limit.
TEST(LoadTest, TricklingBodiesLoseTheirSlotAndAreDropped) {
    constexpr int kSlots = 8;
    Site site;
    ServerLimits limits;
    limits.maxConnections = kSlots;
    limits.idleTimeout = 30s; // far beyond the test: the body rule has to act
    limits.bodyGrace = 4s;
    HttpServer server(std::make_shared<RequestHandler>(site.state, site.host, routeRequest),
                      limits);
    server.start("127.0.0.1", 0);
    const std::uint16_t port = server.port();

    std::vector<std::unique_ptr<Connection>> slow;
    for (int i = 0; i < kSlots; ++i) {
        slow.push_back(std::make_unique<Connection>(port, 5s));
        ASSERT_TRUE(slow.back()->sendAll("POST /app/page.htm HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                                         "Content-Type: application/x-www-form-urlencoded\r\n"
                                         "Content-Length: 1000\r\n\r\na"));
    }
    const auto start = Clock::now();
    const auto trickleUntil = [&](Clock::time_point end) {
        while (Clock::now() < end) {
            for (auto& connection : slow)
                if (!connection->closedByServer())
                    connection->sendAll("b");
            std::this_thread::sleep_for(200ms);
        }
    };
    trickleUntil(start + 1500ms);
    const Response answer = get(port, "/page.htm");
    EXPECT_EQ(answer.result_int(), 200) << "a full server of trickling bodies refused a client";
    EXPECT_EQ(answer.body(), kStaticPage);

    trickleUntil(start + limits.bodyGrace + 1500ms);
    int open = 0;
    for (auto& connection : slow)
        open += connection->closedByServer() ? 0 : 1;
    EXPECT_EQ(open, 0) << "trickling bodies still open after the grace time";
    EXPECT_EQ(get(port, "/pic.gif").body(), site.picture);
}

// 10,000 header fields exceed the header limit: refused with 431 (or the connection dropped).
TEST_F(HostileClientTest, TenThousandHeadersAreRefused) {
    std::string request = "GET /pic.gif HTTP/1.1\r\nHost: 127.0.0.1\r\n";
    for (int i = 0; i < 10'000; ++i)
        request += "X-Field-" + std::to_string(i) + ": value\r\n";
    request += "\r\n";
    Connection client(port_, 5s);
    client.sendAll(request); // the server may close before it has all of it
    const auto answer = client.drain(5s);
    const int status = statusOf(answer.bytes);
    EXPECT_TRUE(status == 431 || (status == 0 && answer.closed))
        << "answer: " << answer.bytes.substr(0, 200);
    expectStillServing();
}

// Malformed request lines get a client error (or are dropped), never a page and never a hang.
TEST_F(HostileClientTest, MalformedRequestLinesGetAnErrorOrAreDropped) {
    const std::vector<std::string> requests = {
        "GARBAGE\r\n\r\n",
        "GET\r\n\r\n",
        "GET /pic.gif\r\n\r\n",
        "GET /pic.gif HTTP/1.1 extra\r\nHost: 127.0.0.1\r\n\r\n",
        "GET /pic.gif HTTX/1.1\r\nHost: 127.0.0.1\r\n\r\n",
        "GET /pic.gif HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: -5\r\n\r\n",
        "GET /pic.gif HTTP/1.1\r\nBad Header Line\r\n\r\n",
        "GET /pic\0.gif HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"s,
        "\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03 TLS hello\r\n\r\n",
        std::string(70'000, 'G') + " / HTTP/1.1\r\n\r\n",
    };
    for (const std::string& request : requests) {
        SCOPED_TRACE(request.substr(0, 40));
        Connection client(port_, 5s);
        client.sendAll(request);
        const auto answer = client.drain(limits_.idleTimeout + 2s);
        const int status = statusOf(answer.bytes);
        EXPECT_TRUE((status >= 400 && status < 500) || (status == 0 && answer.closed))
            << "answer: " << answer.bytes.substr(0, 200);
    }
    expectStillServing();
}

} // namespace
} // namespace pelotest::test

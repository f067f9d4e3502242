// Live reload over HTTP against the real server: the script in HTML answers only while it is on,
// every other answer unchanged, the event stream's framing and events, and how streams are
// counted among the connections.

#include "pages/Routes.h"
#include "server/HttpServer.h"
#include "server/LiveReload.h"
#include "server/ServerTestSupport.h"
#include "support/FakeHost.h"
#include "support/HttpTestClient.h"
#include "support/TempDir.h"
#include "support/TestData.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>
#include <thread>
#include <vector>

namespace pelotest {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::HttpResult;
using test::TempDir;

class StreamCountingHost : public test::FakeHost {
  public:
    void liveStreamsChanged(std::size_t open) override { streams = open; }
    std::atomic<std::size_t> streams{0};
};

// A connection that sends one request and then reads what arrives, for as long as it is open;
// receiveBuffer (bytes) makes its receive buffer small.
class Client {
  public:
    Client(std::uint16_t port, std::string_view request, int receiveBuffer = 0) {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        if (receiveBuffer > 0)
            ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
            ::send(fd_, request.data(), request.size(), MSG_NOSIGNAL) !=
                static_cast<ssize_t>(request.size()))
            throw std::runtime_error("cannot reach the server");
    }
    static std::string get(std::string_view target, std::string_view host = "127.0.0.1") {
        return "GET " + std::string(target) + " HTTP/1.1\r\nHost: " + std::string(host) +
               "\r\n\r\n";
    }
    ~Client() { ::close(fd_); }

    // Sends nothing more (the server reads the end of the stream).
    void halfClose() { ::shutdown(fd_, SHUT_WR); }
    // Closes with a reset instead of an orderly end.
    void reset() {
        const linger now{1, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &now, sizeof now);
        ::close(fd_);
        fd_ = -1;
    }
    // Takes what has arrived, waiting at most within for the first bytes.
    void readArrived(std::chrono::milliseconds within = 0ms) {
        readSome(std::chrono::steady_clock::now() + within);
    }

    // Reads until what arrived after the last text waited for holds text; false when it does not
    // within the time given (or the connection closes first).
    bool waitFor(std::string_view text, std::chrono::milliseconds within = 3000ms) {
        const auto until = std::chrono::steady_clock::now() + within;
        for (;;) {
            if (const auto at = received.find(text, seen_); at != std::string::npos) {
                seen_ = at + text.size();
                return true;
            }
            if (!readSome(until))
                return false;
        }
    }
    // Whether the server closes the connection within the time given.
    bool closes(std::chrono::milliseconds within = 3000ms) {
        const auto until = std::chrono::steady_clock::now() + within;
        while (readSome(until)) {
        }
        return closed_;
    }

    std::string received;

  private:
    bool readSome(std::chrono::steady_clock::time_point until) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            until - std::chrono::steady_clock::now());
        pollfd ready{fd_, POLLIN, 0};
        if (closed_ || fd_ < 0 ||
            ::poll(&ready, 1, static_cast<int>(std::max<std::int64_t>(left.count(), 0))) <= 0)
            return false;
        char buffer[4096];
        const ssize_t got = ::recv(fd_, buffer, sizeof buffer, 0);
        if (got <= 0) {
            closed_ = true;
            return false;
        }
        received.append(buffer, static_cast<std::size_t>(got));
        return true;
    }

    int fd_ = -1;
    std::size_t seen_ = 0;
    bool closed_ = false;
};

std::size_t count(const std::string& text, std::string_view piece) {
    std::size_t n = 0;
    for (auto at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1))
        ++n;
    return n;
}

class LiveReloadHttp : public ::testing::Test {
  protected:
    LiveReloadHttp() {
        site = dir.path() / "site";
        dir.write("site/page.htm", "<html><BODY>a</body><p>x</BODY>\n</html>\n");
        dir.write("site/big.html", "<html><body>" + std::string(200'000, 'x') + "</body></html>");
        dir.write("site/nobody.htm", "<p>no end");
        dir.write("site/start.htm", "<html><head><title>S</title></head><body>s</body></html>");
        dir.write("site/style.css", "body { color: red; }\n");
        dir.write("site/css/more.css", "p { color: red; }\n");
        dir.write("site/app.js", "document.title = '</body>';\n");
        dir.write("site/pic.png", std::string("\x89PNG\r\n\x1a\n\0\0</body>", 18));
        dir.write("tmpl/index.htm", "<html><body>T</body></html>");
        state.settings.staticPath = site.string() + "/";
        state.settings.dynamicPath = (dir.path() / "tmpl").string();
        state.settings.virtualPath = "app";
        state.settings.remoteEdit = false;
        state.settingsPath = dir.path() / "pelotest.ini";
        state.tree.appendRoot("index.htm");
    }

    void switchLiveReload(bool on) {
        std::lock_guard lock(state.mutex);
        state.settings.liveReload = on;
    }

    std::unique_ptr<HttpServer> serve(ServerLimits limits = {}) {
        handler = std::make_shared<RequestHandler>(state, host, routeRequest);
        auto server = std::make_unique<HttpServer>(handler, limits);
        server->start("127.0.0.1", 0);
        return server;
    }

    // The folders of the latest request are walked on the watcher's thread: a change made before
    // that ends would not be seen.
    void awaitWatcher() { ASSERT_TRUE(handler->liveReload().awaitWatches(3000ms)); }

    TempDir dir;
    fs::path site;
    AppState state;
    StreamCountingHost host;
    std::shared_ptr<RequestHandler> handler;
};

TEST_F(LiveReloadHttp, ScriptGoesIntoHtmlAnswersOnlyAndOnlyWhileOn) {
    const std::string tag(kLiveScriptTag);
    struct Case {
        std::string target;
        std::string withScript; // the body while on; empty: the answer stays as it is
    };
    const Case cases[] = {
        {"/page.htm", "<html><BODY>a</body><p>x" + tag + "</BODY>\n</html>\n"},
        {"/big.html", "<html><body>" + std::string(200'000, 'x') + tag + "</body></html>"},
        {"/nobody.htm", "<p>no end" + tag},
        {"/app/", "<html><body>T" + tag + "</body></html>\r\n"},
        {"/style.css", ""},
        {"/app.js", ""},
        {"/pic.png", ""},
        {"/$int/", ""}, // the built-in pages never
        {"/$int/styles.css", ""},
    };
    auto server = serve();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.target);
        switchLiveReload(false);
        const std::string request =
            "GET " + c.target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
        const std::string off = test::rawExchange(server->port(), request);
        const HttpResult offResult = test::httpGet(server->port(), c.target);
        switchLiveReload(true);
        const HttpResult on = test::httpGet(server->port(), c.target);
        if (c.withScript.empty()) {
            EXPECT_EQ(test::rawExchange(server->port(), request), off);
            continue;
        }
        EXPECT_EQ(on.status, 200);
        EXPECT_EQ(on.body, c.withScript);
        std::string withoutScript = on.body;
        withoutScript.erase(withoutScript.find(tag), tag.size());
        EXPECT_EQ(withoutScript, offResult.body);
        // A HEAD answer announces the length of the page with the script.
        const HttpResult head = test::httpRequest(server->port(), "HEAD", c.target);
        EXPECT_EQ(head.header("Content-Length"), std::to_string(c.withScript.size()));
    }

    // The start page (generated by the server) carries it once, before its end.
    {
        std::lock_guard lock(state.mutex);
        state.settings.remoteEdit = true;
        state.settings.staticSite = "start.htm";
    }
    const HttpResult start = test::httpGet(server->port(), "/start.htm");
    EXPECT_EQ(count(start.body, tag), 1u);
    EXPECT_NE(start.body.find(tag + "</body>"), std::string::npos) << start.body;
}

TEST_F(LiveReloadHttp, StreamAndScriptCarryTheFramingOfBuiltInPagesAndFollowTheHostRule) {
    auto server = serve();
    switchLiveReload(false);
    const HttpResult offStream = test::httpGet(server->port(), "/$int/live");
    EXPECT_EQ(offStream.status, 404); // no such page while live reload is off
    switchLiveReload(true);

    const HttpResult script = test::httpGet(server->port(), "/$int/live.js");
    EXPECT_EQ(script.status, 200);
    EXPECT_EQ(script.header("Content-Type"), "text/javascript");
    EXPECT_EQ(script.header("X-Frame-Options"), "SAMEORIGIN");
    EXPECT_EQ(script.header("Access-Control-Allow-Origin"), std::nullopt);
    EXPECT_EQ(script.body, test::loadTestData("scripts/live-reload.js"));
    EXPECT_EQ(test::httpGet(server->port(), "/$int/live.js", {{"Host", "evil.example"}}).status,
              403);
    Client foreign(server->port(), Client::get("/$int/live", "evil.example"));
    EXPECT_TRUE(foreign.waitFor("HTTP/1.1 403 "));

    Client stream(server->port(), Client::get("/$int/live"));
    ASSERT_TRUE(stream.waitFor("\r\n\r\nretry: 1000\nevent: hello\ndata: "));
    ASSERT_TRUE(stream.waitFor("\n\n"));
    EXPECT_EQ(stream.received.substr(0, stream.received.find("\r\n\r\n") + 4),
              "HTTP/1.1 200 OK\r\n"
              "Content-Type: text/event-stream\r\n"
              "Cache-Control: no-cache\r\n"
              "X-Frame-Options: SAMEORIGIN\r\n"
              "Content-Security-Policy: frame-ancestors 'self'\r\n"
              "Connection: close\r\n\r\n");
    EXPECT_EQ(host.streams, 1u);
    awaitWatcher();

    // A template, a page and a style sheet in a folder below the static one.
    dir.write("tmpl/index.htm", "<html><body>changed</body></html>");
    EXPECT_TRUE(stream.waitFor("event: reload\ndata:\n\n"));
    dir.write("site/css/more.css", "p { color: blue; }\n");
    EXPECT_TRUE(stream.waitFor("event: css\ndata: /css/more.css\n\n"));
    dir.write("site/page.htm", "<html><body>new</body></html>");
    EXPECT_TRUE(stream.waitFor("event: reload\ndata:\n\n"));

    // A page saved by the browser editor, once, however many ways the change is seen.
    const std::string form = "FILE=" + (site / "page.htm").string() + "&SITE=saved";
    const HttpResult saved =
        test::httpRequest(server->port(), "POST", "/$int/SiteSave.html", form,
                          {{"Content-Type", "application/x-www-form-urlencoded"},
                           {"Origin", "http://127.0.0.1:" + std::to_string(server->port())}});
    EXPECT_EQ(saved.status, 200) << saved.body;
    EXPECT_TRUE(stream.waitFor("event: reload\ndata:\n\n"));
    EXPECT_FALSE(stream.waitFor("event:", 500ms));

    // Switched off: the streams end at the next request.
    switchLiveReload(false);
    test::httpGet(server->port(), "/page.htm");
    EXPECT_TRUE(stream.waitFor("event: bye\n"));
    EXPECT_TRUE(stream.closes());
    EXPECT_EQ(host.streams, 0u);
}

TEST_F(LiveReloadHttp, AtMost32StreamsAreHeldAndTheOldestIsClosedFirst) {
    switchLiveReload(true);
    auto server = serve();
    std::vector<std::unique_ptr<Client>> streams;
    for (int i = 0; i < 33; ++i) {
        streams.push_back(std::make_unique<Client>(server->port(), Client::get("/$int/live")));
        ASSERT_TRUE(streams.back()->waitFor("event: hello")) << i;
    }
    EXPECT_TRUE(streams[0]->waitFor("event: bye\ndata:\n\n"));
    EXPECT_TRUE(streams[0]->closes());
    EXPECT_EQ(server->liveStreamCount(), 32u);
    EXPECT_EQ(host.streams, 32u);
    awaitWatcher();
    dir.write("site/page.htm", "changed");
    for (std::size_t i = 1; i < streams.size(); ++i)
        EXPECT_TRUE(streams[i]->waitFor("event: reload")) << i;
    // A stream whose client leaves is no longer counted.
    streams.pop_back();
    for (int i = 0; i < 100 && server->liveStreamCount() != 31; ++i)
        std::this_thread::sleep_for(10ms);
    EXPECT_EQ(server->liveStreamCount(), 31u);
}

TEST_F(LiveReloadHttp, StreamsCountAgainstTheConnectionLimitButAreNeverClosedAsIdle) {
    switchLiveReload(true);
    ServerLimits limits;
    limits.maxConnections = 3;
    auto server = serve(limits);
    std::vector<std::unique_ptr<Client>> streams;
    for (int i = 0; i < 2; ++i) {
        streams.push_back(std::make_unique<Client>(server->port(), Client::get("/$int/live")));
        ASSERT_TRUE(streams.back()->waitFor("event: hello"));
    }
    // The third connection waits for its next request: it makes room for a newcomer.
    Client idle(server->port(), Client::get("/style.css"));
    ASSERT_TRUE(idle.waitFor("color: red"));
    EXPECT_EQ(test::httpGet(server->port(), "/style.css").status, 200);
    EXPECT_TRUE(idle.closes());

    // With streams alone at the limit there is no idle connection to close: a newcomer is refused.
    streams.push_back(std::make_unique<Client>(server->port(), Client::get("/$int/live")));
    ASSERT_TRUE(streams.back()->waitFor("event: hello"));
    EXPECT_NE(test::rawExchange(server->port(), Client::get("/style.css")).find("503"),
              std::string::npos);
    awaitWatcher();
    dir.write("site/page.htm", "changed");
    for (const auto& stream : streams)
        EXPECT_TRUE(stream->waitFor("event: reload"));
}

// How many actions the stress of streams takes; PELOTEST_STREAM_ACTIONS scales it (the sanitizer
// runs take fewer).
std::size_t streamActions() {
    if (const char* text = std::getenv("PELOTEST_STREAM_ACTIONS"))
        return std::max<std::size_t>(1, std::strtoull(text, nullptr, 10));
    return 4000;
}

// Clients open, half-close, reset, stop reading and reconnect streams at random (seeded, so that a
// failing run can be repeated) while files change and every stream is sent events: whatever order
// a stream's end, its writes and its events come in, the server ends each stream once and goes
// on serving.
TEST_F(LiveReloadHttp, StreamsOpenedAndDroppedAtRandomWhileFilesChangeLeaveTheServerServing) {
    switchLiveReload(true);
    auto server = serve();
    const std::uint16_t port = server->port();
    std::atomic<bool> stressing{true};
    std::thread changes([&] {
        for (int i = 0; stressing; ++i) {
            dir.write(i % 3 ? "site/page.htm" : "site/style.css", std::to_string(i));
            std::this_thread::sleep_for(3ms);
        }
    });
    std::mt19937 random(31);
    std::vector<std::unique_ptr<Client>> slots(48); // more than the streams held at once
    const auto open = [&] {
        const int receiveBuffer = random() % 4 == 0 ? 2048 : 0;
        return std::make_unique<Client>(port, Client::get("/$int/live"), receiveBuffer);
    };
    const auto until = std::chrono::steady_clock::now() + 30s;
    const std::size_t actions = streamActions();
    std::size_t done = 0;
    for (; done < actions && std::chrono::steady_clock::now() < until; ++done) {
        std::unique_ptr<Client>& slot = slots[random() % slots.size()];
        switch (random() % 8) {
        case 0: // a page that opens its stream and leaves it (reading or not)
            slot = open();
            break;
        case 1: // asks, shuts its sending side, reads once and closes (the most common fault)
        case 6:
        case 7: {
            auto client = open();
            client->halfClose();
            client->readArrived(std::chrono::milliseconds(random() % 3));
            break;
        }
        case 2: // leaves with a reset
            if (slot)
                slot->reset();
            slot.reset();
            break;
        case 3: // closes in order
            slot.reset();
            break;
        case 4: // reads what has come
            if (slot)
                slot->readArrived();
            break;
        case 5: // reconnects at once, as a page does
            if (slot)
                slot->halfClose();
            slot = open();
            break;
        }
    }
    stressing = false;
    changes.join();
    slots.clear();
    EXPECT_EQ(done, actions) << "the time ran out first";

    // Still serving, and every stream it counted has ended.
    EXPECT_EQ(test::httpGet(port, "/page.htm").status, 200);
    for (int i = 0; i < 300 && (server->liveStreamCount() != 0 || host.streams != 0); ++i)
        std::this_thread::sleep_for(10ms);
    EXPECT_EQ(server->liveStreamCount(), 0u);
    EXPECT_EQ(host.streams, 0u);
    Client last(port, Client::get("/$int/live"));
    EXPECT_TRUE(last.waitFor("event: hello"));
}

TEST_F(LiveReloadHttp, OnlyTemplatesThatRenderHtmlGetTheScript) {
    struct Case {
        const char* templateName;
        std::string text;
        bool script;
    };
    const Case cases[] = {
        {"data.json", "{\"a\": 1, \"b\": \"</body>\"}\n", false},
        {"list.txt", "plain text\n", false},
        {"feed.xml", "<?xml version=\"1.0\"?><feed></feed>\n", false},
        {"blank.tpl", "\n", false},
        {"page.tpl", "<!DOCTYPE html><p>x</p>\n", true},
        {"part.tpl", " \t\r\n<div>x</div>\n", true},
        {"bom.tpl", "\xEF\xBB\xBF<html><body>x</body></html>\n", true},
        {"comment.tpl", "<!-- generated --><p>x</p>\n", true},
        {"json.HTM", "{\"a\": 1}\n", true}, // the extension says it is a page
    };
    auto server = serve();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.templateName);
        dir.write(std::string("tmpl/") + c.templateName, c.text);
        {
            std::lock_guard lock(state.mutex);
            state.tree.roots().front()->text = c.templateName;
        }
        switchLiveReload(false);
        const HttpResult off = test::httpGet(server->port(), "/app/");
        switchLiveReload(true);
        const HttpResult on = test::httpGet(server->port(), "/app/");
        ASSERT_EQ(off.status, 200);
        std::string expected = off.body;
        if (c.script)
            injectLiveScript(expected);
        EXPECT_EQ(on.body, expected);
    }
}

TEST_F(LiveReloadHttp, TheStreamRefusesOtherSitesWhichCannotPushTheDevelopersPageOut) {
    switchLiveReload(true);
    auto server = serve();
    const std::string self = "http://127.0.0.1:" + std::to_string(server->port());
    const std::string otherPort = "http://127.0.0.1:" + std::to_string(server->port() + 1);
    struct Case {
        std::string headers;
        bool answered;
    };
    const Case cases[] = {
        {"Origin: http://evil.example\r\n", false},
        {"Origin: " + otherPort + "\r\n", false},
        {"Origin: null\r\n", false},
        {"Sec-Fetch-Site: cross-site\r\n", false},
        {"Sec-Fetch-Site: same-site\r\n", false},
        {"Origin: " + self + "\r\n", true},
        {"Sec-Fetch-Site: same-origin\r\n", true},
        {"", true}, // neither header: a client that is no browser
    };
    Client developer(server->port(), Client::get("/$int/live"));
    ASSERT_TRUE(developer.waitFor("event: hello"));
    awaitWatcher();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.headers);
        const std::string request =
            "GET /$int/live HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(server->port()) +
            "\r\n" + c.headers + "\r\n";
        Client stream(server->port(), request);
        if (c.answered) {
            EXPECT_TRUE(stream.waitFor("HTTP/1.1 200 OK\r\n"));
            EXPECT_TRUE(stream.waitFor("event: hello"));
        } else {
            EXPECT_TRUE(stream.waitFor("HTTP/1.1 403 "));
        }
    }
    // More pages of another site than streams are held: the developer's stream stays.
    std::vector<std::unique_ptr<Client>> foreign;
    for (int i = 0; i < 40; ++i) {
        foreign.push_back(std::make_unique<Client>(
            server->port(), "GET /$int/live HTTP/1.1\r\nHost: 127.0.0.1\r\nOrigin: "
                            "http://evil.example\r\nSec-Fetch-Site: cross-site\r\n\r\n"));
        EXPECT_TRUE(foreign.back()->waitFor("HTTP/1.1 403 ")) << i;
    }
    EXPECT_FALSE(developer.waitFor("event: bye", 300ms));
    dir.write("site/page.htm", "changed");
    EXPECT_TRUE(developer.waitFor("event: reload\ndata:\n\n"));
}

// A style sheet's name may hold a line break, which would end the event's data field early: the
// page reloads instead, and the stream stays whole for the next event.
TEST_F(LiveReloadHttp, AStyleSheetNamedWithALineBreakReloadsThePage) {
    switchLiveReload(true);
    auto server = serve();
    const char* breaks[] = {"\n", "\r", "\r\n"};
    for (const char* lineBreak : breaks) {
        SCOPED_TRACE(testing::PrintToString(std::string(lineBreak)));
        Client stream(server->port(), Client::get("/$int/live"));
        ASSERT_TRUE(stream.waitFor("event: hello"));
        ASSERT_TRUE(stream.waitFor("\n\n"));
        awaitWatcher();
        dir.write("site/a" + std::string(lineBreak) + "b.css", "p { color: red; }\n");
        ASSERT_TRUE(stream.waitFor("\n\n"));
        const std::size_t start = stream.received.rfind("event: ");
        EXPECT_EQ(stream.received.substr(start), "event: reload\ndata:\n\n");
        dir.write("site/style.css", std::string("body { color: blue; }") + lineBreak);
        ASSERT_TRUE(stream.waitFor("\n\n"));
        EXPECT_EQ(stream.received.substr(stream.received.rfind("event: ")),
                  "event: css\ndata: /style.css\n\n");
    }
}

// The live script asks for a changed style sheet again with its own parameter: the site's
// variables (one named like it included) and its log stay as they are.
TEST_F(LiveReloadHttp, TheStyleSheetSwapSetsNoVariableAndLeavesNoLogRow) {
    switchLiveReload(true);
    {
        std::lock_guard lock(state.mutex);
        test::addVariables(state, {{"v", "site's v"}, {"$live", "site's $live"}});
    }
    auto server = serve();
    const auto variables = [this] {
        std::lock_guard lock(state.mutex);
        return test::describeVariables(state.variables);
    };
    const auto logRows = [this] {
        std::lock_guard lock(state.mutex);
        return state.log.size();
    };
    const std::vector<std::string> before = variables();
    const std::size_t rowsBefore = logRows();
    struct Case {
        std::string target;
        int status;
        std::vector<std::string> variables; // those the request adds or changes
        std::size_t logRows;                // the rows it adds
    };
    const Case cases[] = {
        {"/style.css?%24live=1765000000000", 200, {}, 0},
        {"/style.css?v=3&%24live=1765000000001", 200, {}, 0},
        {"/css/more.css?%24LIVE=2", 200, {}, 0},
        // Not a file of the site: its other parameters count, the script's one never.
        {"/gone.css?%24live=3&w=new", 404, {"w=new"}, 1},
        // Without the script's parameter the request is an ordinary one.
        {"/style.css?v=4", 200, {"v=4"}, 1},
    };
    std::vector<std::string> expected = before;
    std::size_t expectedRows = rowsBefore;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.target);
        const HttpResult answer = test::httpGet(server->port(), c.target);
        EXPECT_EQ(answer.status, c.status);
        if (c.status == 200) {
            EXPECT_NE(answer.body.find("color: red"), std::string::npos);
        }
        for (const std::string& row : c.variables) {
            const std::string name = row.substr(0, row.find('='));
            const auto at = std::find_if(expected.begin(), expected.end(), [&name](auto& held) {
                return held.starts_with(name + "=");
            });
            if (at != expected.end())
                *at = row;
            else
                expected.push_back(row);
        }
        std::vector<std::string> now = variables();
        for (std::string& row : now)
            row = row.substr(0, row.find('|')); // the marks of the last request do not matter
        std::sort(now.begin(), now.end());
        std::vector<std::string> sortedExpected = expected;
        std::sort(sortedExpected.begin(), sortedExpected.end());
        EXPECT_EQ(now, sortedExpected);
        expectedRows += c.logRows;
        EXPECT_EQ(logRows(), expectedRows);
    }
}

TEST_F(LiveReloadHttp, ALargePageIsAnsweredWithTheScriptOfItsCurrentVersion) {
    switchLiveReload(true);
    auto server = serve();
    const std::string tag(kLiveScriptTag);
    for (const char letter : {'a', 'b', 'c'}) {
        SCOPED_TRACE(letter);
        const std::string page = "<html><body>" + std::string(300'000, letter) + "</body></html>";
        dir.write("site/big.html", page);
        for (int i = 0; i < 2; ++i)
            EXPECT_EQ(test::httpGet(server->port(), "/big.html").body,
                      "<html><body>" + std::string(300'000, letter) + tag + "</body></html>");
    }
}

TEST(LiveReload, ARequestThatSawItOnCannotStartTheWatcherAfterSwitchOff) {
    test::TempDir dir;
    fs::create_directories(dir.path() / "site");
    test::FakeHost host;
    LiveReload live(host, {});
    const std::string site = (dir.path() / "site").string();
    // Read by the request together with the setting, before live reload is switched off.
    const std::uint64_t seen = live.generation();
    live.switchOff();
    live.watchFolders(site, "", seen);
    EXPECT_FALSE(live.watches(site, ""));
    // A request after switching on again watches.
    live.watchFolders(site, "", live.generation());
    EXPECT_TRUE(live.watches(site, ""));
}

// A sink that records what it is sent.
class RecordingSink : public EventSink {
  public:
    void send(std::string text) override {
        std::lock_guard lock(mutex);
        sent += text;
    }
    void close() override {}
    std::string text() {
        std::lock_guard lock(mutex);
        return sent;
    }
    std::mutex mutex;
    std::string sent;
};

TEST(LiveReload, AnIdleStreamGetsAKeepAliveComment) {
    test::FakeHost host;
    LiveReload live(host, LiveReload::Options{32, 20ms, {}});
    auto sink = std::make_shared<RecordingSink>();
    live.stream()->opened(sink);
    for (int i = 0; i < 200 && sink->text().find(": keep-alive\n\n") == std::string::npos; ++i)
        std::this_thread::sleep_for(5ms);
    EXPECT_TRUE(sink->text().starts_with("retry: 1000\nevent: hello\ndata: ")) << sink->text();
    EXPECT_NE(sink->text().find("\n\n: keep-alive\n\n"), std::string::npos) << sink->text();
}

} // namespace
} // namespace pelotest

// Static delivery, the site root and the not-found page over HTTP against the real server. The
// expected pages are written out here from their fragments, byte for byte.

#include "language/UiTexts.h"
#include "support/FakeHost.h"
#include "support/HttpTestClient.h"
#include "support/TempDir.h"
#include "support/TestData.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>

namespace pelotest {
namespace {

using test::FakeHost;
using test::HttpResult;
using test::TempDir;
using test::TestServer;
namespace fs = std::filesystem;

std::string expectedNotFoundPage(const std::string& shownPath) {
    return test::loadTestData("pages/not-found.html", {{"PATH", shownPath}});
}

std::string expectedWelcomePage(const std::string& options, const std::string& parms) {
    const std::string vendor = loadBuiltInUiText(UiText::VendorAddress);
    return test::loadTestData("pages/welcome.html",
                              {{"OPTIONS", options},
                               {"PARMS", parms},
                               {"TRADEMARK", loadBuiltInUiText(UiText::TrademarkNotice)},
                               {"VENDOR_URL", vendor}});
}

const std::string kSiteLogScript =
    "<script language=\"javascript\">" +
    test::loadTestData("scripts/site-log-popup.js", {{"LEFT", "210"}, {"TOP", "326"}}) +
    "</script>";

const std::string kPng = std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16) + "\r\nbinary\0tail";

class StaticHttp : public ::testing::Test {
  protected:
    void SetUp() override {
        // Every colour role distinct, so that a page using the wrong role shows; a caption that
        // needs escaping.
        host.setColor(ColorRole::ButtonShadow, {0x80, 0x80, 0x81});
        host.setColor(ColorRole::ButtonHighlight, {0xFE, 0xFF, 0xFF});
        host.setColor(ColorRole::WindowBackground, {0xFF, 0xFF, 0xFE});
        host.setColor(ColorRole::ButtonText, {0x04, 0x05, 0x06});
        host.setColor(ColorRole::GrayText, {0x70, 0x71, 0x72});
        host.captionText = "Fenster <Titel>";
        root = dir.path() / "site";
        fs::create_directories(root / "sub");
        dir.write("site/index.htm", "<html>\n<head><title>Start</title></head>\n</html>\n");
        dir.write("site/pic.png", kPng);
        state.settings.staticPath = root.string() + "/";
        state.settings.virtualPath = "app";
        state.settings.dynamicPath = (dir.path() / "tmpl").string();
        state.settings.remoteEdit = true;
        state.settingsPath = dir.path() / "pelotest.ini"; // absent: default popup offsets
        server = std::make_unique<TestServer>(state, host);
    }
    void TearDown() override { server.reset(); }

    HttpResult get(const std::string& target, const test::HeaderList& headers = {}) {
        return test::httpGet(server->port(), target, headers);
    }
    HttpResult head(const std::string& target, const test::HeaderList& headers = {}) {
        return test::httpRequest(server->port(), "HEAD", target, {}, headers);
    }
    void changeSettings(const std::function<void(Settings&)>& change) {
        std::lock_guard lock(state.mutex);
        change(state.settings);
    }
    std::vector<LogEntry> logRows() {
        std::lock_guard lock(state.mutex);
        return {state.log.rows().begin(), state.log.rows().end()};
    }
    std::string path(const std::string& document) const { return root.string() + document; }

    TempDir dir;
    fs::path root;
    AppState state;
    FakeHost host;
    std::unique_ptr<TestServer> server;
};

TEST_F(StaticHttp, FilesAreSentUnchangedAndPagesLeaveALogRow) {
    dir.write("site/INDEX.HTM", "<TITLE>M&uuml;ller</TITLE>\r\nbody\n");
    dir.write("site/site.css", "body { color: red }\n");
    dir.write("site/app.js", "export const x = 1;\n");
    dir.write("site/pic.svg", "<svg xmlns=\"http://www.w3.org/2000/svg\"/>");
    dir.write("site/data.bin", std::string("\0\1\2", 3));
    dir.write("site/sub/Page.html", "<title>Unter</title>");
    dir.write("site/empty.css", "");
    struct Case {
        std::string document, type, body;
        std::optional<LogEntry> row;
    };
    const std::vector<Case> cases{
        {"/pic.png", "image/png", kPng, std::nullopt},
        {"/INDEX.HTM", "text/html", "<TITLE>M&uuml;ller</TITLE>\r\nbody\n",
         LogEntry{8, "INDEX.HTM", "", "M\xFCller", path("/INDEX.HTM")}},
        {"/site.css", "text/css", "body { color: red }\n",
         LogEntry{8, "site.css", "", "", path("/site.css")}},
        {"/app.js", "text/javascript", "export const x = 1;\n",
         LogEntry{8, "app.js", "", "", path("/app.js")}},
        {"/pic.svg", "image/svg+xml", "<svg xmlns=\"http://www.w3.org/2000/svg\"/>", std::nullopt},
        {"/data.bin", "application/octet-stream", std::string("\0\1\2", 3), std::nullopt},
        {"/sub/Page.html", "text/html", "<title>Unter</title>",
         LogEntry{8, "Page.html", "", "Unter", path("/sub/Page.html")}},
        {"/empty.css", "text/css", "", LogEntry{8, "empty.css", "", "", path("/empty.css")}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.document);
        const std::size_t rowsBefore = logRows().size();
        const HttpResult r = get(c.document);
        EXPECT_EQ(r.status, 200);
        EXPECT_EQ(r.header("Content-Type"), c.type);
        EXPECT_EQ(r.body, c.body);
        EXPECT_EQ(r.header("Cache-Control"), "no-cache");
        EXPECT_TRUE(r.header("ETag"));
        EXPECT_TRUE(r.header("Last-Modified"));
        const std::vector<LogEntry> rows = logRows();
        if (c.row) {
            ASSERT_EQ(rows.size(), rowsBefore + 1);
            EXPECT_EQ(rows.front(), *c.row);
        } else {
            EXPECT_EQ(rows.size(), rowsBefore);
        }
    }
}

TEST_F(StaticHttp, StartPageIsRebuiltWithTheSiteLogScriptWhileTheRemoteEditorIsOn) {
    // Mixed line ends; the second "</title>" is not looked at.
    const std::string page = "<html>\n<head><TITLE>Start</Title>x\r\n</head>\r<title>2</title>";
    const std::string rebuilt = "<html>\r\n<head><TITLE>Start</Title>" + kSiteLogScript +
                                "x\r\n</head>\r\n<title>2</title>\r\n";
    const std::string noTitle = "<html>\n<body>no title</body>\r</html>";
    struct Case {
        std::string name, content, startSite;
        bool remoteEdit;
        std::string expected;
        bool generated;
    };
    const Case cases[] = {
        {"start.htm", page, "start.htm", true, rebuilt, true},
        {"start.htm", page, "START.HTM", true, rebuilt, true}, // compared ignoring case
        {"start.htm", page, "start.htm", false, page, false},
        {"start.htm", page, "other.htm", true, page, false},
        {"start.htm", noTitle, "start.htm", true, "<html>\r\n<body>no title</body>\r\n</html>\r\n",
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.startSite + (c.remoteEdit ? " on" : " off"));
        dir.write("site/" + c.name, c.content);
        changeSettings([&](Settings& s) {
            s.staticSite = c.startSite;
            s.remoteEdit = c.remoteEdit;
        });
        const HttpResult r = get("/" + c.name);
        EXPECT_EQ(r.status, 200);
        EXPECT_EQ(r.header("Content-Type"), "text/html");
        EXPECT_EQ(r.body, c.expected);
        EXPECT_EQ(r.header("Cache-Control"), c.generated ? "no-store" : "no-cache");
        // The start page is logged like any page.
        ASSERT_FALSE(logRows().empty());
        EXPECT_EQ(logRows().front().fileName, c.name);
        EXPECT_EQ(logRows().front().kind, 8);
    }
}

TEST_F(StaticHttp, SiteRootRedirectsToTheStartPage) {
    struct Case {
        std::string site, parameter, target;
    };
    const Case cases[] = {
        {"index.htm", "a=1&b=2", "index.htm?a=1&amp;b=2"},
        {"index.htm", "", "index.htm"},
        {"\"><b>.htm", "", "&quot;&gt;&lt;b&gt;.htm"}, // reflected values are escaped
        // A start page that would make the address name another host stays on this server.
        {"/evil.example/", "", "evil.example/"},
        {"\\\\evil.example", "a=1", "evil.example?a=1"},
        {"/http://evil.example", "", "http://evil.example"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.site + "?" + c.parameter);
        changeSettings([&](Settings& s) {
            s.staticSite = c.site;
            s.staticParameter = c.parameter;
        });
        const HttpResult r = get("/");
        EXPECT_EQ(r.status, 200);
        EXPECT_EQ(r.header("Content-Type"), "text/html");
        EXPECT_EQ(r.header("Cache-Control"), "no-store");
        EXPECT_EQ(r.body, test::loadTestData("pages/refresh.html", {{"URL", "/" + c.target}}));
    }
    EXPECT_TRUE(logRows().empty());
}

TEST_F(StaticHttp, SiteRootWithoutStartPageIsTheWelcomePage) {
    dir.write("site/b&c.htm", "x");
    dir.write("site/.hidden", "x");
    dir.write("site/Apfel.htm", "x");
    changeSettings([](Settings& s) { s.staticParameter = "x=\"1\"&y=2"; });
    const HttpResult r = get("/");
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.header("Content-Type"), "text/html");
    EXPECT_EQ(r.header("Cache-Control"), "no-store");
    // Files only (not the folder "sub"), hidden ones too, in case-insensitive order.
    const std::string options = "<OPTION VALUE=\".hidden\">.hidden</OPTION>\r"
                                "<OPTION VALUE=\"Apfel.htm\">Apfel.htm</OPTION>\r"
                                "<OPTION VALUE=\"b&amp;c.htm\">b&amp;c.htm</OPTION>\r"
                                "<OPTION VALUE=\"index.htm\">index.htm</OPTION>\r"
                                "<OPTION VALUE=\"pic.png\">pic.png</OPTION>\r";
    EXPECT_EQ(r.body, expectedWelcomePage(options, "x=&quot;1&quot;&amp;y=2"));
    EXPECT_TRUE(logRows().empty());
}

TEST_F(StaticHttp, NotFoundPageNamesTheLocalPath) {
    struct Case {
        std::string target, filePath, shown, fileName;
    };
    const Case cases[] = {
        {"/missing.htm", path("/missing.htm"), path("/missing.htm"), "missing.htm"},
        {"/sub/", path("/sub/"), path("/sub/"), ""}, // a folder is never a file
        {"/sub", path("/sub"), path("/sub"), "sub"},
        {"/a%3Cb%3E%22&.htm", path("/a<b>\"&.htm"), path("/a&lt;b&gt;&quot;&amp;.htm"),
         "a<b>\"&.htm"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.target);
        const HttpResult r = get(c.target);
        EXPECT_EQ(r.status, 404);
        EXPECT_EQ(r.header("Content-Type"), "text/html");
        EXPECT_EQ(r.header("Cache-Control"), "no-store");
        EXPECT_EQ(r.body, expectedNotFoundPage(c.shown));
        ASSERT_FALSE(logRows().empty());
        EXPECT_EQ(logRows().front(),
                  (LogEntry{11, c.fileName, "", "Datei nicht gefunden! - Error 404", c.filePath}));
    }
}

// Nothing outside the static folder is ever sent, whatever the request path does to get there,
// and the server keeps answering.
TEST_F(StaticHttp, PathTraversalNeverReachesFilesOutsideTheStaticFolder) {
    const std::string secret = "TOPSECRET-7d1f";
    dir.write("secret.txt", secret);
    dir.write("secret.htm", secret);
    dir.write("site-two/x.htm", secret);
    fs::create_symlink(dir.path() / "secret.txt", root / "link-out.txt");
    fs::create_symlink(dir.path(), root / "up");
    const std::string outside = dir.path().string();
    const std::string targets[] = {
        "/../secret.txt",
        "/../secret.htm",
        "/sub/../../secret.txt",
        "/%2e%2e/secret.txt",
        "/%2E%2E/secret.txt",
        "/.%2e/secret.txt",
        "/..%2fsecret.txt",
        "/..%2Fsecret.txt",
        "/%2e%2e%2fsecret.txt",
        "/sub/..%2f..%2fsecret.txt",
        "/..%252fsecret.txt",
        "//../secret.txt",
        "/..//secret.txt",
        "/.././../secret.txt",
        "/../site-two/x.htm",
        "/..\\secret.txt",
        "/..%5csecret.txt",
        "/%5c..%5csecret.txt",
        "/sub\\..\\..\\secret.txt",
        "/secret.txt%00.png",
        "/../secret.txt%00",
        "/%c0%ae%c0%ae/secret.txt",
        "/link-out.txt",
        "/up/secret.txt",
        "/up/secret.htm",
        "/" + outside + "/secret.txt",
        "/%2F" + outside.substr(1) + "/secret.txt",
    };
    for (const std::string& target : targets) {
        SCOPED_TRACE(target);
        const std::string raw = test::rawExchange(
            server->port(),
            "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
        EXPECT_EQ(raw.find(secret), std::string::npos);
        EXPECT_TRUE(raw.starts_with("HTTP/1.1 4")) << raw.substr(0, 200);
        EXPECT_EQ(get("/index.htm").status, 200);
    }
    // Inside the virtual folder a path is a template request, answered from the tree alone.
    EXPECT_EQ(get("/app/../../secret.txt").body.find(secret), std::string::npos);
    // A request that reaches the handler gets the not-found page.
    EXPECT_EQ(get("/../secret.txt").status, 404);
    EXPECT_EQ(get("/link-out.txt").status, 404);
    EXPECT_EQ(get("/up/secret.txt").status, 404);
    // A link inside the folder that stays inside works.
    fs::create_symlink(root / "index.htm", root / "alias.htm");
    EXPECT_EQ(get("/alias.htm").status, 200);
}

TEST_F(StaticHttp, ConditionalRequestsAnswerNotModified) {
    const HttpResult first = get("/pic.png");
    ASSERT_EQ(first.status, 200);
    const std::string etag = first.header("ETag").value_or("");
    const std::string modified = first.header("Last-Modified").value_or("");
    ASSERT_FALSE(etag.empty());
    ASSERT_FALSE(modified.empty());
    struct Case {
        test::HeaderList headers;
        int status;
    };
    const Case cases[] = {
        {{{"If-None-Match", etag}}, 304},
        {{{"If-None-Match", "\"other\", " + etag}}, 304},
        {{{"If-None-Match", "\"other\""}}, 200},
        {{{"If-Modified-Since", modified}}, 304},
        {{{"If-Modified-Since", "Thu, 01 Jan 1970 00:00:00 GMT"}}, 200},
        {{{"If-None-Match", "\"other\""}, {"If-Modified-Since", modified}}, 200},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.headers.front().first + ": " + c.headers.front().second);
        const HttpResult r = get("/pic.png", c.headers);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.body, c.status == 304 ? "" : kPng);
        EXPECT_EQ(r.header("ETag"), etag);
    }
    // A changed file is sent again.
    dir.write("site/pic.png", kPng + "more");
    fs::last_write_time(root / "pic.png",
                        fs::last_write_time(root / "pic.png") + std::chrono::seconds(5));
    const HttpResult changed = get("/pic.png", {{"If-None-Match", etag}});
    EXPECT_EQ(changed.status, 200);
    EXPECT_EQ(changed.body, kPng + "more");
    // A page answered 304 is still logged: the browser did show it again.
    const HttpResult page = get("/index.htm");
    const std::size_t rows = logRows().size();
    EXPECT_EQ(get("/index.htm", {{"If-None-Match", page.header("ETag").value_or("")}}).status, 304);
    EXPECT_EQ(logRows().size(), rows + 1);
}

TEST_F(StaticHttp, SingleByteRangesForSeeking) {
    const std::string body = "0123456789abcdefghij";
    dir.write("site/clip.webm", body);
    struct Case {
        std::string range;
        int status;
        std::string contentRange, body;
    };
    const Case cases[] = {
        {"bytes=2-5", 206, "bytes 2-5/20", "2345"},
        {"bytes=15-", 206, "bytes 15-19/20", "fghij"},
        {"bytes=-3", 206, "bytes 17-19/20", "hij"},
        {"bytes=0-", 206, "bytes 0-19/20", body},
        {"bytes=18-100", 206, "bytes 18-19/20", "ij"},
        {"bytes=20-", 416, "bytes */20", ""},
        {"bytes=0-1,4-5", 200, "", body},
        {"lines=1-2", 200, "", body},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.range);
        const HttpResult r = get("/clip.webm", {{"Range", c.range}});
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.body, c.body);
        EXPECT_EQ(r.header("Content-Range").value_or(""), c.contentRange);
        if (c.status != 416) {
            EXPECT_EQ(r.header("Content-Length"), std::to_string(c.body.size()));
            EXPECT_EQ(r.header("Content-Type"), "video/webm");
            EXPECT_EQ(r.header("Accept-Ranges"), "bytes");
        }
    }
    const std::string etag = get("/clip.webm").header("ETag").value_or("");
    EXPECT_EQ(get("/clip.webm", {{"Range", "bytes=0-1"}, {"If-Range", etag}}).status, 206);
    EXPECT_EQ(get("/clip.webm", {{"Range", "bytes=0-1"}, {"If-Range", "\"stale\""}}).status, 200);
}

// Sizes beyond 32 bits: a sparse file of a little over 2 GiB, its last bytes by range and its
// length by HEAD (the body is never read whole).
TEST_F(StaticHttp, LargeFilesKeepTheirSizeAndRangesAndHeadSendsNoBody) {
    const std::uint64_t size = (std::uint64_t{1} << 31) + 8;
    { std::ofstream out(root / "big.mp4", std::ios::binary); }
    fs::resize_file(root / "big.mp4", size - 8);
    {
        std::ofstream out(root / "big.mp4", std::ios::binary | std::ios::app);
        out << "ENDMARK!";
    }
    const HttpResult headOnly = head("/big.mp4");
    EXPECT_EQ(headOnly.status, 200);
    EXPECT_EQ(headOnly.header("Content-Length"), std::to_string(size));
    EXPECT_EQ(headOnly.header("Content-Type"), "video/mp4");
    EXPECT_EQ(headOnly.body, "");
    const HttpResult tail = get("/big.mp4", {{"Range", "bytes=-8"}});
    EXPECT_EQ(tail.status, 206);
    EXPECT_EQ(tail.body, "ENDMARK!");
    EXPECT_EQ(tail.header("Content-Range"), "bytes " + std::to_string(size - 8) + "-" +
                                                std::to_string(size - 1) + "/" +
                                                std::to_string(size));
    const HttpResult headRange = head("/big.mp4", {{"Range", "bytes=100-199"}});
    EXPECT_EQ(headRange.status, 206);
    EXPECT_EQ(headRange.header("Content-Length"), "100");
    EXPECT_EQ(headRange.body, "");
}

} // namespace
} // namespace pelotest

namespace pelotest {
namespace {

// A run that names only a static folder (--static, no templates folder anywhere): the folder is
// served as a plain file server serves it.
class StaticServerHttp : public StaticHttp {
  protected:
    void SetUp() override {
        host.setColor(ColorRole::ButtonShadow, {0x80, 0x80, 0x81});
        host.setColor(ColorRole::ButtonHighlight, {0xFE, 0xFF, 0xFF});
        host.setColor(ColorRole::WindowBackground, {0xFF, 0xFF, 0xFE});
        host.setColor(ColorRole::ButtonText, {0x04, 0x05, 0x06});
        host.setColor(ColorRole::GrayText, {0x70, 0x71, 0x72});
        root = dir.path() / "site";
        fs::create_directories(root / "sub");
        fs::create_directories(root / "html");
        fs::create_directories(root / "empty");
        fs::create_directories(dir.path() / "outside");
        dir.write("site/index.htm", "<title>Start</title>root\n");
        dir.write("site/sub/index.htm", "<title>Unter</title>sub\n");
        dir.write("site/sub/index.html", "second\n");
        dir.write("site/html/index.html", "<title>H</title>html\n");
        dir.write("outside/index.htm", "secret\n");
        fs::create_directory_symlink(dir.path() / "outside", root / "out");
        state.settings.staticPath = root.string();
        state.runOverrides.staticPath = root.string();
        state.settingsPath = dir.path() / "pelotest.ini";
        server = std::make_unique<TestServer>(state, host);
    }
    std::vector<std::string> variables() {
        std::lock_guard lock(state.mutex);
        std::vector<std::string> names;
        for (const Variable& row : state.variables.rows())
            names.push_back(row.name);
        return names;
    }
};

TEST_F(StaticServerHttp, FoldersAnswerWithTheirIndexAndMissingFilesAreNotFound) {
    struct Case {
        std::string target;
        int status;
        std::string type, body, location;
    };
    const std::string notFound = "text/html";
    const std::vector<Case> cases{
        {"/", 200, "text/html", "<title>Start</title>root\n", ""},
        {"/?PELO_EVENT=x&Kunde=1", 200, "text/html", "<title>Start</title>root\n", ""},
        // index.htm before index.html, as the template folders of a site have it.
        {"/sub/", 200, "text/html", "<title>Unter</title>sub\n", ""},
        {"/html/", 200, "text/html", "<title>H</title>html\n", ""},
        // A folder without its '/' is sent on to the address with it (query kept, name encoded).
        {"/sub?a=1", 301, "text/html", "", "/sub/?a=1"},
        {"/index.htm", 200, "text/html", "<title>Start</title>root\n", ""},
        // Missing files, a folder without an index and a link out of the folder: not found.
        {"/missing.htm", 404, notFound, expectedNotFoundPage(path("/missing.htm")), ""},
        {"/empty/", 404, notFound, expectedNotFoundPage(path("/empty/")), ""},
        {"/out/", 404, notFound, expectedNotFoundPage(path("/out/")), ""},
        {"/app/x.htm", 404, notFound, expectedNotFoundPage(path("/app/x.htm")), ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.target);
        const HttpResult r = get(c.target);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.header("Content-Type").value_or(""), c.type);
        if (c.status == 301) {
            EXPECT_EQ(r.header("Location").value_or(""), c.location);
        } else {
            EXPECT_EQ(r.body, c.body);
        }
    }
    // Parameters set no variables: nothing of the settings file changes.
    EXPECT_EQ(variables(), std::vector<std::string>{});
}

TEST_F(StaticServerHttp, AFolderWithATemplatesFolderBehavesAsAlways) {
    // A templates folder given in the settings during the run: "/" is the virtual root again,
    // whose event nobody has assigned, and parameters set variables.
    changeSettings([&](Settings& s) { s.dynamicPath = (dir.path() / "tmpl").string(); });
    fs::create_directories(dir.path() / "tmpl");
    const HttpResult r = get("/?Kunde=1");
    EXPECT_EQ(r.status, 200);
    EXPECT_NE(r.body, "<title>Start</title>root\n");
    EXPECT_EQ(variables(), std::vector<std::string>{"Kunde"});
}

} // namespace
} // namespace pelotest

#include "server/StaticFiles.h"
#include "server/PageText.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace pelotest {
namespace {

using test::TempDir;
namespace fs = std::filesystem;

TEST(StaticFiles, LoggedPagesAndContentTypesGoByExtensionIgnoringCase) {
    struct Case {
        std::string path;
        bool logged;
        std::string type;
    };
    const Case cases[] = {
        {"/s/index.htm", true, "text/html"},
        {"/s/INDEX.HTM", true, "text/html"},
        {"/s/a.Html", true, "text/html"},
        {"/s/app.js", true, "text/javascript"},
        {"/s/mod.mjs", false, "text/javascript"},
        {"/s/site.CSS", true, "text/css"},
        {"/s/pic.svg", false, "image/svg+xml"},
        {"/s/pic.png", false, "image/png"},
        {"/s/clip.webm", false, "video/webm"},
        {"/s/tone.wav", false, "audio/wav"},
        {"/s/index.htm.bak", false, "application/octet-stream"},
        {"/s/x.htm/readme", false, "application/octet-stream"}, // the dot is in a folder name
        {"/s/sub/", false, "application/octet-stream"},
        {"/s/.htm", true, "text/html"},
        {"/s/noext", false, "application/octet-stream"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(isPageFile(c.path), c.logged) << c.path;
        EXPECT_EQ(contentTypeFor(c.path), c.type) << c.path;
    }
}

// Confinement: only regular files whose real location lies inside the static folder count.
TEST(StaticFiles, OnlyFilesInsideTheStaticFolderAreServable) {
    TempDir dir;
    const fs::path root = dir.path() / "site";
    dir.write("site/index.htm", "in");
    dir.write("site/sub/page.htm", "in");
    dir.write("secret.txt", "outside");
    dir.write("site-other/x.htm", "sibling folder sharing the prefix");
    fs::create_symlink(dir.path() / "secret.txt", root / "link-out.txt");
    fs::create_symlink(root / "index.htm", root / "link-in.htm");
    fs::create_symlink(dir.path(), root / "up");
    fs::create_symlink(root / "missing", root / "dangling");
    fs::create_symlink(root, dir.path() / "root-link");

    const std::string r = root.string();
    struct Case {
        std::string staticRoot, filePath;
        bool servable;
    };
    const Case cases[] = {
        {r, r + "/index.htm", true},
        {r, r + "/sub/page.htm", true},
        {r, r + "/sub/../index.htm", true}, // stays inside
        {r, r + "/link-in.htm", true},      // a link to a file inside
        {r, r + "/../secret.txt", false},
        {r, r + "/sub/../../secret.txt", false},
        {r, r + "/../site-other/x.htm", false},
        {r, r + "/link-out.txt", false},     // a link to a file outside
        {r, r + "/up/secret.txt", false},    // a link to a folder outside
        {r, r + "/up/site/index.htm", true}, // ... that leads back inside
        {r, r + "/dangling", false},
        {r, r + "/sub", false},
        {r, r + "/sub/", false},
        {r, r + "/", false},
        {r, r + "/index.htm/", false},
        {r, r + "/nothing.htm", false},
        {r, r + "//index.htm", true},
        {r, r + "/..\\secret.txt", false},
        {r, r + "/index.htm" + std::string(1, '\0') + ".png", false},
        {r, std::string("/etc/passwd"), false},
        {(dir.path() / "root-link").string(), (dir.path() / "root-link/index.htm").string(), true},
        {"", "/etc/passwd", false}, // no static folder set
        {r + "/missing-root", r + "/missing-root/x", false},
    };
    for (const Case& c : cases) {
        const RequestPaths paths{c.staticRoot, "", "", c.filePath};
        EXPECT_EQ(resolveServableFile(paths).has_value(), c.servable) << c.filePath;
    }
    const auto real = resolveServableFile({r, "", "", r + "/link-in.htm"});
    ASSERT_TRUE(real);
    EXPECT_EQ(*real, fs::canonical(root / "index.htm"));
}

TEST(StaticFiles, HttpDatesInAllThreeForms) {
    EXPECT_EQ(httpDate(784111777), "Sun, 06 Nov 1994 08:49:37 GMT");
    EXPECT_EQ(httpDate(0), "Thu, 01 Jan 1970 00:00:00 GMT");
    struct Case {
        std::string text;
        std::optional<std::int64_t> seconds;
    };
    const Case cases[] = {
        {"Sun, 06 Nov 1994 08:49:37 GMT", 784111777},
        {" Sun, 06 Nov 1994 08:49:37 GMT ", 784111777},
        {"Sunday, 06-Nov-94 08:49:37 GMT", 784111777},
        {"Sun Nov  6 08:49:37 1994", 784111777},
        {"Sun, 06 Nov 1994 08:49:37", std::nullopt},
        {"Sun, 6 Nov 1994 08:49:37 GMT", std::nullopt},
        {"Sun, 06 Foo 1994 08:49:37 GMT", std::nullopt},
        {"Sun, 06 Nov 1994 25:49:37 GMT", std::nullopt},
        {"yesterday", std::nullopt},
        {"", std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(parseHttpDate(c.text), c.seconds) << c.text;
}

TEST(StaticFiles, EntityTagChangesWithSizeAndTime) {
    const FileStamp a{10, 1000, 5};
    EXPECT_EQ(entityTag(a).front(), '"');
    EXPECT_EQ(entityTag(a).back(), '"');
    EXPECT_NE(entityTag(a), entityTag({11, 1000, 5}));
    EXPECT_NE(entityTag(a), entityTag({10, 1001, 5}));
    EXPECT_NE(entityTag(a), entityTag({10, 1000, 6}));
}

TEST(StaticFiles, NotModifiedByEntityTagFirstThenByDate) {
    const std::string etag = "\"a-b-c\"";
    const std::int64_t modified = 784111777;
    using H = ConditionalHeaders;
    struct Case {
        H headers;
        bool notModified;
    };
    const Case cases[] = {
        {H{}, false},
        {H{"\"a-b-c\"", {}, {}, {}}, true},
        {H{"W/\"a-b-c\"", {}, {}, {}}, true}, // weak comparison
        {H{"\"x\", \"a-b-c\"", {}, {}, {}}, true},
        {H{"*", {}, {}, {}}, true},
        {H{"\"x\"", {}, {}, {}}, false},
        {H{"\"a-b-c", {}, {}, {}}, false},
        {H{"a-b-c", {}, {}, {}}, false},
        // If-None-Match wins over a date that would say "not modified".
        {H{"\"x\"", "Sun, 06 Nov 1994 08:49:37 GMT", {}, {}}, false},
        {H{{}, "Sun, 06 Nov 1994 08:49:37 GMT", {}, {}}, true},
        {H{{}, "Sun, 06 Nov 1994 09:00:00 GMT", {}, {}}, true},
        {H{{}, "Sun, 06 Nov 1994 08:49:36 GMT", {}, {}}, false},
        {H{{}, "not a date", {}, {}}, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(isNotModified(c.headers, etag, modified), c.notModified)
            << c.headers.ifNoneMatch.value_or("-") << " / "
            << c.headers.ifModifiedSince.value_or("-");
}

TEST(StaticFiles, SingleByteRanges) {
    const std::string etag = "\"t\"";
    const std::int64_t modified = 784111777;
    using K = RangeDecision::Kind;
    struct Case {
        std::optional<std::string> range, ifRange;
        std::uint64_t size;
        RangeDecision expected;
    };
    const Case cases[] = {
        {{}, {}, 100, {K::Whole, 0, 100}},
        {"bytes=0-9", {}, 100, {K::Partial, 0, 10}},
        {"bytes=10-", {}, 100, {K::Partial, 10, 90}},
        {"bytes=0-", {}, 100, {K::Partial, 0, 100}},
        {"bytes=-30", {}, 100, {K::Partial, 70, 30}},
        {"bytes=-300", {}, 100, {K::Partial, 0, 100}},
        {"bytes=90-500", {}, 100, {K::Partial, 90, 10}},
        {"bytes=99-99", {}, 100, {K::Partial, 99, 1}},
        {"Bytes=5-6", {}, 100, {K::Partial, 5, 2}},
        {"bytes = 5-6", {}, 100, {K::Whole, 0, 100}},
        {"bytes=100-", {}, 100, {K::Unsatisfiable, 0, 0}},
        {"bytes=100-200", {}, 100, {K::Unsatisfiable, 0, 0}},
        {"bytes=9-3", {}, 100, {K::Unsatisfiable, 0, 0}},
        {"bytes=-0", {}, 100, {K::Unsatisfiable, 0, 0}},
        {"bytes=0-", {}, 0, {K::Unsatisfiable, 0, 0}},
        {"bytes=99999999999999999999999-", {}, 100, {K::Unsatisfiable, 0, 0}},
        {"bytes=0-99999999999999999999999", {}, 100, {K::Partial, 0, 100}},
        // Served whole: several ranges, another unit, malformed text.
        {"bytes=0-1,5-6", {}, 100, {K::Whole, 0, 100}},
        {"items=0-1", {}, 100, {K::Whole, 0, 100}},
        {"bytes=a-b", {}, 100, {K::Whole, 0, 100}},
        {"bytes=5", {}, 100, {K::Whole, 0, 100}},
        {"bytes=-", {}, 100, {K::Whole, 0, 100}},
        // If-Range: the range only while the file is still the one the client has.
        {"bytes=0-9", "\"t\"", 100, {K::Partial, 0, 10}},
        {"bytes=0-9", "\"old\"", 100, {K::Whole, 0, 100}},
        {"bytes=0-9", "W/\"t\"", 100, {K::Whole, 0, 100}},
        {"bytes=0-9", "Sun, 06 Nov 1994 08:49:37 GMT", 100, {K::Partial, 0, 10}},
        {"bytes=0-9", "Sun, 06 Nov 1994 08:49:38 GMT", 100, {K::Whole, 0, 100}},
    };
    for (const Case& c : cases) {
        const ConditionalHeaders headers{{}, {}, c.range, c.ifRange};
        EXPECT_EQ(evaluateRange(headers, c.size, etag, modified), c.expected)
            << c.range.value_or("-") << " / " << c.ifRange.value_or("-") << " size " << c.size;
    }
}

TEST(StaticFiles, ConditionalHeadersAreFoundIgnoringCase) {
    HttpRequest request;
    request.headers = {{"if-none-match", "\"a\""},
                       {"IF-MODIFIED-SINCE", "d"},
                       {"range", "bytes=1-2"},
                       {"Range", "bytes=3-4"},
                       {"X-Other", "y"}};
    const ConditionalHeaders h = conditionalHeadersOf(request);
    EXPECT_EQ(h.ifNoneMatch, "\"a\"");
    EXPECT_EQ(h.ifModifiedSince, "d");
    EXPECT_EQ(h.range, "bytes=1-2");
    EXPECT_FALSE(h.ifRange);
}

TEST(StaticFiles, StartPageChoicesAreFilesInCaseInsensitiveOrder) {
    TempDir dir;
    for (const char* name : {"b.htm", "A.htm", "a.htm", ".hidden", "C.css", "_x"})
        dir.write(name, "x");
    fs::create_directory(dir.path() / "folder");
    fs::create_directory_symlink(dir.path() / "folder", dir.path() / "folder-link");
    fs::create_symlink(dir.path() / "b.htm", dir.path() / "b-link.htm");
    const std::vector<std::string> expected{".hidden",    "_x",    "A.htm", "a.htm",
                                            "b-link.htm", "b.htm", "C.css"};
    EXPECT_EQ(startPageChoices(dir.path().string()), expected);
    EXPECT_TRUE(startPageChoices("").empty());
    EXPECT_TRUE(startPageChoices((dir.path() / "none").string()).empty());
}

} // namespace
} // namespace pelotest

// The head the listener composes directly is the one Beast's serializer writes for the same
// response, for every kind of answer the server sends.

#include "server/ResponseHead.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace pelotest {
namespace {

struct HeadCase {
    const char* name;
    int status;
    const char* contentType;
    std::vector<std::pair<std::string, std::string>> headers;
    bool file; // a file answer carries its own caching fields
    unsigned version;
    bool keepAlive;
    std::optional<std::uint64_t> contentLength;
    bool direct; // false: only Beast's rules cover it
};

TEST(ResponseHead, ComposedHeadIsBeastsForEveryAnswerTheServerSends) {
    const std::vector<std::pair<std::string, std::string>> fileFields = {
        {"Last-Modified", "Tue, 08 Dec 2026 00:00:00 GMT"},
        {"ETag", "\"5f-1a2b\""},
        {"Cache-Control", "no-cache"},
        {"Accept-Ranges", "bytes"}};
    const std::vector<std::pair<std::string, std::string>> framing = {
        {"X-Frame-Options", "SAMEORIGIN"}, {"Content-Security-Policy", "frame-ancestors 'self'"}};
    const std::vector<HeadCase> cases = {
        {"page kept alive", 200, "text/html", {}, false, 11, true, 1234, true},
        {"page, then close", 200, "text/html", {}, false, 11, false, 5, true},
        {"page to HTTP/1.0 kept alive", 200, "text/html", {}, false, 10, true, 5, true},
        {"page to HTTP/1.0", 200, "text/html", {}, false, 10, false, 5, true},
        {"control page", 200, "text/html", framing, false, 11, true, 900, true},
        {"file", 200, "text/css", fileFields, true, 11, true, 70'000, true},
        {"large file", 200, "application/octet-stream", fileFields, true, 11, true,
         std::uint64_t{5} << 32, true},
        {"part of a file", 206, "image/png",
         [&] {
             auto fields = fileFields;
             fields.emplace_back("Content-Range", "bytes 0-9/100");
             return fields;
         }(),
         true, 11, true, 10, true},
        {"not modified", 304, "text/css", fileFields, false, 11, true, std::nullopt, true},
        {"range not satisfiable",
         416,
         "text/css",
         {{"Cache-Control", "no-cache"}, {"Content-Range", "bytes */100"}},
         false,
         11,
         true,
         0,
         true},
        {"refused cross-site", 403, "text/html", framing, false, 11, true, 120, true},
        {"not found", 404, "text/html", {}, false, 11, true, 300, true},
        {"too many parameters", 413, "text/html", {}, false, 11, true, 200, true},
        {"method not allowed",
         405,
         "text/plain",
         {{"Allow", "GET, HEAD, POST"}},
         false,
         11,
         false,
         19,
         true},
        {"handler failed", 500, "text/plain", {}, false, 11, true, 14, true},
        {"redirect",
         302,
         "text/html",
         {{"Location", "/$int/VarList.html"}},
         false,
         11,
         true,
         0,
         true},
        {"busy", 503, "text/plain", {{"Retry-After", "1"}}, false, 11, false, 25, true},
        {"no content type", 200, "", {}, false, 11, true, 0, true},
        {"field set twice moves to the end",
         200,
         "text/html",
         {{"X-A", "1"}, {"Cache-Control", "no-cache"}, {"x-a", "2"}},
         false,
         11,
         true,
         3,
         true},
        {"content type set again by the handler",
         200,
         "text/html",
         {{"content-type", "text/css"}},
         false,
         11,
         true,
         3,
         true},
        {"blanks around a value", 200, "text/html", {{"X-B", " \tv \t"}}, false, 11, true, 3, true},
        {"line break in a value",
         200,
         "text/html",
         {{"X-C", "a\r\nSet-Cookie: b"}},
         false,
         11,
         true,
         3,
         false},
        {"handler frames the message",
         200,
         "text/html",
         {{"Connection", "close"}},
         false,
         11,
         true,
         3,
         false},
    };
    for (const HeadCase& c : cases) {
        SCOPED_TRACE(c.name);
        HttpResponse response;
        response.status = c.status;
        response.contentType = c.contentType;
        response.headers = c.headers;
        if (c.file)
            response.file = FileBody{"/srv/site/a", 0, 1, nullptr};
        const std::string beast =
            serializeResponseHead(response, c.version, c.keepAlive, c.contentLength);
        std::string direct = "left from the answer before";
        EXPECT_EQ(
            composeResponseHeadDirectly(response, c.version, c.keepAlive, c.contentLength, direct),
            c.direct);
        if (c.direct) {
            EXPECT_EQ(direct, beast);
        }
        std::string composed;
        composeResponseHead(response, c.version, c.keepAlive, c.contentLength, composed);
        EXPECT_EQ(composed, beast);
    }
}

} // namespace
} // namespace pelotest

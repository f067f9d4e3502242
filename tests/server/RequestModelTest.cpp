// The request model built from the wire, and the Host check against DNS rebinding.

#include "server/HttpTypes.h"
#include "server/RequestHandler.h"

#include <gtest/gtest.h>

namespace pelotest {
namespace {

struct ModelCase {
    const char* method;
    const char* target;
    const char* contentType; // nullptr: no Content-Type header
    const char* body;
    const char* document;
    std::vector<std::string> params;
    const char* rawQuery;
};

TEST(RequestModel, DecodesPathParametersAndQuery) {
    const std::vector<ModelCase> cases = {
        {"GET", "/index.htm", nullptr, "", "/index.htm", {}, ""},
        {"GET", "/", nullptr, "", "/", {}, ""},
        // The path keeps '+'; parameters turn it into a blank. Escapes are decoded before the
        // entry is split at '=', so an escaped '=' in a name moves the split.
        {"GET",
         "/a%20b+c.htm?x=1+2&y=%41%3D&n%3Dm=v",
         nullptr,
         "",
         "/a b+c.htm",
         {"x=1 2", "y=A=", "n=m=v"},
         "x=1+2&y=%41%3D&n%3Dm=v"},
        {"GET",
         "/app/kunde.htm?PELO_EVENT=Show&id=4",
         nullptr,
         "",
         "/app/kunde.htm",
         {"PELO_EVENT=Show", "id=4"},
         "PELO_EVENT=Show&id=4"},
        // Empty entries are no pairs; an entry without '=' stays whole.
        {"GET", "/?a&&b=&=c&", nullptr, "", "/", {"a", "b=", "=c"}, "a&&b=&=c&"},
        {"GET", "/x?", nullptr, "", "/x", {}, ""},
        // An escape that is not two hex digits stays as it is.
        {"GET", "/%zz%4?q=%g1%", nullptr, "", "/%zz%4", {"q=%g1%"}, "q=%g1%"},
        // Bytes above 127 pass through undecoded to any character set.
        {"GET", "/%E4.htm?k=%FC", nullptr, "", "/\xE4.htm", {"k=\xFC"}, "k=%FC"},
        // Absolute form, as a proxy would send it.
        {"GET", "http://example.test:8080/p.htm?z=9", nullptr, "", "/p.htm", {"z=9"}, "z=9"},
        {"GET", "HTTP://example.test", nullptr, "", "/", {}, ""},
        {"GET", "http://example.test?x=1", nullptr, "", "/", {"x=1"}, "x=1"},
        // A form-encoded POST: the body's pairs first, then the query's.
        {"POST",
         "/s.htm?q=2&b=9",
         "application/x-www-form-urlencoded",
         "b=1&c=%26+x",
         "/s.htm",
         {"b=1", "c=& x", "q=2", "b=9"},
         "q=2&b=9"},
        {"POST",
         "/s.htm",
         "Application/X-WWW-Form-Urlencoded; charset=UTF-8",
         "a=1",
         "/s.htm",
         {"a=1"},
         ""},
        // Other bodies, and bodies of other methods, carry no parameters.
        {"POST", "/s.htm?q=2", "text/plain", "b=1", "/s.htm", {"q=2"}, "q=2"},
        {"POST", "/s.htm", "application/x-www-form-urlencodedX", "b=1", "/s.htm", {}, ""},
        {"POST", "/s.htm", nullptr, "b=1", "/s.htm", {}, ""},
        {"GET", "/s.htm", "application/x-www-form-urlencoded", "b=1", "/s.htm", {}, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.method) + " " + c.target);
        std::vector<std::pair<std::string, std::string>> headers = {{"Host", "localhost"},
                                                                    {"Referer", "http://r/x?y"}};
        if (c.contentType)
            headers.emplace_back("Content-Type", c.contentType);
        const auto request = makeHttpRequest(c.method, c.target, c.body, headers);
        ASSERT_TRUE(request);
        EXPECT_EQ(request->method, c.method);
        EXPECT_EQ(request->document, c.document);
        EXPECT_EQ(request->params, c.params);
        EXPECT_EQ(request->rawQuery, c.rawQuery);
        EXPECT_EQ(request->referer, "http://r/x?y");
        EXPECT_EQ(request->header("HOST"), "localhost");
        EXPECT_EQ(request->headers, headers);
    }
}

TEST(RequestModel, RefusesTargetsThatNameNoDocument) {
    for (const char* target : {"*", "example.com:443", "", "a.htm", "/a%00b.htm", "http://h/%00"}) {
        SCOPED_TRACE(target);
        EXPECT_FALSE(makeHttpRequest("GET", target, "", {}));
    }
    // A NUL in a parameter is data, not a path.
    const auto request = makeHttpRequest("GET", "/a?x=%00", "", {});
    ASSERT_TRUE(request);
    EXPECT_EQ(request->params, std::vector<std::string>{std::string("x=\0", 3)});
}

// Splitting stops at the first parameter past the limit, in the body or in the query: a body
// of millions of tiny entries is never decoded whole only to be refused.
TEST(RequestModel, SplittingStopsOneParameterPastTheLimit) {
    struct Case {
        const char* target;
        std::string body;
        std::size_t stored;
    };
    std::string many;
    for (int i = 0; i < 1000; ++i)
        many += "v=" + std::to_string(i) + "&";
    const Case cases[] = {
        {"/", "a=1&b=2&c=3", 3},       // at the limit
        {"/", many, 4},                // past it in the body
        {"/?q=1&r=2", "a=1&b=2", 4},   // past it in the query
        {"/?q=1&&&r=2&s", "&a=1&", 4}, // empty entries do not count
        {"/?q=1", "a=1&&b=2&", 3},     // at the limit over both
    };
    const std::vector<std::pair<std::string, std::string>> form = {
        {"Content-Type", "application/x-www-form-urlencoded"}};
    for (const Case& c : cases) {
        HttpRequest request;
        request.headers = form;
        ASSERT_TRUE(readHttpRequest(request, "POST", c.target, c.body, 3)) << c.target;
        EXPECT_EQ(request.params.size(), c.stored) << c.target << " " << c.body.substr(0, 20);
    }
}

TEST(RequestModel, MissingRefererIsEmpty) {
    const auto request = makeHttpRequest("GET", "/", "", {});
    ASSERT_TRUE(request);
    EXPECT_EQ(request->referer, "");
    EXPECT_FALSE(request->header("Referer"));
}

TEST(RequestModel, ResponseSetHeaderReplacesIgnoringCase) {
    HttpResponse response;
    response.setHeader("Cache-Control", "no-cache");
    response.setHeader("ETag", "\"1\"");
    response.setHeader("cache-control", "max-age=0");
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"Cache-Control", "max-age=0"}, {"ETag", "\"1\""}};
    EXPECT_EQ(response.headers, expected);
}

TEST(HostCheck, AnswersLocalNamesAddressesAndListedHostsOnly) {
    struct Case {
        std::optional<std::string> host;
        const char* allowed;
        bool answered;
    };
    const std::vector<Case> cases = {
        {std::nullopt, "", true},
        {"localhost", "", true},
        {"LOCALHOST:8080", "", true},
        {"localhost.", "", true},
        {"app.localhost", "", true},
        {"a.b.Localhost:1", "", true},
        {"127.0.0.1", "", true},
        {"127.0.0.1:8080", "", true},
        {"192.168.1.20:80", "", true},
        {"[::1]", "", true},
        {"[::1]:8080", "", true},
        {"[fe80::1]:80", "", true},
        {"evil.example", "", false},
        {"evil.example:8080", "", false},
        {"localhost.evil.example", "", false},
        {"evillocalhost", "", false},
        {"127.0.0.1.evil.example", "", false},
        {"1.2.3", "", false},
        {"::1", "", false},
        {"[::1", "", false},
        {"[::1]x", "", false},
        {"[localhost]", "", false},
        {"", "", false},
        {":8080", "", false},
        {"mybox:8080", "foo, MyBox ,bar", true},
        {"foo", "foo, MyBox ,bar", true},
        {"bar", "foo, MyBox ,bar", true},
        {"other", "foo, MyBox ,bar", false},
        {"fo", "foo", false},
        {"", ",,", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.host.value_or("(none)") + " / " + c.allowed);
        EXPECT_EQ(isAllowedHost(c.host, c.allowed), c.answered);
    }
}

} // namespace
} // namespace pelotest

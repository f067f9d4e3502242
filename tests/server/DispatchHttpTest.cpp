// The route table (pages/Routes.h) through the real server: each document is answered over HTTP
// exactly as the branch it belongs to answers it when called directly on an identical state. (Pages
// that carry a time stamp, such as the variables page, cannot be compared this way; the routing
// unit tests cover them.)

#include "pages/Pages.h"
#include "server/OrdinaryRequest.h"
#include "server/RequestContext.h"

#include "ServerTestSupport.h"
#include "support/HttpTestClient.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <iterator>

namespace pelotest {
namespace {

using Branch = std::function<void(Exchange&)>;

struct DispatchCase {
    const char* document;
    Branch branch;
    const char* what;
};

void configure(AppState& state, const test::TempDir& site) {
    state.settings.staticPath = site.path().string();
    state.settings.variablesAutoSort = true;
    test::addVariables(state, {{"Kunde", "4711"}});
}

std::string fileSlice(const FileBody& file) {
    std::ifstream in(file.path, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(file.offset));
    std::string bytes(file.length, '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(file.length));
    return bytes;
}

void expectDispatch(const std::vector<DispatchCase>& cases, const test::TempDir& site) {
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.document) + " -> " + c.what);
        const std::string target = std::string(c.document) + "?Probe=1";

        AppState served;
        configure(served, site);
        test::TestHost servedHost;
        const test::TestServer server(served, servedHost);
        const auto result = test::httpGet(server.port(), target);

        AppState direct;
        configure(direct, site);
        test::TestHost directHost;
        const auto request = makeHttpRequest(
            "GET", target, "", {{"Host", "127.0.0.1:" + std::to_string(server.port())}});
        ASSERT_TRUE(request);
        HttpResponse expected;
        Exchange ex{*request, expected, direct, directHost, {}, {}};
        {
            // As the request handler runs a branch: with the state locked (a branch may release
            // it while it reads a file).
            std::lock_guard lock(direct.mutex);
            ex.paths = computeRequestPaths(direct, request->document);
            c.branch(ex);
        }

        EXPECT_EQ(result.status, expected.status);
        EXPECT_EQ(result.header("Content-Type"), expected.contentType);
        EXPECT_TRUE(result.body == (expected.file ? fileSlice(*expected.file) : expected.body));
        std::lock_guard lock(served.mutex);
        EXPECT_EQ(test::describeVariables(served.variables),
                  test::describeVariables(direct.variables));
    }
}

TEST(DispatchOverHttp, EachDocumentReachesItsBranch) {
    const test::TempDir site;
    site.write("page.htm", "<html><head><title>Seite</title></head></html>\r\n");
    const Branch ordinary = answerOrdinaryRequest;
    const Branch control = answerControlPage;
    const std::vector<DispatchCase> cases = {
        {"/$INT", control, "control page"},
        {"/$Int/", control, "control page"},
        {"/$int/varlist.html", ordinary, "ordinary"},
        {"/$INT/VarList.html", ordinary, "ordinary"},
        {"/$int/Img3.gif", [](Exchange& ex) { answerEmbeddedImage(ex, "Img3.gif"); }, "image"},
        {"/$int/img3.gif", ordinary, "ordinary"},
        {"/$int/banner.gif", [](Exchange& ex) { answerEmbeddedImage(ex, "banner.gif"); }, "image"},
        {"/sub/favicon.ico", [](Exchange& ex) { answerEmbeddedImage(ex, "favicon.ico"); },
         "built-in icon"},
        {"/$int/styles.css", answerStyleSheet, "style sheet"},
        {"/$int/error.jpg", [](Exchange& ex) { answerMessageIcon(ex, MessageIcon::Error); },
         "message icon"},
        {"/page.htm", ordinary, "ordinary (static file)"},
        {"/", ordinary, "ordinary (template request)"},
    };
    expectDispatch(cases, site);
}

TEST(DispatchOverHttp, TheStaticRootsOwnFaviconIsServedAsAFile) {
    const test::TempDir site;
    site.write("favicon.ico", std::string("\0\0\1\0own icon", 12));
    expectDispatch({{"/favicon.ico", answerOrdinaryRequest, "ordinary (static file)"}}, site);
}

} // namespace
} // namespace pelotest

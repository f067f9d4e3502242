// Parameter capture: how request parameters update the variables list and set the event, alone
// and through the real server.

#include "server/OrdinaryRequest.h"

#include "ServerTestSupport.h"
#include "support/HttpTestClient.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

namespace pelotest {
namespace {

using test::describeVariables;
using Rows = std::vector<std::string>;

struct CaptureCase {
    const char* what;
    bool autoSort;
    std::vector<std::string> params;
    Rows expectedRows;
    std::string expectedEvent;
};

TEST(ParameterCapture, SetsVariablesAndEvent) {
    const std::vector<CaptureCase> cases = {
        {"an existing row goes to the top, a new one just below the rows set",
         true,
         {"Beta=1", "Delta=2"},
         {"Beta=1|P", "Delta=2|U", "Alpha=a", "Gamma=g"},
         ""},
        {"later parameters come first among the set rows",
         true,
         {"Alpha=1", "Gamma=2", "New=3"},
         {"Gamma=2|P", "Alpha=1|P", "New=3|U", "Beta=b"},
         ""},
        {"without auto-sort nothing moves and nothing is marked",
         false,
         {"Beta=1", "Delta=2"},
         {"Alpha=a", "Beta=1", "Gamma=g", "Delta=2"},
         ""},
        {"names are found ignoring case and keep their spelling",
         false,
         {"beta=1"},
         {"Alpha=a", "Beta=1", "Gamma=g"},
         ""},
        {"the event parameter in any case, the last one wins, and it is a variable too",
         false,
         {"pelo_event=Show", "id=4", "PELO_EVENT=Save"},
         {"Alpha=a", "Beta=b", "Gamma=g", "pelo_event=Save", "id=4"},
         "Save"},
        {"an empty event value is still the event",
         false,
         {"PELO_EVENT=Show", "Pelo_Event="},
         {"Alpha=a", "Beta=b", "Gamma=g", "PELO_EVENT="},
         ""},
        {"a later value wins", false, {"x=1", "x=2"}, {"Alpha=a", "Beta=b", "Gamma=g", "x=2"}, ""},
        {"the value runs from the first '='; an entry without one has an empty name",
         false,
         {"a=b=c", "flag"},
         {"Alpha=a", "Beta=b", "Gamma=g", "a=b=c", "=flag"},
         ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        AppState state;
        state.settings.variablesAutoSort = c.autoSort;
        test::addVariables(state, {{"Alpha", "a"}, {"Beta", "b"}, {"Gamma", "g"}});
        test::TestHost host;
        HttpRequest request;
        request.params = c.params;
        HttpResponse response;
        Exchange ex{request, response, state, host, {}, "stale"};
        ex.event.clear();
        captureParameters(ex);
        EXPECT_EQ(describeVariables(state.variables), c.expectedRows);
        EXPECT_EQ(ex.event, c.expectedEvent);
        EXPECT_TRUE(state.variablesChanged);
    }
}

TEST(ParameterCapture, EventNameComesFromTheSettings) {
    AppState state;
    state.settings.event = "Ereignis";
    test::TestHost host;
    HttpRequest request;
    request.params = {"EREIGNIS=Go", "PELO_EVENT=No"};
    HttpResponse response;
    Exchange ex{request, response, state, host, {}, {}};
    captureParameters(ex);
    EXPECT_EQ(ex.event, "Go");
}

class OrdinaryRequestOverHttp : public ::testing::Test {
  protected:
    void SetUp() override {
        state.settings.staticPath = site.path().string();
        state.settings.virtualPath = "app";
        test::addVariables(state, {{"Alpha", "a"}, {"Beta", "b"}, {"Gamma", "g"}});
    }
    Rows rows() {
        std::lock_guard lock(state.mutex);
        return describeVariables(state.variables);
    }

    test::TempDir site;
    AppState state;
    test::TestHost host;
};

TEST_F(OrdinaryRequestOverHttp, QueryUpdatesTheVariables) {
    const test::TestServer server(state, host);
    test::httpGet(server.port(), "/x.htm?Beta=1&Delta=2");
    EXPECT_EQ(rows(), (Rows{"Beta=1|P", "Delta=2|U", "Alpha=a", "Gamma=g"}));
    EXPECT_EQ(host.calls().size(), 1u);
    // The next request that names no file starts the marks afresh.
    test::httpGet(server.port(), "/app/y.htm?Gamma=3");
    EXPECT_EQ(rows(), (Rows{"Gamma=3|P", "Beta=1", "Delta=2", "Alpha=a"}));
}

TEST_F(OrdinaryRequestOverHttp, AnExistingFileKeepsTheMarks) {
    site.write("page.htm", "<html></html>");
    const test::TestServer server(state, host);
    test::httpGet(server.port(), "/x.htm?Beta=1&Delta=2");
    test::httpGet(server.port(), "/page.htm?Gamma=3");
    EXPECT_EQ(rows(), (Rows{"Gamma=3|P", "Beta=1|P", "Delta=2|U", "Alpha=a"}));
    // A folder is never a file.
    std::filesystem::create_directory(site.path() / "sub");
    test::httpGet(server.port(), "/sub?Alpha=4");
    EXPECT_EQ(rows(), (Rows{"Alpha=4|P", "Gamma=3", "Beta=1", "Delta=2"}));
}

TEST_F(OrdinaryRequestOverHttp, FormPostBodyComesBeforeTheQuery) {
    state.settings.variablesAutoSort = false;
    const test::TestServer server(state, host);
    test::httpRequest(server.port(), "POST", "/app/f.htm?q=3&p=9", "p=1&r=%26+2");
    EXPECT_EQ(rows(), (Rows{"Alpha=a", "Beta=b", "Gamma=g", "p=9", "r=& 2", "q=3"}));
}

TEST_F(OrdinaryRequestOverHttp, WithoutParametersNothingChanges) {
    const test::TestServer server(state, host);
    test::httpGet(server.port(), "/x.htm");
    EXPECT_EQ(rows(), (Rows{"Alpha=a", "Beta=b", "Gamma=g"}));
    EXPECT_FALSE(state.variablesChanged);
    EXPECT_TRUE(host.calls().empty());
}

// Requests that would make the list pass its limits get 413 and change nothing; requests that
// stay within them (or do not grow the list) are served. The variables page keeps to the limit too.
TEST_F(OrdinaryRequestOverHttp, ParametersBeyondTheVariableLimitsChangeNothing) {
    state.variables.setLimits(VariableLimits{5, 40}); // three rows of 6 bytes so far
    const test::TestServer server(state, host);
    const Rows before = rows();
    struct Case {
        std::string what, target, body;
        int status;
    };
    const std::vector<Case> cases = {
        {"three new rows", "/x.htm?a=1&b=2&c=3", "", 413},
        {"a value past the bytes", "/x.htm", "Beta=" + std::string(40, 'x'), 413},
        {"a new row past the bytes", "/x.htm", "New=" + std::string(30, 'x'), 413},
        {"the variables page's value past the bytes",
         "/$int/VarList.html?INT=true&NAME=Beta&VALUE=" + std::string(40, 'x'), "", 413},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto answer = c.body.empty()
                                ? test::httpGet(server.port(), c.target)
                                : test::httpRequest(server.port(), "POST", c.target, c.body);
        EXPECT_EQ(answer.status, c.status);
        EXPECT_EQ(rows(), before);
    }
    EXPECT_TRUE(host.calls().empty());
    EXPECT_EQ(test::httpGet(server.port(), "/x.htm?a=1&b=" + std::string(20, 'y')).status, 404);
    EXPECT_EQ(rows(),
              (Rows{"b=" + std::string(20, 'y') + "|U", "a=1|U", "Alpha=a", "Beta=b", "Gamma=g"}));
    // Full now: a value that shrinks is still taken, a new name is not.
    EXPECT_EQ(test::httpGet(server.port(), "/x.htm?B=").status, 404);
    EXPECT_EQ(test::httpGet(server.port(), "/x.htm?c=1").status, 413);
    EXPECT_EQ(rows().size(), 5u);
}

TEST_F(OrdinaryRequestOverHttp, BuiltInPagesTakeNoParameters) {
    // "/$int/varlist.html" is an ordinary request; "/$INT" is the control page.
    const test::TestServer server(state, host);
    test::httpGet(server.port(), "/$int/varlist.html?Lower=1");
    test::httpGet(server.port(), "/$INT?Upper=1");
    std::lock_guard lock(state.mutex);
    EXPECT_TRUE(state.variables.find("Lower"));
    EXPECT_FALSE(state.variables.find("Upper"));
}

} // namespace
} // namespace pelotest

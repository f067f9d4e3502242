// Template requests over HTTP against the real server: the rendered template and the
// unassigned-event page compared whole, and the log rows they leave.

#include "app/HeadlessHost.h"

#include "support/HttpTestClient.h"
#include "support/TempDir.h"
#include "support/TestData.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace pelotest {
namespace {

using test::HttpResult;
using test::TempDir;
using test::TestServer;

class TemplateOverHttp : public ::testing::Test {
  protected:
    TemplateOverHttp() {
        dir.write("static/index.htm", "<title>Static</title>");
        state.settings.staticPath = (dir.path() / "static").string() + "/";
        state.settings.dynamicPath = (dir.path() / "tmpl").string();
        state.settings.virtualPath = "/app/";
    }

    TempDir dir;
    AppState state;
    HeadlessHost host{state}; // classic colours
};

TEST_F(TemplateOverHttp, RendersTheTemplateOfTheEventWithTheRequestsVariables) {
    const std::string path =
        dir.write("tmpl/liste.htm", "<html><head><title>Liste f&uuml;r /(Kunde)</title>\n"
                                    "</head><body>Kunde /(kunde), /(Neu).\r"
                                    "<a href=\"?PELO_EVENT=ShowItem&id=/(Kunde)\">x</a>\r\n"
                                    "</body></html>")
            .string();
    dir.write("tmpl/start.htm", "entry");
    TreeNode& root = state.tree.appendRoot("start.htm");
    TreeNode& node = root.appendChild("liste.htm (ShowList)");

    TestServer server(state, host);
    const HttpResult result = test::httpGet(server.port(), "/app/?PELO_EVENT=Show&Kunde=4711");

    EXPECT_EQ(result.status, 200);
    EXPECT_EQ(result.header("Content-Type").value_or(""), "text/html");
    EXPECT_EQ(result.body, "<html><head><title>Liste f&uuml;r 4711</title>\r\n"
                           "</head><body>Kunde 4711, .\r\n"
                           "<a href=\"?PELO_EVENT=ShowItem&id=4711\">x</a>\r\n"
                           "</body></html>\r\n");

    std::lock_guard lock(state.mutex);
    ASSERT_EQ(node.children.size(), 1u);
    EXPECT_EQ(node.children[0]->text, "ShowItem");
    ASSERT_GE(state.log.size(), 1u);
    EXPECT_EQ(state.log.rows()[0],
              (LogEntry{LogKind::Template, "liste.htm", "Show", "Liste f\xFCr /(Kunde)", path}));
    const auto neu = state.variables.find("Neu");
    ASSERT_TRUE(neu);
    EXPECT_EQ(state.variables[*neu].value, "");
}

TEST_F(TemplateOverHttp, EntryTemplateAnswersARequestWithoutEvent) {
    const std::string path = dir.write("tmpl/sub/start.htm", "<title>Start</title>\r\n").string();
    state.tree.appendRoot("sub/start.htm");

    TestServer server(state, host);
    const HttpResult result = test::httpGet(server.port(), "/app/");
    EXPECT_EQ(result.status, 200);
    EXPECT_EQ(result.body, "<title>Start</title>\r\n");

    std::lock_guard lock(state.mutex);
    EXPECT_EQ(state.tree.first()->text, "start.htm");
    EXPECT_EQ(state.log.rows().at(0),
              (LogEntry{LogKind::Template, "start.htm", "", "Start", path}));
}

TEST_F(TemplateOverHttp, UnassignedEventPageIsComparedWhole) {
    dir.write("tmpl/b.htm", "");
    dir.write("tmpl/a.htm", "");
    state.tree.appendRoot("start.htm").appendChild("Save");

    TestServer server(state, host);
    const HttpResult result =
        test::httpGet(server.port(), "/app/kunde.htm?PELO_EVENT=Save&q=%3Cb%3E&x=1",
                      {{"Referer", "http://127.0.0.1/app/?a=1&b=\"2\""}});

    const std::string expected = test::loadTestData(
        "pages/unassigned-event.html",
        {{"MESSAGE", "Dem Event <b>Save</b> ist kein Template zugeordnet!"},
         {"REF", "http://127.0.0.1/app/?a=1&amp;b=&quot;2&quot;"},
         {"URL", "/app/kunde.htm"},
         {"QUERY", "PELO_EVENT=Save&amp;q=%3Cb%3E&amp;x=1"},
         {"EVENT", "Save"},
         {"OPTIONS",
          "<OPTION VALUE=\"a.htm\">a.htm</OPTION>\r<OPTION VALUE=\"b.htm\">b.htm</OPTION>\r"}});
    EXPECT_EQ(result.status, 200);
    EXPECT_EQ(result.header("Content-Type").value_or(""), "text/html");
    EXPECT_EQ(result.body, expected);

    std::lock_guard lock(state.mutex);
    EXPECT_EQ(state.log.rows().at(0),
              (LogEntry{LogKind::Unassigned, "", "Save", "kein Template zugeordnet", ""}));
}

// A value can make a rendered line name ever new events: past any limit of the tree the page is
// answered whole and the tree stays as it was.
TEST_F(TemplateOverHttp, EventsPastTheTreesLimitsAreNotLearntAndThePageIsAnswered) {
    dir.write("tmpl/page.htm", "<a href=\"?PELO_EVENT=/(next)\">");
    state.tree.appendRoot("start.htm").appendChild("page.htm (Show)"); // 2 nodes, 24 bytes
    const std::vector<std::string> before = state.tree.toIndentedLines();
    struct Case {
        const char* what;
        TreeLimits limits;
    };
    const Case cases[] = {
        {"nodes", {2, 1000, 1000}},
        {"bytes", {1000, 29, 1000}},
        {"bytes of one node", {1000, 1000, 5}},
    };

    TestServer server(state, host);
    for (const Case& c : cases) {
        {
            std::lock_guard lock(state.mutex);
            state.tree.setLimits(c.limits);
        }
        const HttpResult result = test::httpGet(server.port(), "/app/?PELO_EVENT=Show&next=Event7");
        EXPECT_EQ(result.status, 200) << c.what;
        EXPECT_EQ(result.body, "<a href=\"?PELO_EVENT=Event7\">\r\n") << c.what;
        std::lock_guard lock(state.mutex);
        EXPECT_EQ(state.tree.toIndentedLines(), before) << c.what;
    }
}

// A FIFO that stands where a template should be counts as no template: the form to assign one
// is answered at once.
TEST_F(TemplateOverHttp, AFifoAsTemplateIsAnsweredAsAMissingOneWithoutWaiting) {
    std::filesystem::create_directories(dir.path() / "tmpl");
    ASSERT_EQ(::mkfifo((dir.path() / "tmpl/pipe.htm").c_str(), 0600), 0);
    state.tree.appendRoot("start.htm").appendChild("pipe.htm (Pipe)");

    TestServer server(state, host);
    const HttpResult pipe = test::httpGet(server.port(), "/app/?PELO_EVENT=Pipe");
    EXPECT_EQ(pipe.status, 200);
    EXPECT_NE(pipe.body.find("Dem Event <b>Pipe</b> ist kein Template zugeordnet!"),
              std::string::npos);
}

TEST_F(TemplateOverHttp, FormPostCarriesTheEventLikeAQuery) {
    dir.write("tmpl/saved.htm", "Gespeichert: /(Name)");
    state.tree.appendRoot("start.htm").appendChild("saved.htm (Save)");

    TestServer server(state, host);
    const HttpResult result =
        test::httpRequest(server.port(), "POST", "/app/form", "PELO_EVENT=Save&Name=M%FCller",
                          {{"Content-Type", "application/x-www-form-urlencoded"}});
    EXPECT_EQ(result.status, 200);
    EXPECT_EQ(result.body, "Gespeichert: M\xFCller\r\n");
}

TEST_F(TemplateOverHttp, TemplatesStayInsideTheirFolderLikeStaticFiles) {
    dir.write("outside/secret.htm", "secret");
    dir.write("tmpl/real.htm", "real");
    std::filesystem::create_symlink(dir.path() / "outside/secret.htm",
                                    dir.path() / "tmpl/link.htm");
    std::filesystem::create_directory_symlink(dir.path() / "outside", dir.path() / "tmpl/outdir");
    std::filesystem::create_symlink("real.htm", dir.path() / "tmpl/alias.htm");
    TreeNode& root = state.tree.appendRoot("start.htm");
    root.appendChild("link.htm (Leak)");
    root.appendChild("outdir/secret.htm (LeakDir)");
    root.appendChild("alias.htm (Alias)");

    TestServer server(state, host);
    for (const char* event : {"Leak", "LeakDir"}) {
        SCOPED_TRACE(event);
        const HttpResult result =
            test::httpGet(server.port(), std::string("/app/?PELO_EVENT=") + event);
        EXPECT_EQ(result.body.find("secret"), std::string::npos) << result.body;
        EXPECT_NE(result.body.find("kein Template zugeordnet"), std::string::npos);
    }
    // A link that stays inside the folder is followed.
    EXPECT_EQ(test::httpGet(server.port(), "/app/?PELO_EVENT=Alias").body, "real\r\n");
}

} // namespace
} // namespace pelotest

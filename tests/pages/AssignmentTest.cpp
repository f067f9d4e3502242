// SetTemplate.html and SetStartSite.html over HTTP: parameters, tree, log and refresh pages.

#include "ControlPageTestSupport.h"
#include "support/TestData.h"

#include <gtest/gtest.h>

#include <mutex>

namespace pelotest::test {
namespace {

std::string refreshTo(const std::string& address) {
    return loadTestData("pages/refresh.html", {{"URL", address}});
}

std::vector<std::string> treeLines(AppState& state) {
    std::lock_guard lock(state.mutex);
    return state.tree.toIndentedLines();
}

std::vector<LogEntry> logRows(AppState& state) {
    std::lock_guard lock(state.mutex);
    return {state.log.rows().begin(), state.log.rows().end()};
}

using Lines = std::vector<std::string>;

TEST(AssignmentSetTemplate, UpdatesEveryMatchingNode) {
    struct Case {
        const char* name;
        Lines tree;
        std::string query;
        Lines expected;
        bool changed;
    };
    const Case cases[] = {
        {"every node of the event, assigned or not",
         {"start.htm", "\tLogin", "\tb.htm (Login)", "\t\tOther", "\t\tc.htm (Login)"},
         "EVENT=Login&TEMPLATE=a.htm",
         {"start.htm", "\ta.htm (Login)", "\ta.htm (Login)", "\t\tOther", "\t\ta.htm (Login)"},
         true},
        {"only as many characters as the event has; unassigned from the second character",
         {"start.htm", "\tx.htm (LoginUser)", "\tXLogin", "\tLogi", "\ty.htm (Logout)"},
         "EVENT=Login&TEMPLATE=a.htm",
         {"start.htm", "\ta.htm (Login)", "\ta.htm (Login)", "\tLogi", "\ty.htm (Logout)"},
         true},
        {"no matching node: the tree stays as it was",
         {"start.htm", "\tShow"},
         "EVENT=Login&TEMPLATE=a.htm",
         {"start.htm", "\tShow"},
         false},
        {"no event: the entry template",
         {"old.htm", "\tShow"},
         "TEMPLATE=t.htm",
         {"t.htm", "\tShow"},
         true},
        {"an empty tree gets the template as its root, even with an event",
         {},
         "EVENT=E&TEMPLATE=t.htm",
         {"t.htm"},
         true},
        {"no template: nothing changes",
         {"old.htm", "\tLogin"},
         "EVENT=Login",
         {"old.htm", "\tLogin"},
         false},
        {"names are exact: lower-case names are other parameters",
         {"old.htm"},
         "template=x.htm&TEMPLATE=t.htm&event=Login",
         {"t.htm"},
         true},
        {"the later value wins; parameters without a name are ignored",
         {"start.htm", "\tA", "\tB"},
         "EVENT=A&TEMPLATE=a.htm&EVENT=B&=C&TEMPLATE",
         {"start.htm", "\tA", "\ta.htm (B)"},
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PagesServer s;
        ASSERT_EQ(s.state.tree.fromIndentedLines(c.tree), "");
        const HttpResult result = httpGet(s.port(), "/$int/SetTemplate.html?" + c.query);
        EXPECT_EQ(result.status, 200);
        EXPECT_EQ(result.header("Content-Type"), "text/html");
        EXPECT_EQ(treeLines(s.state), c.expected);
        std::lock_guard lock(s.state.mutex);
        EXPECT_EQ(s.state.treeChanged, c.changed);
        EXPECT_EQ(s.host.treeNotes > 0, c.changed);
    }
}

// An assignment that would make the tree pass its limits (MaxTreeBytes, MaxTreeNodeBytes)
// changes nothing, though it adds no node; one that stays within them, or makes the tree
// smaller, is made.
TEST(AssignmentSetTemplate, StaysWithinTheTreesLimits) {
    struct Case {
        const char* name;
        TreeLimits limits;
        Lines tree;
        std::string query;
        Lines expected;
    };
    const Lines tree = {"start.htm", "\tLogin", "\tShow"}; // 18 bytes of text
    const Case cases[] = {
        {"an event's nodes: more bytes than the tree may hold",
         {.maxNodes = 10, .maxBytes = 28, .maxNodeBytes = 100}, // 29 after
         tree,
         "EVENT=Login&TEMPLATE=abcd.htm",
         tree},
        {"an event's nodes: a text longer than a node may hold",
         {.maxNodes = 10, .maxBytes = 1000, .maxNodeBytes = 15}, // 16 after
         tree,
         "EVENT=Login&TEMPLATE=abcd.htm",
         tree},
        {"an event's nodes: within both",
         {.maxNodes = 10, .maxBytes = 29, .maxNodeBytes = 16},
         tree,
         "EVENT=Login&TEMPLATE=abcd.htm",
         {"start.htm", "\tabcd.htm (Login)", "\tShow"}},
        {"the entry template: more bytes than the tree may hold",
         {.maxNodes = 10, .maxBytes = 25, .maxNodeBytes = 100}, // 26 after
         tree,
         "TEMPLATE=a-longer-name.htm",
         tree},
        {"the entry template: a text longer than a node may hold",
         {.maxNodes = 10, .maxBytes = 1000, .maxNodeBytes = 16}, // 17 after
         tree,
         "TEMPLATE=a-longer-name.htm",
         tree},
        {"the entry template: a shorter name in a tree already over its limits",
         {.maxNodes = 10, .maxBytes = 10, .maxNodeBytes = 5},
         tree,
         "TEMPLATE=s.htm",
         {"s.htm", "\tLogin", "\tShow"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PagesServer s;
        ASSERT_EQ(s.state.tree.fromIndentedLines(c.tree), "");
        s.state.tree.setLimits(c.limits);
        EXPECT_EQ(httpGet(s.port(), "/$int/SetTemplate.html?" + c.query).status, 200);
        EXPECT_EQ(treeLines(s.state), c.expected);
        std::lock_guard lock(s.state.mutex);
        EXPECT_EQ(s.state.treeChanged, c.expected != c.tree);
    }
}

TEST(AssignmentSetTemplate, LogsTheAssignmentWithTheTemplatesTitle) {
    PagesServer s;
    s.dir.write("tpl/sub/login.htm", "<html><head><TITLE>Anmelden &amp; M&uuml;ller</title>\r\n");
    ASSERT_EQ(s.state.tree.fromIndentedLines({"start.htm", "\tLogin"}), "");
    s.state.settings.maxLog = 100;

    // TEMPLATE before EVENT: still one row, with the event.
    httpGet(s.port(), "/$int/SetTemplate.html?TEMPLATE=sub/login.htm&EVENT=Login");
    const std::string path = s.templateFolder() + "/sub/login.htm";
    EXPECT_EQ(logRows(s.state), (std::vector<LogEntry>{{LogKind::Assigned, "login.htm", "Login",
                                                        "Anmelden &amp; M\xFCller", path}}));
    EXPECT_EQ(treeLines(s.state), (Lines{"start.htm", "\tsub/login.htm (Login)"}));

    // No event, a missing file and a page type without a title: empty event and title.
    httpGet(s.port(), "/$int/SetTemplate.html?TEMPLATE=gone.htm");
    s.dir.write("tpl/notes.txt", "<title>not read</title>");
    httpGet(s.port(), "/$int/SetTemplate.html?TEMPLATE=notes.txt&EVENT=X");
    const std::vector<LogEntry> rows = logRows(s.state);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0], (LogEntry{LogKind::Assigned, "notes.txt", "X", "",
                                 s.templateFolder() + "/notes.txt"}));
    EXPECT_EQ(rows[1],
              (LogEntry{LogKind::Assigned, "gone.htm", "", "", s.templateFolder() + "/gone.htm"}));

    // Without a template nothing is logged.
    httpGet(s.port(), "/$int/SetTemplate.html?EVENT=Login&URL=/x.htm");
    EXPECT_EQ(logRows(s.state).size(), 3u);
    EXPECT_GT(s.host.logNotes, 0);
}

TEST(AssignmentSetTemplate, RefreshesToThePageThatAskedForTheEvent) {
    struct Case {
        std::string query;
        std::string address;
    };
    const Case cases[] = {
        {"EVENT=Login&TEMPLATE=login.htm&URL=/shop/index.htm&QUERY=lang%3Dde",
         "/shop/index.htm?PELO_EVENT=Login&lang=de"},
        {"EVENT=Login&TEMPLATE=login.htm&URL=/shop/index.htm", "/shop/index.htm?PELO_EVENT=Login"},
        // Missing values: a relative address that begins with "?".
        {"", "?PELO_EVENT="},
        // Values reflected into the attribute are escaped; the browser follows the same address,
        // which carries the event once (the query's own event entry, in any case, is left out).
        {"EVENT=a%22b&URL=/x%3Cy%3E.htm&QUERY=PELO_EVENT%3Da%2522b%26n%3D1&REF=ignored",
         "/x&lt;y&gt;.htm?PELO_EVENT=a%22b&n=1"},
        {"EVENT=x&URL=/a.htm&QUERY=a%3D1%26pelo_event%3Dx%26b%3D2",
         "/a.htm?PELO_EVENT=x&a=1&amp;b=2"},
        // A UTF-8 event comes back as the same bytes, whatever encoding the page was read in.
        {"EVENT=Gr%C3%B6%C3%9Fe&URL=/app/&QUERY=PELO_EVENT%3DGr%25C3%25B6%25C3%259Fe",
         "/app/?PELO_EVENT=Gr%C3%B6%C3%9Fe"},
    };
    for (const Case& c : cases) {
        PagesServer s;
        EXPECT_EQ(httpGet(s.port(), "/$int/SetTemplate.html?" + c.query).body, refreshTo(c.address))
            << c.query;
    }

    // The event parameter's name is the configured one, and a form POST works like a GET.
    PagesServer s;
    s.state.settings.event = "EV";
    const HttpResult posted =
        httpRequest(s.port(), "POST", "/$int/SetTemplate.html", "EVENT=Go&URL=/a.htm",
                    {{"Content-Type", "application/x-www-form-urlencoded"}});
    EXPECT_EQ(posted.body, refreshTo("/a.htm?EV=Go"));
}

TEST(AssignmentSetTemplate, IsMatchedExactly) {
    PagesServer s;
    s.state.tree.appendRoot("old.htm");
    for (const char* path :
         {"/$int/settemplate.html?TEMPLATE=t.htm", "/$INT/SetTemplate.html?TEMPLATE=t.htm"})
        httpGet(s.port(), path);
    EXPECT_EQ(treeLines(s.state), (Lines{"old.htm"}));
}

TEST(AssignmentLogTitle, IsReadOnlyFromInsideTheFolder) {
    PagesServer s;
    s.state.settings.maxLog = 100;
    s.dir.write("secret.htm", "<title>Secret</title>\r\n");
    s.dir.write("tpl/in.htm", "<title>Inside</title>\r\n");
    s.dir.write("static/in.htm", "<title>Inside</title>\r\n");
    std::filesystem::create_symlink(s.dir.path() / "secret.htm", s.dir.path() / "tpl/link.htm");
    std::filesystem::create_symlink(s.dir.path() / "secret.htm", s.dir.path() / "static/link.htm");
    struct Case {
        std::string request;
        std::string title;
    };
    const Case cases[] = {
        {"/$int/SetTemplate.html?TEMPLATE=in.htm", "Inside"},
        {"/$int/SetTemplate.html?TEMPLATE=../secret.htm", ""},
        {"/$int/SetTemplate.html?TEMPLATE=link.htm", ""},
        {"/$int/SetStartSite.html?SITE=in.htm", "Inside"},
        {"/$int/SetStartSite.html?SITE=../secret.htm", ""},
        {"/$int/SetStartSite.html?SITE=link.htm", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.request);
        httpGet(s.port(), c.request);
        EXPECT_EQ(logRows(s.state).front().title, c.title);
    }
}

TEST(AssignmentSetStartSite, SetsTheStartPageAndRefreshesToIt) {
    PagesServer s;
    s.dir.write("static/index.htm", "<title>Start</title>\r\n");

    const HttpResult result =
        httpGet(s.port(), "/$int/SetStartSite.html?SITE=index.htm&PARMS=a%3D1%26b%3D2");
    EXPECT_EQ(result.status, 200);
    EXPECT_EQ(result.header("Content-Type"), "text/html");
    EXPECT_EQ(result.body, refreshTo("/index.htm?a=1&amp;b=2"));
    {
        std::lock_guard lock(s.state.mutex);
        EXPECT_EQ(s.state.settings.staticSite, "index.htm");
        EXPECT_EQ(s.state.settings.staticParameter, "a=1&b=2");
    }
    EXPECT_EQ(logRows(s.state),
              (std::vector<LogEntry>{{LogKind::StartSite, "index.htm", "", "Start",
                                      s.staticFolder() + "/index.htm"}}));
    EXPECT_GT(s.host.settingsNotes, 0);
    // The next request sees the start page: the control page offers no choice any more.
    EXPECT_EQ(httpGet(s.port(), "/$int").body.find("SITES\">"), std::string::npos);

    // A start page in a subfolder, without parameters.
    EXPECT_EQ(httpGet(s.port(), "/$int/SetStartSite.html?SITE=sub/a.htm&SITE=sub/b.htm").body,
              refreshTo("/sub/b.htm"));
    EXPECT_EQ(logRows(s.state).front(),
              (LogEntry{LogKind::StartSite, "b.htm", "", "", s.staticFolder() + "/sub/b.htm"}));

    // No parameters: both settings cleared, no log row, refresh to the root.
    EXPECT_EQ(httpGet(s.port(), "/$int/SetStartSite.html").body, refreshTo("/"));
    {
        std::lock_guard lock(s.state.mutex);
        EXPECT_EQ(s.state.settings.staticSite, "");
        EXPECT_EQ(s.state.settings.staticParameter, "");
        EXPECT_EQ(s.state.log.size(), 2u);
    }
    EXPECT_NE(httpGet(s.port(), "/$int").body.find("<SELECT NAME=\"SITES\">"), std::string::npos);

    // Reflected values are escaped.
    EXPECT_EQ(httpGet(s.port(), "/$int/SetStartSite.html?SITE=%22%3E.htm&PARMS=x%3C").body,
              refreshTo("/&quot;&gt;.htm?x&lt;"));
}

} // namespace
} // namespace pelotest::test

// What other sites can do with the built-in pages, over HTTP: the pages that change the state
// refuse requests from another site, no other site may frame a built-in page, and every refresh
// the server builds stays on this server.

#include "ControlPageTestSupport.h"
#include "support/TestData.h"

#include <gtest/gtest.h>

#include <mutex>

namespace pelotest::test {
namespace {

std::string refreshTo(const std::string& address) {
    return loadTestData("pages/refresh.html", {{"URL", address}});
}

// Everything the state-changing pages can change, as one text.
std::string stateOf(PagesServer& s) {
    std::lock_guard lock(s.state.mutex);
    std::string text = "site=" + s.state.settings.staticSite + "?" +
                       s.state.settings.staticParameter +
                       " autosort=" + (s.state.settings.variablesAutoSort ? "1" : "0") + " tree=";
    for (const std::string& line : s.state.tree.toIndentedLines())
        text += line + ";";
    text += " vars=";
    for (const Variable& row : s.state.variables.rows())
        text += row.name + "=" + row.value + "/" + std::to_string(static_cast<int>(row.mark)) + ";";
    return text + " log=" + std::to_string(s.state.log.size());
}

TEST(CrossSiteRequests, StateChangingPagesRefuseOtherSitesAndChangeNothing) {
    const char* const changes[] = {
        "/$int/SetTemplate.html?EVENT=Login&TEMPLATE=evil.htm&URL=/a.htm",
        "/$int/SetTemplate.html?TEMPLATE=evil.htm",
        "/$int/SetStartSite.html?SITE=evil.htm&PARMS=x%3D1",
        "/$int/VarList.html?INT=true&NAME=b&VALUE=evil",
        "/$int/VarList.html?DELETE=a",
        "/$int/VarList.html?INT=true&COLUMN=2",
        "/$int/VarList.html?CHECK=false",
    };
    struct Sender {
        const char* name;
        HeaderList headers; // Host is 127.0.0.1:port
        bool refused;
    };
    const Sender senders[] = {
        {"a page of another site", {{"Sec-Fetch-Site", "cross-site"}}, true},
        {"another port of this host", {{"Sec-Fetch-Site", "same-site"}}, true},
        {"a form of another site", {{"Origin", "http://evil.example"}}, true},
        {"an opaque origin", {{"Origin", "null"}, {"Sec-Fetch-Site", "cross-site"}}, true},
        {"the server's own frame", {{"Sec-Fetch-Site", "same-origin"}}, false},
        {"a typed address", {{"Sec-Fetch-Site", "none"}}, false},
        {"a client without fetch metadata", {}, false},
    };
    for (const char* target : changes) {
        for (const Sender& sender : senders) {
            SCOPED_TRACE(std::string(target) + " from " + sender.name);
            PagesServer s;
            s.state.settings.staticSite = "index.htm";
            s.state.settings.maxLog = 100;
            ASSERT_EQ(s.state.tree.fromIndentedLines({"start.htm", "\tLogin"}), "");
            s.state.variables.add("b", "2");
            s.state.variables.add("a", "1");
            const std::string before = stateOf(s);
            const HttpResult result = httpGet(s.port(), target, sender.headers);
            if (sender.refused) {
                EXPECT_EQ(result.status, 403);
                EXPECT_EQ(result.body,
                          "<html><head><title>403 Forbidden</title></head><body><h1>403 "
                          "Forbidden</h1><p>This page changes the state of the server and "
                          "answers only the server's own pages or an address typed into the "
                          "browser, not a page of another site. Nothing was changed.</p></body>"
                          "</html>");
                EXPECT_EQ(stateOf(s), before);
                EXPECT_EQ(s.host.settingsNotes + s.host.treeNotes + s.host.variablesNotes, 0);
            } else {
                EXPECT_EQ(result.status, 200);
                EXPECT_NE(stateOf(s), before);
            }
        }
    }
}

TEST(CrossSiteRequests, ThisServersOwnOriginMayChangeTheState) {
    PagesServer s;
    const std::uint16_t port = s.port();
    const HttpResult own = httpRequest(port, "POST", "/$int/SetStartSite.html", "SITE=a.htm",
                                       {{"Content-Type", "application/x-www-form-urlencoded"},
                                        {"Origin", "http://127.0.0.1:" + std::to_string(port)}});
    EXPECT_EQ(own.status, 200);
    std::lock_guard lock(s.state.mutex);
    EXPECT_EQ(s.state.settings.staticSite, "a.htm");
}

TEST(BuiltInPages, CannotBeFramedByOtherSites) {
    PagesServer s;
    s.dir.write("static/page.htm", "<title>P</title>");
    s.dir.write("static/a.htm", "x");
    for (const char* target :
         {"/$int", "/$INT/", "/$int/SiteEdit.html?site=" /* not found */, "/$int/VarList.html",
          "/$int/VarList.html?INT=true", "/$int/FileList.html", "/$int/SiteLog.html",
          "/$int/styles.css", "/$int/blank.gif", "/$int/SetStartSite.html?SITE=a.htm",
          "/$int/SiteSave.html", "/$int/nothing.htm"}) {
        SCOPED_TRACE(target);
        const HttpResult result = httpGet(s.port(), target);
        EXPECT_NE(result.status, 0);
        EXPECT_EQ(result.header("X-Frame-Options"), "SAMEORIGIN");
        EXPECT_EQ(result.header("Content-Security-Policy"), "frame-ancestors 'self'");
    }
    // The site's own pages are the developer's: they may be framed as the application needs.
    const HttpResult page = httpGet(s.port(), "/page.htm");
    EXPECT_EQ(page.status, 200);
    EXPECT_EQ(page.header("X-Frame-Options"), std::nullopt);
}

// The pages the server builds with a form (the welcome page, the page that assigns a template to
// an event, the not-found page with its button) are framed no more than the built-in pages.
TEST(BuiltInPages, PagesWithAFormAreGuardedLikeThem) {
    PagesServer s;
    const auto guard = [](const HttpResult& result) {
        return result.header("X-Frame-Options").value_or("none") + " / " +
               result.header("Content-Security-Policy").value_or("none");
    };
    const std::string builtIn = guard(httpGet(s.port(), "/$int/VarList.html"));
    for (const char* target : {"/", "/app/?PELO_EVENT=Login", "/missing.htm"}) {
        const HttpResult result = httpGet(s.port(), target);
        EXPECT_NE(result.body.find("<FORM"), std::string::npos) << target;
        EXPECT_EQ(guard(result), builtIn) << target;
    }
}

TEST(SameServerRefresh, SetTemplateNeverLeadsToAnotherHost) {
    struct Case {
        std::string url; // sent percent-encoded
        std::string address;
    };
    const Case cases[] = {
        {"//evil.example/x", "/evil.example/x?PELO_EVENT=E"},
        {"/\\evil.example/x", "/evil.example/x?PELO_EVENT=E"},
        {"\\\\evil.example", "/evil.example?PELO_EVENT=E"},
        {"/\t/evil.example", "/evil.example?PELO_EVENT=E"}, // a browser drops the tab
        {"\n//evil.example", "/evil.example?PELO_EVENT=E"},
        {" //evil.example", "/evil.example?PELO_EVENT=E"},
        {"'//evil.example'", "/evil.example'?PELO_EVENT=E"}, // a refresh strips a leading quote
        {"\"//evil.example", "/evil.example?PELO_EVENT=E"},
        {"http://evil.example/x", "/?PELO_EVENT=E"},
        {"HTTPS:evil.example", "/?PELO_EVENT=E"},
        {"javascript:alert(1)", "/?PELO_EVENT=E"},
        {"java\tscript:alert(1)", "/?PELO_EVENT=E"},
        // Addresses on this server stay as they were.
        {"/shop/index.htm", "/shop/index.htm?PELO_EVENT=E"},
        {"/shop//index.htm", "/shop//index.htm?PELO_EVENT=E"},
        {"/a:b.htm", "/a:b.htm?PELO_EVENT=E"},
        {"shop/a.htm", "shop/a.htm?PELO_EVENT=E"},
        {"", "?PELO_EVENT=E"},
    };
    PagesServer s;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url);
        std::string encoded;
        for (const unsigned char byte : c.url) {
            static const char hex[] = "0123456789ABCDEF";
            encoded += {'%', hex[byte >> 4], hex[byte & 15]};
        }
        EXPECT_EQ(httpGet(s.port(), "/$int/SetTemplate.html?EVENT=E&URL=" + encoded).body,
                  refreshTo(c.address));
    }
}

TEST(SameServerRefresh, AStoredStartPageLeadsToThisServerOnly) {
    PagesServer s;
    for (const auto& [site, address] :
         {std::pair<std::string, std::string>{"%2Fevil.example%2F", "/evil.example/"},
          {"%5Cevil.example%2Fx", "/evil.example/x"},
          {"%2F%5C%2Fevil.example", "/evil.example"}}) {
        SCOPED_TRACE(site);
        EXPECT_EQ(httpGet(s.port(), "/$int/SetStartSite.html?SITE=" + site).body,
                  refreshTo(address));
        EXPECT_EQ(httpGet(s.port(), "/").body, refreshTo(address));
    }
}

} // namespace
} // namespace pelotest::test

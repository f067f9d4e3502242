// What a page reads from disk besides its own file: the language library and the pop-up offsets
// of the settings file are read once per page and anew for the next page, so an edit on disk
// shows at the next request without a restart.

#include "PopupPagesTestSupport.h"

#include "language/UiTexts.h"
#include "state/TextEdits.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace pelotest {
namespace {

using test::HttpResult;
using test::TempDir;
using test::popup::PageServer;

std::string libraryBytes(const std::string& name) {
    return TempDir::read(std::filesystem::path(PELOTEST_LANGUAGE_LIBRARIES) / name);
}

// The editor form of a path of the temporary folder (which UrlEncode keeps as it is).
std::string editorForm(const std::string& path) {
    std::string out;
    for (char c : path)
        out += c == '/' ? std::string("%3F") : std::string(1, c);
    return out;
}

// lang_full.dll puts "EN <id>: " before every German text; lang_only1.dll has only id 1.
TEST(LanguagePages, EachPageReadsTheLibraryOnceAndTheNextPageSeesAChange) {
    PageServer server;
    const std::string root = server.dir.path().string() + "/site";
    server.dir.write("site/index.htm", "<p>shop</p>");
    server.state.settings.staticPath = root;
    server.state.settings.virtualPath = "app";
    server.state.settings.dynamicPath = server.dir.path().string() + "/tmpl/";
    server.state.languageFolders = {server.dir.path() / "lang"};
    server.state.settings.languageDll = "lang.dll";
    server.start();

    struct Case {
        std::string target;
        std::string english; // a text of the page as lang_full.dll has it
        std::string german;  // the same text built in
        int status = 200;
    };
    const Case cases[] = {
        // The editor shows the seven texts of the file information line and six more.
        {"/$int/SiteEdit.html?site=" + editorForm(root + "/index.htm"),
         "EN 60: Ge&auml;ndert&nbsp;am&nbsp;", "Ge&auml;ndert&nbsp;am&nbsp;"},
        {"/$int", "EN 63: Dynamische Sites:", "Dynamische Sites:"},
        {"/$int/SiteLog.html", "EN 65: Aktualisieren", "Aktualisieren"},
        {"/$int/VarList.html?INT=true", "EN 8: Wert", "Wert"},
        {"/missing.htm", "EN 93: Datei nicht gefunden! - Error 404",
         "Datei nicht gefunden! - Error 404", 404},
        {"/app/list.htm?PELO_EVENT=Show", "EN 85: Dem Event <b>Show</b>", "Dem Event <b>Show</b>"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.target);
        server.dir.write("lang/lang.dll", libraryBytes("lang_only1.dll"));
        std::uint64_t before = languageLibraryReads();
        HttpResult page = server.get(c.target);
        EXPECT_EQ(page.status, c.status);
        EXPECT_EQ(languageLibraryReads() - before, 1u) << "one read for the whole page";
        EXPECT_NE(page.body.find(c.german), std::string::npos);
        EXPECT_EQ(page.body.find("EN "), std::string::npos);

        server.dir.write("lang/lang.dll", libraryBytes("lang_full.dll"));
        before = languageLibraryReads();
        page = server.get(c.target);
        EXPECT_EQ(languageLibraryReads() - before, 1u);
        EXPECT_NE(page.body.find(c.english), std::string::npos) << "the next page sees the change";
    }
    // The log rows of the not-found and the unassigned-event pages took their titles from the
    // same read as the page.
    const auto titles = server.withState([](const AppState& state) {
        std::vector<std::string> shown;
        for (const LogEntry& row : state.log.rows())
            shown.push_back(row.title);
        return shown;
    });
    ASSERT_EQ(titles.size(), 4u);
    EXPECT_EQ(titles[0], "EN 88: kein Template zugeordnet");
    EXPECT_EQ(titles[1], "kein Template zugeordnet");
    EXPECT_EQ(titles[2], "EN 93: Datei nicht gefunden! - Error 404");
    EXPECT_EQ(titles[3], "Datei nicht gefunden! - Error 404");
}

// A library's text that brings markup of its own never reaches a page: the not-found page takes
// the library's title (plain text) and the built-in message in place of one that adds a tag.
TEST(LanguagePages, ALibraryTextThatAddsMarkupLeavesTheBuiltInOneOnThePage) {
    PageServer server;
    server.dir.write("site/index.htm", "<p>shop</p>");
    server.state.settings.staticPath = server.dir.path().string() + "/site";
    server.state.settings.virtualPath = "app";
    server.state.languageFolders = {server.dir.path() / "lang"};
    server.state.settings.languageDll = "lang.dll";
    server.dir.write("lang/lang.dll", libraryBytes("lang_hostile.dll"));
    server.start();

    const HttpResult page = server.get("/missing.htm");
    EXPECT_EQ(page.status, 404);
    EXPECT_NE(page.body.find("Hostile: file not found - Error 404"), std::string::npos);
    EXPECT_NE(page.body.find(replaceAll(loadBuiltInUiText(UiText::NotFoundMessage), "%1",
                                        server.dir.path().string() + "/site/missing.htm")),
              std::string::npos)
        << page.body;
    EXPECT_EQ(page.body.find("onerror"), std::string::npos);
}

// Texts that stand in a script or a link: the control page's information link (a javascript:
// link, where "%27" is a quote to the browser) and the welcome page's link to the vendor (where a
// "javascript:" address would run) come out exactly as with the built-in language.
TEST(LanguagePages, ALibraryTextThatWouldRunScriptWhereItStandsIsNotUsed) {
    PageServer server;
    server.state.settings.dynamicPath = server.dir.path().string() + "/t/(Sub)";
    server.state.variables.add("Sub", "pl");
    server.state.languageFolders = {server.dir.path() / "lang"};
    server.dir.write("lang/lang.dll", libraryBytes("lang_hostile.dll"));
    server.start();
    for (const char* page : {"/$int", "/"}) {
        SCOPED_TRACE(page);
        server.withState([](AppState& state) { state.settings.languageDll.clear(); });
        const HttpResult builtIn = server.get(page);
        server.withState([](AppState& state) { state.settings.languageDll = "lang.dll"; });
        const HttpResult hostile = server.get(page);
        EXPECT_EQ(hostile.body, builtIn.body);
    }
    const std::string control = server.get("/$int").body;
    EXPECT_NE(
        control.find("JavaScript:alert('" + loadBuiltInUiText(UiText::DynamicPathNotice) + "');"),
        std::string::npos)
        << control;
    EXPECT_NE(server.get("/").body.find("<a href=\"" + loadBuiltInUiText(UiText::VendorAddress)),
              std::string::npos);
}

TEST(LanguagePages, PopupOffsetsFollowAHandEditOfTheSettingsFile) {
    PageServer server;
    server.start();
    for (const char* horizontal : {"20", "30"}) {
        server.dir.write("pelotest.ini",
                         std::string("[Const]\r\nSiteLogHorizontal=") + horizontal + "\r\n");
        const std::string page = server.get("/$int").body;
        const std::string left = std::to_string(std::stoi(horizontal) + 200);
        EXPECT_NE(page.find("String(screen.width - " + left + ")"), std::string::npos) << left;
    }
}

} // namespace
} // namespace pelotest

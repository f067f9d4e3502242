// The dispatch table, the request context and the choice among the ordinary answers.

#include "pages/Routes.h"
#include "server/OrdinaryRequest.h"
#include "server/RequestContext.h"

#include "ServerTestSupport.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

namespace pelotest {
namespace {

using test::TempDir;

struct RouteCase {
    const char* document;
    Route route;
    const char* name = "";
    MessageIcon icon = MessageIcon::Warning;
};

void expectRoutes(const std::vector<RouteCase>& cases, const std::string& staticRoot) {
    for (const auto& c : cases) {
        SCOPED_TRACE(c.document);
        const RouteChoice choice = chooseRoute(c.document, staticRoot);
        EXPECT_EQ(static_cast<int>(choice.route), static_cast<int>(c.route));
        EXPECT_EQ(choice.name, c.name);
        if (c.route == Route::MessageIcon) {
            EXPECT_EQ(static_cast<int>(choice.icon), static_cast<int>(c.icon));
        }
    }
}

TEST(Dispatch, OrderAndCaseRules) {
    const TempDir root; // holds no favicon.ico
    const std::vector<RouteCase> cases = {
        // Only the control page ignores case.
        {"/$int", Route::ControlPage},
        {"/$int/", Route::ControlPage},
        {"/$INT", Route::ControlPage},
        {"/$Int/", Route::ControlPage},
        {"/$int//", Route::Ordinary},
        {"/$int/index.html", Route::Ordinary},
        {"/$int/SetTemplate.html", Route::SetTemplate},
        {"/$int/settemplate.html", Route::Ordinary},
        {"/$int/SetStartSite.html", Route::SetStartSite},
        {"/$int/Img3.gif", Route::EmbeddedImage, "Img3.gif"},
        {"/$int/Img8.gif", Route::EmbeddedImage, "Img8.gif"},
        {"/$int/Img4.gif", Route::Ordinary},
        {"/$int/img3.gif", Route::Ordinary},
        {"/$INT/Img3.gif", Route::Ordinary},
        {"/$int/rel.gif", Route::EmbeddedImage, "rel.gif"},
        {"/$int/pelorin.gif", Route::EmbeddedImage, "pelorin.gif"},
        {"/$int/sub/rel.gif", Route::Ordinary},
        {"/rel.gif", Route::Ordinary},
        // Any path ending in favicon.ico, while the static root has none.
        {"/favicon.ico", Route::EmbeddedImage, "favicon.ico"},
        {"/sub/favicon.ico", Route::EmbeddedImage, "favicon.ico"},
        {"/$int/favicon.ico", Route::EmbeddedImage, "favicon.ico"},
        {"/myfavicon.ico", Route::EmbeddedImage, "favicon.ico"},
        {"/FAVICON.ICO", Route::Ordinary},
        {"/favicon.ico/", Route::Ordinary},
        {"/$int/styles.css", Route::StyleSheet},
        {"/$int/Styles.css", Route::Ordinary},
        {"/$int/warning.jpg", Route::MessageIcon, "warning.jpg", MessageIcon::Warning},
        {"/$int/error.jpg", Route::MessageIcon, "error.jpg", MessageIcon::Error},
        {"/$int/information.jpg", Route::MessageIcon, "information.jpg", MessageIcon::Information},
        {"/$int/Warning.jpg", Route::Ordinary},
        {"/$int/SiteLog.html", Route::SiteLog},
        {"/$int/VarList.html", Route::VarList},
        {"/$int/varlist.html", Route::Ordinary},
        {"/$INT/VarList.html", Route::Ordinary},
        {"/$int/FileList.html", Route::FileList},
        {"/$int/SiteEdit.html", Route::SiteEdit},
        {"/$int/SiteSave.html", Route::SiteSave},
        {"/$int/SiteSave.htm", Route::Ordinary},
        {"/index.htm", Route::Ordinary},
        {"/", Route::Ordinary},
    };
    expectRoutes(cases, root.path().string());
}

TEST(Dispatch, FaviconOfTheStaticRootIsAnOrdinaryRequest) {
    const TempDir root;
    root.write("favicon.ico", "icon");
    expectRoutes({{"/favicon.ico", Route::Ordinary},
                  // The test looks at the root's file, whatever folder the path names.
                  {"/sub/favicon.ico", Route::Ordinary},
                  {"/$int/rel.gif", Route::EmbeddedImage, "rel.gif"}},
                 root.path().string());
    // A folder of that name is no file.
    const TempDir other;
    std::filesystem::create_directory(other.path() / "favicon.ico");
    expectRoutes({{"/favicon.ico", Route::EmbeddedImage, "favicon.ico"}}, other.path().string());
}

struct ContextCase {
    const char* staticPath;
    const char* virtualPath;
    const char* dynamicPath;
    const char* document;
    RequestPaths expected;
};

TEST(RequestContext, BuildsThePathsFromTheSettings) {
    const std::vector<ContextCase> cases = {
        {"/srv/site/",
         "",
         "/tmpl/",
         "/index.htm",
         {"/srv/site", "/tmpl", "/srv/site/", "/srv/site/index.htm"}},
        {"/srv/site", "/app/", "/tmpl", "/", {"/srv/site", "/tmpl", "/srv/site/app", "/srv/site/"}},
        {"/srv/site", "app", "", "/sub/", {"/srv/site", "", "/srv/site/app", "/srv/site/sub/"}},
        // Settings written on Windows.
        {"C:\\sites\\",
         "\\app\\",
         "C:\\tmpl\\",
         "/app/kunde.htm",
         {"C:/sites", "C:/tmpl", "C:/sites/app", "C:/sites/app/kunde.htm"}},
        // Empty settings are used as they are.
        {"", "", "", "/a.htm", {"", "", "/", "/a.htm"}},
        // One separator is removed at each end, no more.
        {"/srv/site//",
         "//app//",
         "/t//",
         "/x",
         {"/srv/site/", "/t/", "/srv/site///app/", "/srv/site//x"}},
        // A document is joined as it is (a backslash in it counts as a separator).
        {"/s", "", "", "/a\\b.htm", {"/s", "", "/s/", "/s/a/b.htm"}},
        {"/s", "", "", "\\a.htm", {"/s", "", "/s/", "/s/a.htm"}},
        {"/s", "", "", "a.htm", {"/s", "", "/s/", "/s/a.htm"}},
        {"/s", "", "", "", {"/s", "", "/s/", "/s/"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.staticPath) + " | " + c.virtualPath + " | " + c.document);
        AppState state;
        state.settings.staticPath = c.staticPath;
        state.settings.virtualPath = c.virtualPath;
        state.settings.dynamicPath = c.dynamicPath;
        const RequestPaths paths = computeRequestPaths(state, c.document);
        EXPECT_EQ(paths.staticRoot, c.expected.staticRoot);
        EXPECT_EQ(paths.templateFolder, c.expected.templateFolder);
        EXPECT_EQ(paths.virtualRoot, c.expected.virtualRoot);
        EXPECT_EQ(paths.filePath, c.expected.filePath);
    }
}

TEST(RequestContext, ExpandsVariableReferencesInTheTemplateFolder) {
    struct Case {
        const char* dynamicPath;
        const char* expected;
    };
    const std::vector<Case> cases = {
        {"c:\\/(Test)", "c:/tmpl"},
        {"/t//(test)/x", "/t/tmpl/x"},       // names are found ignoring case
        {"/t//(Nope)/x", "/t//x"},           // unknown: expands to nothing
        {"//(Deep)/", "/ac"},                // a value's own references are removed
        {"//(Test)-/(Test)/", "/tmpl-tmpl"}, // every occurrence
        {"//(Test", "//(Test"},              // no closing marker
        {"/a)/(Test)", "/a)tmpl"},
        {"//(/(Test))", "/)"}, // the name runs to the first closing marker
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.dynamicPath);
        AppState state;
        state.settings.variablesAutoSort = false;
        test::addVariables(state, {{"Test", "tmpl"}, {"Deep", "a/(X)c"}});
        state.settings.dynamicPath = c.dynamicPath;
        EXPECT_EQ(computeRequestPaths(state, "/").templateFolder, c.expected);
        EXPECT_EQ(state.variables.size(), 2u); // no row is ever created here
        EXPECT_FALSE(state.variablesChanged);
    }
}

TEST(RequestContext, AValueChoosesAFolderBelowTheFixedTextButNeverLeavesIt) {
    // Any web page can set a variable through a parameter. A folder that a value moved out of
    // the fixed text before the first reference is no template folder at all ("").
    struct Case {
        std::string dynamicPath, value, expected;
    };
    const std::vector<Case> cases = {
        {"/srv//(proj)", "tmpl", "/srv/tmpl"},
        {"/srv//(proj)", "a/b", "/srv/a/b"},
        {"/srv//(proj)", "", "/srv"},
        {"/srv//(proj)", "..x/y..", "/srv/..x/y.."},   // dots inside names are names
        {"/srv/tmpl_/(proj)", "de", "/srv/tmpl_de"},   // the fixed folder is /srv/
        {"/srv/../web//(proj)", "t", "/srv/../web/t"}, // the user's own ".." stays
        {"/(proj)", "/etc", "/etc"},                   // no fixed text: any folder without ".."
        {"/srv//(proj)", "../../..", ""},
        {"/srv//(proj)", "..", ""},
        {"/srv//(proj)", "a/../b", ""}, // not resolved: a link could make it lead anywhere
        {"/srv//(proj)", "..\\..\\etc", ""},
        {"c:\\/(proj)", "..\\x", ""},
        {"/srv/./(proj)", ".", ""}, // forms ".." with the fixed text
        {"/(proj)", "/srv/../etc", ""},
        {"/srv//(proj)/../shared", "t", ""},
        {"/srv//(proj)", std::string("t\0/x", 4), ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.dynamicPath + " with " + c.value);
        AppState state;
        state.variables.add("proj", c.value);
        state.settings.dynamicPath = c.dynamicPath;
        EXPECT_EQ(computeRequestPaths(state, "/").templateFolder, c.expected);
    }
}

TEST(RequestContext, OtherMarkersFromTheSettings) {
    AppState state;
    state.settings.varBefore = "{{";
    state.settings.varAfter = "}}";
    state.settings.dynamicPath = "/x/{{Test}}//(Test)";
    test::addVariables(state, {{"Test", "t{{a}}"}});
    EXPECT_EQ(computeRequestPaths(state, "/").templateFolder, "/x/t//(Test)");
}

TEST(RequestContext, ExpansionMarksPlainRowsOnlyWithAutoSort) {
    for (const bool autoSort : {true, false}) {
        SCOPED_TRACE(autoSort);
        AppState state;
        state.settings.variablesAutoSort = autoSort;
        test::addVariables(state, {{"P", "p"}, {"A", "a"}, {"B", "b"}, {"T", "t"}});
        state.variables.markPassed(0);
        state.settings.dynamicPath = "/(T)";
        test::TestHost host;
        EXPECT_EQ(computeRequestPaths(state, &host, "/").templateFolder, "t");
        if (autoSort) {
            // One place below where a template's reference would put it.
            EXPECT_EQ(test::describeVariables(state.variables),
                      (std::vector<std::string>{"P=p|P", "A=a", "T=t|U", "B=b"}));
            EXPECT_TRUE(state.variablesChanged);
            EXPECT_EQ(host.calls().size(), 1u);
            // A row already marked stays where it is.
            state.variablesChanged = false;
            computeRequestPaths(state, &host, "/");
            EXPECT_FALSE(state.variablesChanged);
            EXPECT_EQ(host.calls().size(), 1u);
        } else {
            EXPECT_EQ(test::describeVariables(state.variables),
                      (std::vector<std::string>{"P=p|P", "A=a", "B=b", "T=t"}));
            EXPECT_FALSE(state.variablesChanged);
            EXPECT_TRUE(host.calls().empty());
        }
    }
}

TEST(OrdinaryRoute, FollowsFileVirtualFolderAndSiteRoot) {
    struct Case {
        const char* virtualPath;
        const char* document;
        bool isFile;
        OrdinaryRoute expected;
    };
    const std::vector<Case> cases = {
        {"", "/", false, OrdinaryRoute::Template}, // the root lies in an empty virtual folder
        {"app", "/", false, OrdinaryRoute::SiteRoot},
        {"", "/sub/", false, OrdinaryRoute::Template},
        {"app", "/sub/", false, OrdinaryRoute::NotFound},
        {"app", "/app/x.htm", false, OrdinaryRoute::Template},
        {"app", "/APP/x.htm", false, OrdinaryRoute::Template},
        {"app", "/apple.htm", false, OrdinaryRoute::Template}, // a plain prefix test
        {"app", "/ap", false, OrdinaryRoute::NotFound},
        {"app", "/x.htm", false, OrdinaryRoute::NotFound},
        {"app", "/x.htm", true, OrdinaryRoute::StaticFile},
        {"", "/x.htm", true, OrdinaryRoute::StaticFile},
        {"", "/x.htm", false, OrdinaryRoute::Template},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.virtualPath) + " " + c.document);
        AppState state;
        state.settings.staticPath = "/srv/site/";
        state.settings.virtualPath = c.virtualPath;
        const RequestPaths paths = computeRequestPaths(state, c.document);
        EXPECT_EQ(static_cast<int>(chooseOrdinaryRoute(paths, c.isFile)),
                  static_cast<int>(c.expected));
    }
}

} // namespace
} // namespace pelotest

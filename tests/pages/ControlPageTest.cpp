// The control page and the style sheet, compared whole over HTTP.

#include "ControlPageTestSupport.h"
#include "support/TestData.h"

#include <gtest/gtest.h>

#include <mutex>

namespace pelotest::test {
namespace {

// tests/data/pages/control.html with the parts that differ between the cases.
// sites: nullptr for no SITES list (a start page is set), else the options' markup. The folders
// are shown as HTML text; in the frames' addresses they are query values (the file list's own
// encoding, which leaves ordinary paths as they are).
std::string controlPage(const char* sites, const std::string& templateFolder, bool infoLink,
                        const std::string& staticPath, const std::string& templateLink = {},
                        const std::string& staticLink = {}) {
    return loadTestData(
        "pages/control.html",
        {{"START_LIST", sites ? "MyURL = MyURL + \"/\" + document.AUSWAHL.SITES.options["
                                "document.AUSWAHL.SITES.selectedIndex].value;\r"
                              : ""},
         {"SITES_SELECT", sites ? "<img src=\"/$int/blank.gif\" border=\"0\" alt=\"\" width=\"5\" "
                                  "height=\"1\"><SELECT NAME=\"SITES\">" +
                                      std::string(sites) + "</SELECT>"
                                : ""},
         {"TEMPLATE_FOLDER", templateFolder},
         {"INFO_LINK", infoLink ? loadTestData("pages/control-info-link.html") : ""},
         {"TEMPLATE_LINK", templateLink.empty() ? templateFolder : templateLink},
         {"STATIC_PATH", staticPath},
         {"STATIC_LINK", staticLink.empty() ? staticPath : staticLink}});
}

TEST(ControlPage, ListsTheStartPageChoicesWhenNoStartPageIsSet) {
    PagesServer s;
    // Regular files only (links followed, hidden ones included), by name ignoring case.
    s.dir.write("static/b.htm", "");
    s.dir.write("static/A.htm", "");
    s.dir.write("static/.hidden", "");
    s.dir.write("static/c d.txt", "");
    s.dir.write("static/sub/inner.htm", "");
    std::filesystem::create_symlink(s.dir.path() / "static/b.htm",
                                    s.dir.path() / "static/link.htm");
    std::filesystem::create_symlink(s.dir.path() / "static/sub", s.dir.path() / "static/dirlink");

    const HttpResult result = httpGet(s.port(), "/$int");
    EXPECT_EQ(result.status, 200);
    EXPECT_EQ(result.header("Content-Type"), "text/html");
    const std::string sites = "<OPTION VALUE=\".hidden\">.hidden</OPTION>"
                              "<OPTION VALUE=\"A.htm\">A.htm</OPTION>"
                              "<OPTION VALUE=\"b.htm\">b.htm</OPTION>"
                              "<OPTION VALUE=\"c d.txt\">c d.txt</OPTION>"
                              "<OPTION VALUE=\"link.htm\">link.htm</OPTION>";
    EXPECT_EQ(result.body,
              controlPage(sites.c_str(), s.templateFolder(), false, s.staticFolder() + "/"));
}

TEST(ControlPage, HasNoListWithAStartPageAndAnEmptyListWithoutChoices) {
    PagesServer s;
    s.dir.write("static/index.htm", "");
    s.state.settings.staticSite = "index.htm";
    EXPECT_EQ(httpGet(s.port(), "/$int/").body,
              controlPage(nullptr, s.templateFolder(), false, s.staticFolder() + "/"));

    {
        std::lock_guard lock(s.state.mutex);
        s.state.settings.staticSite.clear();
        std::filesystem::remove(s.dir.path() / "static/index.htm");
    }
    EXPECT_EQ(httpGet(s.port(), "/$int/").body,
              controlPage("", s.templateFolder(), false, s.staticFolder() + "/"));
}

TEST(ControlPage, AnswersTheControlPathInAnyLetterCase) {
    PagesServer s;
    const std::string page = httpGet(s.port(), "/$int").body;
    for (const char* path : {"/$INT", "/$Int/", "/$iNT/"}) {
        const HttpResult result = httpGet(s.port(), path);
        EXPECT_EQ(result.status, 200) << path;
        EXPECT_EQ(result.body, page) << path;
    }
}

TEST(ControlPage, ShowsTheInformationLinkWhenTheShownFolderDiffersFromTheSetting) {
    struct Case {
        std::string dynamicPath; // below the temporary folder
        std::string shown;       // the TemplateFolder shown, below the temporary folder
        bool infoLink;
    };
    const Case cases[] = {
        {"/tpl/", "/tpl", false},    // only the trailing separator went
        {"/tpl", "/tpl", false},     // unchanged
        {"/TPL/", "/TPL", false},    // letter case does not count
        {"\\tpl\\", "/tpl", true},   // separators turned round
        {"/t/(Sub)/", "/tpl", true}, // a variable was substituted
        {"/tpl//", "/tpl/", false},  // the setting without its last character
    };
    for (const Case& c : cases) {
        PagesServer s;
        s.state.settings.dynamicPath = s.dir.path().string() + c.dynamicPath;
        s.state.variables.add("Sub", "pl");
        const std::string shown = s.dir.path().string() + c.shown;
        EXPECT_EQ(httpGet(s.port(), "/$int").body,
                  controlPage("", shown, c.infoLink, s.staticFolder() + "/"))
            << c.dynamicPath;
    }
}

TEST(ControlPage, EscapesReflectedPathsAndFileNames) {
    PagesServer s;
    s.dir.write("static/a&b\"<x>.htm", "");
    {
        // A variable's value (which any request can set) reaches the shown templates folder.
        s.state.settings.dynamicPath = s.dir.path().string() + "/(Dir)";
        s.state.variables.add("Dir", "<script>&");
    }
    // The temporary folder's name holds letters, digits, '/', '-' and '_' only.
    ASSERT_EQ(s.dir.path().string().find_first_not_of(
                  "/-_.abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789"),
              std::string::npos);
    const std::string shown = s.dir.path().string() + "&lt;script&gt;&amp;";
    const std::string link = s.dir.path().string() + "&lt;script&gt;%26";
    const std::string sites = "<OPTION VALUE=\"a&amp;b&quot;&lt;x&gt;.htm\">a&amp;b&quot;&lt;x&gt;"
                              ".htm</OPTION>";
    EXPECT_EQ(httpGet(s.port(), "/$int").body,
              controlPage(sites.c_str(), shown, true, s.staticFolder() + "/", link));
}

// A folder frame's address carries the folder as a query value: '%', '&', '+' and '#' are
// percent-encoded (otherwise "a+b" opens "a b", "a&b" opens "a", "a#b" opens "a"), HTML special
// characters are escaped for the attribute, and every other byte stays as it is. Following the
// address opens the folder itself.
TEST(ControlPage, FolderFramesOpenFoldersWhoseNamesBreakAQuery) {
    struct Case {
        std::string folder, inLink;
    };
    const Case cases[] = {
        {"plain-folder_1.x", "plain-folder_1.x"},
        {"a+b", "a%2Bb"},
        {"a&b", "a%26b"},
        {"a#b", "a%23b"},
        {"100%", "100%25"},
        {"%41", "%2541"},
        {"x y", "x y"},
        {"\xE4\"<q>'", "\xE4&quot;&lt;q&gt;'"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.folder);
        PagesServer s;
        s.dir.write("folders/" + c.folder + "/inside.htm", "");
        const std::string root = s.dir.path().string() + "/folders/";
        s.state.settings.staticPath = root + c.folder + "/";
        const std::string page = httpGet(s.port(), "/$int").body;
        const std::string src = "/$int/FileList.html?PATH=" + root + c.inLink + "/&TYPE=1\"";
        ASSERT_NE(page.find("<iframe src=\"" + src), std::string::npos) << page;

        // What the browser requests for that frame: the attribute unescaped, blanks encoded.
        std::string target = src.substr(0, src.size() - 1);
        for (const auto& [entity, byte] : {std::pair<std::string, std::string>{"&quot;", "\""},
                                           {"&lt;", "<"},
                                           {"&gt;", ">"},
                                           {" ", "%20"},
                                           {"\"", "%22"},
                                           {"<", "%3C"},
                                           {">", "%3E"}}) {
            for (std::size_t at = target.find(entity); at != std::string::npos;
                 at = target.find(entity, at + byte.size()))
                target.replace(at, entity.size(), byte);
        }
        const HttpResult list = httpGet(s.port(), target);
        EXPECT_EQ(list.status, 200);
        EXPECT_NE(list.body.find("inside.htm"), std::string::npos) << target;
    }
}

TEST(StyleSheet, IsBuiltFromTheColourRoles) {
    PagesServer s;
    const std::string expected = loadTestData("pages/styles.css");

    const HttpResult result = httpGet(s.port(), "/$int/styles.css");
    EXPECT_EQ(result.status, 200);
    EXPECT_EQ(result.header("Content-Type"), "text/css");
    EXPECT_EQ(result.body, expected);

    // Only the exact path is the style sheet; others go on to the ordinary request handling.
    for (const char* path : {"/$int/STYLES.CSS", "/$INT/styles.css", "/$int/styles.css/"}) {
        const HttpResult other = httpGet(s.port(), path);
        EXPECT_NE(other.header("Content-Type"), "text/css") << path;
        EXPECT_NE(other.body, expected) << path;
    }
}

} // namespace
} // namespace pelotest::test

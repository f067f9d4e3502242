// The control page and the style sheet, compared whole over HTTP.

#include "ControlPageTestSupport.h"

#include <gtest/gtest.h>

#include <mutex>

namespace pelotest::test {
namespace {

// The page's pieces as the page is documented, built here independently of the page's code.
const std::string kHead =
    "<html>\r<head>\r<LINK REL=\"StyleSheet\" HREF=\"/$int/styles.css\" "
    "type=\"text/css\">\r<title>Testumgebung f\xFCr Pelorin-Templates</title>\r";
// With the default pop-up offsets (10 and 58).
const std::string kPopSiteList =
    "<script language=\"javascript\">function PopSiteList(){var PLSiteLog = "
    "window.open(\"/$int/SiteLog.html\",\"PLSiteLog\",\"width=200,height=268,left=\"+String("
    "screen.width - 210)+\",top=\"+String(screen.height - "
    "326)+\",menubar=no,status=no,resizable=no\");\rPLSiteLog.focus();}</script>";
const std::string kVarList =
    "<script language=\"javascript\">\rfunction PopVarList()\r{\rvar PLVarList = "
    "window.open(\"/$int/VarList.html\",\"PLVarList\",\"width=350,height=320,left=\"+String("
    "screen.width - 360)+\",top=\"+String(screen.height - 320 - "
    "384)+\",menubar=no,status=no,resizable=yes\");\rPLVarList.focus();\r}\r</script>\r";

std::string goStart(bool withList) {
    return std::string("<script language=\"JavaScript\">\rfunction GoStart()\r{\r"
                       "var MyURL = document.URL.toLowerCase();\r"
                       "MyURL = MyURL.substr(0,MyURL.indexOf(\"/$int\"));\r") +
           (withList ? "MyURL = MyURL + \"/\" + "
                       "document.AUSWAHL.SITES.options[document.AUSWAHL.SITES.selectedIndex]."
                       "value;\r"
                     : "") +
           "window.open(MyURL,\"_self\");\r}\r</script>\r";
}

std::string blank(int w, int h) {
    return "<img src=\"/$int/blank.gif\" border=\"0\" alt=\"\" width=\"" + std::to_string(w) +
           "\" height=\"" + std::to_string(h) + "\">";
}

std::string btn(const std::string& caption, const std::string& click, const std::string& image) {
    return "<INPUT CLASS=\"btn\" TYPE=\"BUTTON\" VALUE=\" " + caption + "\" onClick=\"" + click +
           "\" style=\"background-image:url(/$int/" + image +
           ");background-repeat:no-repeat;width:80pt;\">";
}

const std::string kSeparator = " <tr height=\"2\">\r  <td>" + blank(1, 2) +
                               "</td>\r </tr>\r <tr bgcolor=\"#808182\" height=\"1\">\r  <td>" +
                               blank(1, 1) +
                               "</td>\r </tr>\r <tr bgcolor=\"#FEFDFC\" height=\"1\">\r  <td>" +
                               blank(1, 1) + "</td>\r </tr>\r";

std::string frame(const std::string& path, int type) {
    return " <tr>\r  <td height=\"50%\"><iframe src=\"/$int/FileList.html?PATH=" + path +
           "&TYPE=" + std::to_string(type) +
           "\" width=\"100%\" height=\"100%\" frameborder=\"0\" marginheight=\"0\" "
           "marginwidth=\"0\" topmargin=\"0\" leftmargin=\"0\" scrolling=\"yes\" "
           "name=\"VARLIST\"></iframe></td>\r </tr>\r";
}

const std::string kInfoLink =
    "&nbsp;<a href=\"JavaScript:alert('Der angezeigte Pfad ist nicht statisch, da er eine "
    "Variable enth\xE4llt.\\n\\nWenn die entspr. Variable ge\xE4ndert wurde, wird der Pfad (nach "
    "einem Reload dieser Seite) angepasst.');\"><img src=\"/$int/info.gif\" width=\"11\" "
    "height=\"11\" border=\"0\" alt=\"Info\"></a>";

// HTML escaping of a reflected value: "&" first, then the quote and the angle brackets.
std::string htmlEscapeForTest(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

// sites: nullptr for no SITES list (a start page is set), else the options' markup.
std::string controlPage(const char* sites, const std::string& templateFolder, bool infoLink,
                        const std::string& staticPath) {
    std::string page = kHead + kPopSiteList + kVarList + goStart(sites != nullptr) +
                       "</head>\r<body bgcolor=\"#D4D0C8\" text=\"#010203\" marginheight=\"2\" "
                       "marginwidth=\"2\" topmargin=\"2\" leftmargin=\"2\">\r";
    page += "<FORM NAME=\"AUSWAHL\"><table border=\"0\" cellspacing=\"0\" cellpadding=\"0\" "
            "width=\"100%\" height=\"100%\">\r <tr height=\"16\">\r  <td>";
    page += btn("Log", "PopSiteList();", "log.gif") + blank(1, 1) +
            btn("Variablen", "PopVarList();", "Img5.gif") + blank(1, 1);
    if (sites)
        page += blank(5, 1) + "<SELECT NAME=\"SITES\">" + sites + "</SELECT>";
    page += btn("Start", "GoStart();", "run.gif") + "</td>\r </tr>\r";
    page += kSeparator + " <tr>\r  <td><b>Dynamische Sites:</b> " + templateFolder +
            (infoLink ? kInfoLink : "") + "</td>\r </tr>\r" + frame(templateFolder, 0);
    page += kSeparator + " <tr>\r  <td><b>Statische Sites:</b> <span id=\"path\">" + staticPath +
            "</span></td>\r </tr>\r" + frame(staticPath, 1);
    page += "</table></FORM>\r</body>\r</html>";
    return page;
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
    s.state.settings.StaticSite = "index.htm";
    EXPECT_EQ(httpGet(s.port(), "/$int/").body,
              controlPage(nullptr, s.templateFolder(), false, s.staticFolder() + "/"));

    {
        std::lock_guard lock(s.state.mutex);
        s.state.settings.StaticSite.clear();
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
        s.state.settings.DynamicPath = s.dir.path().string() + c.dynamicPath;
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
        s.state.settings.DynamicPath = s.dir.path().string() + "/(Dir)";
        s.state.variables.add("Dir", "<script>&");
    }
    const std::string shown = htmlEscapeForTest(s.dir.path().string() + "<script>&");
    const std::string sites = "<OPTION VALUE=\"a&amp;b&quot;&lt;x&gt;.htm\">a&amp;b&quot;&lt;x&gt;"
                              ".htm</OPTION>";
    EXPECT_EQ(httpGet(s.port(), "/$int").body,
              controlPage(sites.c_str(), shown, true, s.staticFolder() + "/"));
}

TEST(StyleSheet, IsBuiltFromTheColourRoles) {
    PagesServer s;
    const std::string font = "  font-family : Verdana, Geneva, Arial, Helvetica, sans-serif;\r";
    const std::string scrollbars =
        "  scrollbar-base-color : #FEFDFC;\r  scrollbar-3dlight-color : #FEFDFC;\r"
        "  scrollbar-arrow-color : #808182;\r  scrollbar-darkshadow-color : #FEFDFC;\r"
        "  scrollbar-face-color : #D4D0C8;\r  scrollbar-highlight-color : #808182;\r"
        "  scrollbar-shadow-color : #808182;\r  scrollbar-track-color : #FEFDFC;";
    const std::string expected =
        "body {\r  width : 100%;\r  height : 100%;\r" + font +
        "  font-size : 9pt;\r  text-decoration : none;\r  color : #010203;\r" + scrollbars +
        "\r  overflow : auto;\r  border-style : none;}\r"
        "input, select, iframe {\r" +
        font +
        "  font-size : 9pt;\r  text-decoration : none;\r  color : #010203;\r"
        "  background-color : #F0F1F2;\r  border : 1px solid #808182;}\r"
        "input.checkbox {\r" +
        font +
        "  font-size : 9pt;\r  text-decoration : none;\r  color : #0A0B0C;\r"
        "  background-color : #D4D0C8;\r  border-style : none;}\r"
        "input.btn {\r" +
        font +
        "  font-size : 9pt;\r  text-decoration : none;\r  color : #0A0B0C;\r"
        "  background-color : #D4D0C8;\r  border-left : 1px solid #FEFDFC;\r"
        "  border-right : 1px solid #808182;\r  border-top : 1px solid #FEFDFC;\r"
        "  border-bottom : 1px solid #808182;}\r"
        "textarea {\r  font-family : Courier;\r  font-size : 9pt;\r  text-decoration : none;\r"
        "  color : #010203;\r  background-color : #F0F1F2;\r  border:1px solid #808182;\r" +
        scrollbars +
        "}\r"
        "td, option, a.file, a.checkbox {\r" +
        font +
        "  font-size : 9pt;\r  text-decoration : none;\r  color : #010203;}\r"
        "a.control {\r" +
        font +
        "  font-size : 9pt;\r  text-decoration : underline;\r  color : #010203;}\r"
        "span.note, td.note {\r" +
        font +
        "  font-size : 8pt;\r  text-decoration : none;\r  color : #808182;}\r"
        "a.file:hover {\r" +
        font +
        "  font-size : 9pt;\r  text-decoration : none;\r  color : #010203;\r"
        "  font-weight : bold;}";

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

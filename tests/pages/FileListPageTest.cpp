// "/$int/FileList.html" compared whole: entries in listing order with running numbers that count
// every entry, only editable files, folders with SetPath, the ".." entry and its conditions.

#include "PopupPagesTestSupport.h"
#include "server/HttpServer.h"

#include <cctype>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace pelotest::test::popup {
namespace {

namespace fs = std::filesystem;

std::string expectedPage(const std::string& root, const std::string& rows) {
    return loadTestData("pages/file-list.html", {{"ROOT", root}, {"ROWS", rows}});
}

// site is the editor form of the file's path.
std::string fileRow(const std::string& site, int number, const std::string& name, bool isTemplate) {
    return " <tr>\r  <td><a class=file href=\"JavaScript:EditSite('" + site + "','" +
           std::to_string(number) + "');\"><img src=\"/$int/" +
           (isTemplate ? "Img3.gif" : "Img8.gif") + "\" border=\"0\" alt=\"\" width=\"16\" " +
           "height=\"16\">&nbsp;" + name + "</a></td>\r </tr>\r";
}

std::string folderRow(const std::string& href, const std::string& script, const std::string& type,
                      const std::string& image, const std::string& text) {
    return " <tr>\r  <td><a class=file href=\"/$int/FileList.html?PATH=" + href + "&TYPE=" + type +
           "\" onClick=\"SetPath('" + script + "');\"><img src=\"/$int/" + image +
           "\" border=\"0\" alt=\"\" width=\"16\" height=\"16\">&nbsp;" + text +
           "</a></td>\r </tr>\r";
}

struct Tree {
    PageServer server;
    std::string root; // the static root
    Tree() {
        root = server.dir.path().string() + "/site";
        server.dir.write("site/a.htm", "a");
        server.dir.write("site/b.gif", "b");
        server.dir.write("site/c.CSS", "c");
        server.dir.write("site/.hidden.js", "h");
        server.dir.write("site/Z.HTML", "z");
        server.dir.write("site/img/x.htm", "x");
        server.dir.write("site/shop/Index.html", "i");
        server.dir.write("site/shop/sub/k.js", "k");
        fs::create_directory(server.dir.path() / "site/d.htm"); // a folder named like a page
        server.dir.write("tmpl/t.htm", "t");
    }
};

TEST(FileListPage, ListsFoldersAndEditableFilesWithRunningNumbers) {
    Tree t;
    t.server.state.settings.staticPath = t.root + "/";
    t.server.start();
    const std::string& r = t.root;
    // ".", "..", ".hidden.js", "a.htm", "b.gif", "c.CSS", "d.htm", "img", "shop", "Z.HTML"
    const std::string rows = fileRow(site(r + "/.hidden.js"), 2, ".hidden.js", false) +
                             fileRow(site(r + "/a.htm"), 3, "a.htm", false) +
                             fileRow(site(r + "/c.CSS"), 5, "c.CSS", false) +
                             folderRow(r + "/d.htm", r + "/d.htm", "1", "folder.gif", "d.htm") +
                             folderRow(r + "/img", r + "/img", "1", "folder.gif", "img") +
                             folderRow(r + "/shop", r + "/shop", "1", "folder.gif", "shop") +
                             fileRow(site(r + "/Z.HTML"), 9, "Z.HTML", false);
    EXPECT_TRUE(
        getMatches(t.server, "/$int/FileList.html?PATH=" + r + "&TYPE=1", expectedPage(r, rows)));
    // A trailing separator is removed; the root itself has no ".." either way.
    EXPECT_TRUE(
        getMatches(t.server, "/$int/FileList.html?PATH=" + r + "/&TYPE=1", expectedPage(r, rows)));
}

// A folder of more entries than the list shows: the first ones in listing order, then a line
// that counts the rest.
TEST(FileListPage, ListsABoundedNumberOfEntriesAndCountsTheRest) {
    PageServer server;
    const std::string root = server.dir.path().string() + "/site";
    fs::create_directories(root);
    const std::size_t listed = PageLimits::fileListEntries;
    for (std::size_t i = 0; i < listed; ++i) // with a.htm one too many: the last is left out
        std::ofstream(root + "/f" + std::to_string(100000 + i) + ".txt");
    server.dir.write("site/a.htm", "a"); // first in order, listed
    server.state.settings.staticPath = root + "/";
    server.start();
    const HttpResult result = server.get("/$int/FileList.html?PATH=" + root + "&TYPE=1");
    EXPECT_NE(result.body.find(fileRow(site(root + "/a.htm"), 2, "a.htm", false) +
                               " <tr>\r  <td>&hellip; (+1)</td>\r </tr>\r</table>"),
              std::string::npos);
}

std::string upper(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

struct ParentCase {
    const char* title;
    std::string staticPath, dynamicPath, path, type;
    bool parentShown;
    std::string parent;
};

TEST(FileListPage, OffersTheParentOnlyBelowARoot) {
    Tree t;
    const std::string r = t.root;
    const std::string tmpl = t.server.dir.path().string() + "/tmpl";
    const std::vector<ParentCase> cases = {
        {"below the static root", r + "/", tmpl, r + "/shop", "1", true, r + "/"},
        {"two levels down, path with trailing separator", r, tmpl, r + "/shop/sub/", "1", true,
         r + "/shop/"},
        {"the template folder itself", r, tmpl, tmpl, "0", false, ""},
        {"the template folder with a separator", r, tmpl + "/", tmpl + "/", "0", false, ""},
        {"root in other letter case", upper(r), tmpl, r + "/shop", "1", true, r + "/"},
        {"root itself in other letter case", upper(r), tmpl, r, "1", false, ""},
        {"outside both roots", r + "/shop", tmpl, r + "/img", "1", false, ""},
        {"empty static root: every path is below it", "", tmpl, r + "/img", "1", true, r + "/"},
    };
    for (const ParentCase& c : cases) {
        SCOPED_TRACE(c.title);
        PageServer& server = t.server;
        server.withState([&](AppState& s) {
            s.settings.staticPath = c.staticPath;
            s.settings.dynamicPath = c.dynamicPath;
        });
        if (!server.server)
            server.start();
        const HttpResult result =
            server.get("/$int/FileList.html?PATH=" + c.path + "&TYPE=" + c.type);
        const std::string row = folderRow(c.parent, c.parent, c.type, "back.gif", "..");
        EXPECT_EQ(result.body.find("back.gif") != std::string::npos, c.parentShown);
        if (c.parentShown) {
            EXPECT_NE(result.body.find(row), std::string::npos) << result.body;
        }
    }
}

TEST(FileListPage, TypeChoosesTheImageAndIsPassedOn) {
    Tree t;
    t.server.state.settings.staticPath = t.root;
    t.server.start();
    const std::string shop = t.root + "/shop";
    const std::string parent = t.root + "/";
    EXPECT_TRUE(getMatches(
        t.server, "/$int/FileList.html?PATH=" + shop + "&TYPE=0",
        expectedPage(t.root,
                     folderRow(parent, parent, "0", "back.gif", "..") +
                         fileRow(site(shop + "/Index.html"), 2, "Index.html", true) +
                         folderRow(shop + "/sub", shop + "/sub", "0", "folder.gif", "sub"))));
    // Any other TYPE is a static page; it travels escaped so that it cannot end the attribute.
    const HttpResult odd =
        t.server.get("/$int/FileList.html?PATH=" + shop + "&TYPE=%22%3E%3Cscript%3Ex%26y");
    EXPECT_NE(odd.body.find("Img8.gif"), std::string::npos);
    EXPECT_NE(odd.body.find("&TYPE=&quot;&gt;&lt;script&gt;x%26y\""), std::string::npos);
    EXPECT_EQ(odd.body.find("<script>x"), std::string::npos);
}

TEST(FileListPage, MissingOrUnreadableFolderGivesAnEmptyTable) {
    Tree t;
    t.server.state.settings.staticPath = t.root;
    t.server.start();
    for (const std::string& path : {t.root + "/nothing", t.root + "/a.htm"}) {
        SCOPED_TRACE(path);
        EXPECT_TRUE(
            getMatches(t.server, "/$int/FileList.html?PATH=" + path, expectedPage(t.root, "")));
    }
}

TEST(FileListPage, NamesThatNeedEscapingStillLeadToTheirFolder) {
    Tree t;
    const std::string odd = t.root + "/odd";
    t.server.dir.write("site/odd/a&b #1+2 'q\"/x.htm", "x");
    t.server.dir.write("site/odd/<i>.htm", "x");
    t.server.state.settings.staticPath = "/elsewhere";
    t.server.start();
    const std::string body = t.server.get("/$int/FileList.html?PATH=" + odd + "&TYPE=1").body;
    EXPECT_NE(body.find("var root=\"/elsewhere\";"), std::string::npos);
    EXPECT_NE(body.find(folderRow(odd + "/a%26b %231%2B2 'q&quot;",
                                  odd + "/a&amp;amp;b #1+2 \\'q&amp;quot;", "1", "folder.gif",
                                  "a&amp;b #1+2 'q&quot;")),
              std::string::npos)
        << body;
    EXPECT_NE(body.find(fileRow(site(odd) + "%3F%3Ci%3E.htm", 2, "&lt;i&gt;.htm", false)),
              std::string::npos)
        << body;
}

TEST(FileListPage, FolderNamesReachTheHeadingAsText) {
    // SetPath writes its argument and the root into the control page's heading as markup: both
    // arrive there HTML-escaped, so a folder named like a tag is shown, not run.
    Tree t;
    const std::string odd = t.root + "/odd";
    t.server.dir.write("site/odd/<img src=x onerror=alert(1)>/x.htm", "x");
    t.server.state.settings.staticPath = t.root + "/<b>";
    t.server.start();
    const std::string body = t.server.get("/$int/FileList.html?PATH=" + odd + "&TYPE=1").body;
    EXPECT_NE(body.find("var root=\"" + t.root + "/&lt;b&gt;\";"), std::string::npos) << body;
    EXPECT_NE(
        body.find("onClick=\"SetPath('" + odd + "/&amp;lt;img src=x onerror=alert(1)&amp;gt;');\""),
        std::string::npos)
        << body;
}

} // namespace
} // namespace pelotest::test::popup

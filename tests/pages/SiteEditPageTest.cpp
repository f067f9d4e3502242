// The remote editor: SiteEdit.html and SiteSave.html compared whole, the twice-decoded path, the
// confinement to the static and template folders, the origin check and the atomic save.

#include "PopupPagesTestSupport.h"
#include "server/HttpServer.h"

#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <set>
#include <string>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>
#include <vector>

namespace pelotest::test::popup {
namespace {

namespace fs = std::filesystem;

// FileInfoText of a file whose time and size are known.
std::string fileInfo(std::time_t modified, std::uintmax_t size) {
    std::tm t{};
    localtime_r(&modified, &t);
    char date[64];
    std::snprintf(date, sizeof date, "%02d.%02d.%04d&nbsp;%02d:%02d:%02d", t.tm_mday, t.tm_mon + 1,
                  t.tm_year + 1900, t.tm_hour, t.tm_min, t.tm_sec);
    return "Ge&auml;ndert&nbsp;am&nbsp;" + std::string(date) +
           "Uhr &minus;&nbsp;Gr&ouml;sse:&nbsp;" + std::to_string(size) + "&nbsp;Byte";
}

constexpr std::time_t kModified = 1796570356; // 6 December 2026, afternoon

void setModified(const fs::path& file) {
    const utimbuf times{kModified, kModified};
    ASSERT_EQ(::utime(file.c_str(), &times), 0);
}

std::string expectedEditor(const std::string& path, const char* kind, const std::string& info,
                           const std::string& textArea) {
    return loadTestData("pages/site-edit.html",
                        {{"PATH", path}, {"KIND", kind}, {"INFO", info}, {"TEXT", textArea}});
}

std::string messagePage(const std::string& headExtra, const std::string& title, const char* icon,
                        const std::string& text, const std::string& button) {
    return loadTestData("pages/message.html", {{"HEAD_EXTRA", headExtra},
                                               {"TITLE", title},
                                               {"ICON", icon},
                                               {"TEXT", text},
                                               {"BUTTON", button}});
}

const std::string kBackButton =
    "<INPUT CLASS=\"btn\" TYPE=\"BUTTON\" VALUE=\" Zur\xFC"
    "ck\" onClick=\"history.back();\" "
    "style=\"background-image:url(/$int/back.gif);background-repeat:no-repeat;width:80pt;\">";

std::string expectedNotFound(const std::string& shownPath) {
    return messagePage("", "Fehler!", "error.jpg",
                       "Die Datei <b>" + shownPath + "</b> wurde nicht gefunden!", kBackButton);
}

std::string expectedConfirmation(const std::string& name, const std::string& path) {
    return loadTestData("pages/saved.html", {{"NAME", name}, {"PATH", path}});
}

// A static folder "site" and a template folder "tmpl", with a folder "other" outside both.
struct Editor {
    PageServer server;
    std::string root, tmpl, other;
    Editor() {
        root = server.dir.path().string() + "/site";
        tmpl = server.dir.path().string() + "/tmpl";
        other = server.dir.path().string() + "/other";
        server.dir.write("site/shop/index.htm", "<p>\nshop</p>");
        server.dir.write("tmpl/liste.htm", "a\r\nb\rc\n");
        server.dir.write("other/secret.htm", "secret");
        server.state.settings.staticPath = root;
        server.state.settings.dynamicPath = tmpl + "/";
    }
    HttpResult save(const std::string& file, const std::string& text, HeaderList headers = {},
                    bool withOrigin = true) {
        if (withOrigin)
            headers.emplace_back("Origin", server.origin());
        return server.post("/$int/SiteSave.html",
                           "FILE=" + formEncode(file) + "&SITE=" + formEncode(text), headers);
    }
};

TEST(SiteEditPage, ShowsTheFileAsCrLfLinesWithTheTitleOfItsFolder) {
    Editor e;
    const std::string page = e.root + "/shop/index.htm";
    const std::string templ = e.tmpl + "/liste.htm";
    setModified(page);
    setModified(templ);
    e.server.start();
    EXPECT_TRUE(getMatches(e.server, "/$int/SiteEdit.html?site=" + site(page) + "&Reload=NaN",
                           expectedEditor(page, "Seite bearbeiten", fileInfo(kModified, 12),
                                          "&lt;p&gt;\r\nshop&lt;/p&gt;\r\n")));
    EXPECT_TRUE(getMatches(
        e.server, "/$int/SiteEdit.html?site=" + site(templ),
        expectedEditor(templ, "Template bearbeiten", fileInfo(kModified, 7), "a\r\nb\r\nc\r\n")));
    // The first "site" parameter counts.
    const HttpResult first =
        e.server.get("/$int/SiteEdit.html?site=" + site(page) + "&site=" + site(templ));
    EXPECT_NE(first.body.find("<title>" + page + " - Seite bearbeiten</title>"), std::string::npos);
}

TEST(SiteEditPage, TextAreaKeepsMarkupAndALeadingEmptyLine) {
    Editor e;
    e.server.dir.write("site/t.htm", "\n<TEXTAREA>x</TEXTAREA>&lt;\n");
    e.server.start();
    const HttpResult result = e.server.get("/$int/SiteEdit.html?site=" + site(e.root + "/t.htm"));
    // One extra line break after the start tag, which the browser drops, keeps the empty line.
    EXPECT_NE(result.body.find("style=\"width:100%;height:100%;\">\r\n\r\n&lt;TEXTAREA&gt;x&lt;/"
                               "TEXTAREA&gt;&amp;lt;\r\n</TEXTAREA>"),
              std::string::npos)
        << result.body;
}

// A file larger than the editor takes is not read: its page says so instead.
TEST(SiteEditPage, RefusesAFileLargerThanItsLimitWithAPageThatSaysSo) {
    Editor e;
    const std::string large = e.root + "/large.htm";
    e.server.dir.write("site/large.htm", "");
    fs::resize_file(large, PageLimits::editorFileBytes + 1);
    e.server.start();
    const HttpResult result = e.server.get("/$int/SiteEdit.html?site=" + site(large));
    EXPECT_EQ(result.status, 200);
    EXPECT_LT(result.body.size(), 4096u);
    EXPECT_NE(result.body.find("Fehler! <b>" + large +
                               "</b><br>The editor opens files of up to 8 MiB; this one is "
                               "larger."),
              std::string::npos)
        << result.body;
}

TEST(SiteEditPage, AnswersTheNotFoundPageForMissingAndForeignFiles) {
    Editor e;
    e.server.dir.write("site/a+b.htm", "plus");
    fs::create_symlink(e.other + "/secret.htm", e.root + "/link.htm");
    fs::create_directory(e.root + "/folder.htm");
    e.server.start();
    struct Case {
        const char* title;
        std::string query;
        std::string shown;
    };
    const std::vector<Case> cases = {
        {"missing file", "site=" + site(e.root + "/none.htm"), e.root + "/none.htm"},
        {"a plus in the name becomes a blank", "site=" + site(e.root) + "%3Fa%2Bb.htm",
         e.root + "/a b.htm"},
        {"outside both folders", "site=" + site(e.other + "/secret.htm"), e.other + "/secret.htm"},
        {"dot-dot out of the static folder", "site=" + site(e.root + "/../other/secret.htm"),
         e.root + "/../other/secret.htm"},
        {"a link out of the static folder", "site=" + site(e.root + "/link.htm"),
         e.root + "/link.htm"},
        {"a folder", "site=" + site(e.root + "/folder.htm"), e.root + "/folder.htm"},
        {"no site", "Reload=1", ""},
        {"relative path", "site=site%3Fshop%3Findex.htm", "site/shop/index.htm"},
        {"markup in the path", "site=%3Fx%3C%2Fb%3E", "/x&lt;/b&gt;"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.title);
        EXPECT_TRUE(
            getMatches(e.server, "/$int/SiteEdit.html?" + c.query, expectedNotFound(c.shown)));
    }
}

struct SaveCase {
    const char* title;
    std::string file; // relative to the temporary folder
    std::string text;
    std::string stored;
};

TEST(SiteSavePage, WritesLinesWithCrLfAndConfirms) {
    const std::vector<SaveCase> cases = {
        {"LF text", "site/shop/index.htm", "a\nb", "a\r\nb\r\n"},
        {"mixed line ends", "tmpl/liste.htm", "a\r\nb\rc\n\nd", "a\r\nb\r\nc\r\n\r\nd\r\n"},
        {"trailing line break adds no line", "tmpl/liste.htm", "x\r\n", "x\r\n"},
        {"empty text", "tmpl/liste.htm", "", ""},
        {"a new file in an existing folder", "site/shop/neu.htm", "</TEXTAREA>&lt;",
         "</TEXTAREA>&lt;\r\n"},
        {"bytes unchanged", "site/shop/index.htm", "\xE4\x81\xFF", "\xE4\x81\xFF\r\n"},
    };
    for (const SaveCase& c : cases) {
        SCOPED_TRACE(c.title);
        Editor e;
        e.server.start();
        const std::string path = e.server.dir.path().string() + "/" + c.file;
        const std::string from = stampNow();
        const HttpResult result = e.save(path, c.text);
        EXPECT_EQ(result.status, 200);
        EXPECT_TRUE(pageMatches(expectedConfirmation(fs::path(path).filename().string(), path),
                                result.body, from, stampNow()));
        EXPECT_EQ(TempDir::read(path), c.stored);
        EXPECT_EQ(std::distance(fs::directory_iterator(fs::path(path).parent_path()),
                                fs::directory_iterator()),
                  c.file == "site/shop/neu.htm" ? 2 : 1)
            << "no temporary file is left behind";
    }
}

TEST(SiteSavePage, KeepsThePermissionsOfAnExistingFile) {
    Editor e;
    const std::string path = e.root + "/shop/index.htm";
    fs::permissions(path, fs::perms(0640));
    e.server.start();
    EXPECT_EQ(e.save(path, "new").status, 200);
    EXPECT_EQ(fs::status(path).permissions() & fs::perms::mask, fs::perms(0640));
}

TEST(SiteSavePage, RefusesSavesThatAreNotTheEditorsOwn) {
    struct Case {
        const char* title;
        std::string file;
        HeaderList headers;
        bool withOrigin;
        int status;
    };
    Editor e;
    e.server.start();
    fs::create_symlink(e.other + "/secret.htm", e.root + "/link.htm");
    const std::string inside = e.root + "/shop/index.htm";
    const std::vector<Case> cases = {
        {"another site's form", inside, {{"Origin", "http://evil.example"}}, false, 403},
        {"another port of this host", inside, {{"Origin", "http://127.0.0.1:1"}}, false, 403},
        {"an opaque origin", inside, {{"Origin", "null"}}, false, 403},
        {"cross-site without an origin", inside, {{"Sec-Fetch-Site", "cross-site"}}, false, 403},
        {"outside both folders", e.other + "/secret.htm", {}, true, 403},
        {"dot-dot out of the template folder", e.tmpl + "/../other/secret.htm", {}, true, 403},
        {"a link out of the static folder", e.root + "/link.htm", {}, true, 403},
        {"a relative path", "site/shop/index.htm", {}, true, 403},
        {"empty FILE", "", {}, true, 403},
        {"the static folder itself", e.root, {}, true, 403},
        {"a missing folder", e.root + "/nowhere/x.htm", {}, true, 500},
        {"a folder", e.root + "/shop", {}, true, 500},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.title);
        const HttpResult result = e.save(c.file, "changed", c.headers, c.withOrigin);
        EXPECT_EQ(result.status, c.status);
        EXPECT_NE(result.body.find("<img src=\"/$int/error.jpg\""), std::string::npos);
        EXPECT_EQ(result.body.find("gespeichert."), std::string::npos);
    }
    EXPECT_EQ(TempDir::read(inside), "<p>\nshop</p>");
    EXPECT_EQ(TempDir::read(e.other + "/secret.htm"), "secret");
    EXPECT_FALSE(fs::exists(e.root + "/nowhere"));

    // A link or an image cannot save: only a POST from the editor's form does.
    const HttpResult viaGet =
        e.server.get("/$int/SiteSave.html?FILE=" + formEncode(inside) + "&SITE=changed");
    EXPECT_EQ(viaGet.status, 405);
    EXPECT_EQ(TempDir::read(inside), "<p>\nshop</p>");

    // Without Origin (older clients) a save from this host is accepted.
    EXPECT_EQ(e.save(inside, "ok", {}, false).status, 200);
    EXPECT_EQ(TempDir::read(inside), "ok\r\n");
}

TEST(SiteSavePage, AFailedWriteLeavesTheOldFileWhole) {
    Editor e;
    e.server.start();
    const std::string path = e.root + "/shop/index.htm";
    // Files of this process may not grow beyond 1 KiB for the moment: the write fails.
    rlimit old{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 1024;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const HttpResult result = e.save(path, std::string(4096, 'x'));
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_EQ(result.status, 500);
    EXPECT_NE(result.body.find("Not saved: File too large"), std::string::npos) << result.body;
    EXPECT_EQ(TempDir::read(path), "<p>\nshop</p>");
    EXPECT_EQ(std::distance(fs::directory_iterator(e.root + "/shop"), fs::directory_iterator()), 1);
}

TEST(SiteSavePage, FailurePageNamesThePathAndTheReason) {
    Editor e;
    e.server.start();
    const std::string path = e.root + "/nowhere/<x>.htm";
    const HttpResult result = e.save(path, "x");
    EXPECT_EQ(result.body,
              messagePage("<meta http-equiv=\"pragma\" content=\"no-cache\">\r", "Fehler!",
                          "error.jpg",
                          "Fehler! <b>" + e.root +
                              "/nowhere/&lt;x&gt;.htm</b><br>Not saved: the folder does not "
                              "exist.",
                          kBackButton));
}

TEST(SiteEditPage, WhatIsSavedIsShownAgain) {
    Editor e;
    e.server.start();
    const std::string path = e.tmpl + "/liste.htm";
    ASSERT_EQ(e.save(path, "<textarea>\n&amp;").status, 200);
    const HttpResult shown = e.server.get("/$int/SiteEdit.html?site=" + site(path));
    EXPECT_NE(shown.body.find(">&lt;textarea&gt;\r\n&amp;amp;\r\n</TEXTAREA>"), std::string::npos);
}

TEST(SiteEditPage, PathsAreResolvedAsTheSystemResolvesThem) {
    // A missing folder followed by ".." used to vanish as text, so the link after it was never
    // looked at: the system itself refuses "nonexist/..", and so does the editor.
    Editor e;
    fs::create_symlink(e.other + "/secret.htm", e.root + "/secretlink.txt");
    fs::create_directory_symlink(e.other, e.root + "/outlink");
    e.server.dir.write("pwn.htm", "outside");
    e.server.start();
    for (const std::string& path :
         {e.root + "/nonexist/../secretlink.txt", e.root + "/nonexist/../outlink/secret.htm",
          e.root + "/outlink/../pwn.htm", e.root + "/shop/index.htm/../../secretlink.txt"}) {
        SCOPED_TRACE(path);
        EXPECT_TRUE(
            getMatches(e.server, "/$int/SiteEdit.html?site=" + site(path), expectedNotFound(path)));
    }
    for (const std::string& path :
         {e.root + "/nonexist/../outlink/pwn.htm", e.root + "/nonexist/../secretlink.txt",
          e.root + "/outlink/../pwn.htm"}) {
        SCOPED_TRACE(path);
        EXPECT_EQ(e.save(path, "pwned").status, 403);
    }
    EXPECT_FALSE(fs::exists(e.other + "/pwn.htm"));
    EXPECT_EQ(TempDir::read(e.other + "/secret.htm"), "secret");
    EXPECT_EQ(TempDir::read(e.server.dir.path() / "pwn.htm"), "outside");
    // ".." after a real folder still works inside.
    EXPECT_EQ(e.save(e.root + "/shop/../shop/index.htm", "ok").status, 200);
    EXPECT_EQ(TempDir::read(e.root + "/shop/index.htm"), "ok\r\n");
}

TEST(SiteSavePage, RemovesTheTemporaryFilesThatAKilledSaveLeft) {
    Editor e;
    const std::string shop = e.root + "/shop";
    for (const char* name :
         {".index.htm.pelotest-123", ".index.htm.pelotest-4294967295", ".other.htm.pelotest-5",
          ".index.htm.pelotest-7x", ".index.htm.pelotest-", ".index.htm.pelotest-42"})
        e.server.dir.write(std::string("site/shop/") + name, std::string(100000, 'x'));
    // A save that is still running holds its temporary file locked.
    const int running = ::open((shop + "/.index.htm.pelotest-42").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(running, 0);
    ASSERT_EQ(::flock(running, LOCK_EX), 0);
    e.server.start();

    EXPECT_EQ(e.save(shop + "/index.htm", "new").status, 200);
    std::set<std::string> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(shop))
        names.insert(entry.path().filename().string());
    ::close(running);
    EXPECT_EQ(names,
              (std::set<std::string>{"index.htm", ".other.htm.pelotest-5", ".index.htm.pelotest-7x",
                                     ".index.htm.pelotest-", ".index.htm.pelotest-42"}));
    EXPECT_EQ(TempDir::read(shop + "/index.htm"), "new\r\n");
    // The file list shows none of them.
    const std::string list = e.server.get("/$int/FileList.html?PATH=" + shop + "&TYPE=1").body;
    EXPECT_EQ(list.find(".htm.pelotest-"), std::string::npos) << list;
}

} // namespace
} // namespace pelotest::test::popup

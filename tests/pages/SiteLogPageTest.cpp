// "/$int/SiteLog.html" compared whole: which log rows it shows, their indexes and encoded paths,
// the countdown and the reload addresses.

#include "PopupPagesTestSupport.h"

#include <string>
#include <vector>

namespace pelotest::test::popup {
namespace {

const std::string kBlank = "<img src=\"/$int/blank.gif\" width=\"1\" height=\"1\">";

std::string frameCell() {
    return "  <td width=\"1\" bgcolor=\"" + std::string(kShadow) + "\">" + kBlank + "</td>\r";
}

std::string framedLine(const std::string& height, const std::string& middle) {
    return " <tr height=\"" + height + "\" bgcolor=\"#FFFFFF\">\r" + frameCell() + middle +
           frameCell() + " </tr>\r";
}

struct Shown {
    std::string site; // editor form of the path
    std::size_t index;
    int kind;
    std::string name; // as written into the page
};

std::string expectedPage(int reload, const std::vector<Shown>& shown) {
    std::string rows;
    for (const Shown& s : shown)
        rows +=
            framedLine("16", "  <td><a class=file href=\"JavaScript:EditSite('" + s.site + "','" +
                                 std::to_string(s.index) + "');\">" + "<img src=\"/$int/Img" +
                                 std::to_string(s.kind) + ".gif\" border=\"0\" " +
                                 "alt=\"\" width=\"16\" height=\"16\" align=\"top\">&nbsp;" +
                                 s.name + "</a></td>\r");
    for (std::size_t i = shown.size(); i < 15; ++i)
        rows += framedLine("16", "  <td><img src=\"/$int/blank.gif\" width=\"16\" height=\"16\" "
                                 "align=\"top\">&nbsp;</td>\r");
    return loadTestData("pages/site-log.html",
                        {{"SECONDS", std::to_string(reload)}, {"ROWS", rows}});
}

LogEntry row(int kind, const std::string& name, const std::string& path) {
    return {kind, name, "Ev", "Title", path};
}

struct SiteLogCase {
    const char* title;
    int reload;
    std::vector<LogEntry> newestFirst;
    std::vector<Shown> shown;
};

std::vector<SiteLogCase> cases() {
    std::vector<SiteLogCase> all;

    SiteLogCase twenty{"twenty templates show the newest fifteen", 2, {}, {}};
    for (int i = 0; i < 20; ++i)
        twenty.newestFirst.push_back(
            row(3, "p" + std::to_string(i) + ".htm", "/t/p" + std::to_string(i) + ".htm"));
    for (std::size_t i = 0; i < 15; ++i)
        twenty.shown.push_back(
            {"%3Ft%3Fp" + std::to_string(i) + ".htm", i, 3, "p" + std::to_string(i) + ".htm"});
    all.push_back(twenty);

    all.push_back({"only kinds 3 and 8, with their index in the whole log",
                   5,
                   {row(11, "x.htm", "/s/x.htm"), row(3, "a.htm", "/t/a.htm"),
                    row(9, "b.htm", "/t/b.htm"), row(8, "c.htm", "/s/c.htm")},
                   {{"%3Ft%3Fa.htm", 1, 3, "a.htm"}, {"%3Fs%3Fc.htm", 3, 8, "c.htm"}}});

    all.push_back({"empty log", 9999, {}, {}});

    all.push_back({"paths in editor form, names escaped",
                   2,
                   {row(8, "a b.htm", "/sites/a b.htm"), row(8, "\xE4<i>.htm", "/s/\xE4.htm"),
                    row(3, "none.htm", "")},
                   {{"%3Fsites%3Fa+b.htm", 0, 8, "a b.htm"},
                    {"%3Fs%3F%E4.htm", 1, 8, "\xE4&lt;i&gt;.htm"},
                    {"", 2, 3, "none.htm"}}});
    return all;
}

TEST(SiteLogPage, ShowsTheNewestTemplatesAndStaticPagesOnFifteenLines) {
    for (const SiteLogCase& c : cases()) {
        SCOPED_TRACE(c.title);
        PageServer server;
        server.state.settings.remoteEditReload = c.reload;
        server.state.settings.maxLog = 100;
        for (auto it = c.newestFirst.rbegin(); it != c.newestFirst.rend(); ++it)
            server.state.log.add(*it, 100);
        server.start();
        EXPECT_TRUE(getMatches(server, "/$int/SiteLog.html?Reload=20260101a",
                               expectedPage(c.reload, c.shown)));
    }
}

TEST(SiteLogPage, ReadsTheLogAsItIsAtEachRequest) {
    PageServer server;
    server.start();
    EXPECT_TRUE(getMatches(server, "/$int/SiteLog.html", expectedPage(2, {})));
    server.withState([](AppState& s) {
        s.log.add(row(3, "neu.htm", "/t/neu.htm"), 100);
        s.settings.remoteEditReload = 7;
    });
    EXPECT_TRUE(getMatches(server, "/$int/SiteLog.html",
                           expectedPage(7, {{"%3Ft%3Fneu.htm", 0, 3, "neu.htm"}})));
}

} // namespace
} // namespace pelotest::test::popup

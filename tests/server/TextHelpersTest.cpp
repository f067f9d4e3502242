#include "server/TextHelpers.h"
#include "server/HeadlessHost.h"
#include "server/RequestLogging.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include <sys/time.h>

namespace pelotest {
namespace {

using test::TempDir;

// The headless host (classic colours), counting the change notifications.
class CountingHost : public HeadlessHost {
  public:
    explicit CountingHost(const AppState& state) : HeadlessHost(state) {}
    void treeChanged() override { ++trees; }
    void variablesChanged() override { ++variables; }
    void logChanged() override { ++logs; }

    int trees = 0, variables = 0, logs = 0;
};

struct Row {
    std::string name, value;
    Mark mark = Mark::Plain;
    bool operator==(const Row&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Row& row) {
    static const char* const marks[] = {"Plain", "Passed", "Used"};
    return out << "{" << row.name << "=" << row.value << " " << marks[static_cast<int>(row.mark)]
               << "}";
}

void fill(VariableTable& table, const std::vector<Row>& rows) {
    for (const Row& row : rows) {
        const std::size_t index = table.add(row.name, row.value);
        if (row.mark == Mark::Passed)
            table.markPassed(index); // moves to the top: give Passed rows last-first
        else if (row.mark == Mark::Used)
            table.markUsed(index, index);
    }
}

std::vector<Row> rowsOf(const VariableTable& table) {
    std::vector<Row> rows;
    for (const Variable& v : table.rows())
        rows.push_back({v.Name, v.Value, v.mark});
    return rows;
}

// ---------------------------------------------------------------------------------------------
// ExpandReferences

TEST(ExpandReferences, ReplacesCreatesAndMarksRows) {
    struct Case {
        const char* what;
        bool autoSort;
        std::vector<Row> before;
        std::string line;
        std::string expanded;
        std::vector<Row> after;
    };
    const Mark P = Mark::Plain, S = Mark::Passed, U = Mark::Used;
    const Case cases[] = {
        {"lookup ignores case, replacement matches the name as written (two passes)",
         true,
         {{"b", "1", P}, {"a", "x", P}},
         "/(A)/(a)",
         "xx",
         {{"a", "x", U}, {"b", "1", P}}},
        {"a value's own references are removed, never expanded",
         true,
         {{"v", "1/(B)2", P}},
         "[/(v)]",
         "[12]",
         {{"v", "1/(B)2", U}}},
        {"no closing marker", true, {}, "Preis: /(Preis", "Preis: /(Preis", {}},
        {"closing before opening", true, {}, "a)b/(c", "a)b/(c", {}},
        {"unknown name created Used below the Passed block",
         true,
         {{"p", "1", S}, {"x", "2", P}},
         "<b>/(Neu)</b>",
         "<b></b>",
         {{"p", "1", S}, {"Neu", "", U}, {"x", "2", P}}},
        {"unknown name without auto-sort appended Plain",
         false,
         {{"x", "2", P}},
         "/(Neu)",
         "",
         {{"x", "2", P}, {"Neu", "", P}}},
        {"known name without auto-sort keeps order and marks",
         false,
         {{"x", "2", P}, {"y", "3", P}},
         "/(y)/(x)",
         "32",
         {{"x", "2", P}, {"y", "3", P}}},
        {"Plain row moves to LeadingPassedCount; Passed and Used rows stay",
         true,
         {{"p2", "b", S}, {"p1", "a", S}, {"u", "c", U}, {"z", "d", P}},
         "/(p1)/(u)/(z)",
         "acd",
         {{"p1", "a", S}, {"p2", "b", S}, {"z", "d", U}, {"u", "c", U}}},
        {"every occurrence replaced in one pass",
         true,
         {{"k", "4711", P}},
         "/(k)-/(k)-/(k)",
         "4711-4711-4711",
         {{"k", "4711", U}}},
        {"name holding the opening marker",
         true,
         {{"/(a", "x", P}},
         "/(/(a)",
         "x",
         {{"/(a", "x", U}}},
        {"empty name", true, {}, "a/()b", "ab", {{"", "", U}}},
        {"a replacement that forms a new reference is expanded too",
         true,
         {{"a", "/(", P}, {"b", "ok", P}},
         "/(a)b)",
         "ok",
         {{"b", "ok", U}, {"a", "/(", U}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        AppState state;
        CountingHost host{state};
        state.settings.VariablesAutoSort = c.autoSort;
        fill(state.variables, c.before);
        EXPECT_EQ(expandReferences(state, host, c.line), c.expanded);
        EXPECT_EQ(rowsOf(state.variables), c.after);
    }
}

TEST(ExpandReferences, UsesTheConfiguredMarkers) {
    AppState state;
    CountingHost host{state};
    state.settings.VarBefore = "{{";
    state.settings.VarAfter = "}}";
    fill(state.variables, {{"Kunde", "Meier"}});
    EXPECT_EQ(expandReferences(state, host, "/(Kunde) {{kunde}}"), "/(Kunde) Meier");
}

TEST(ExpandReferences, ReportsChangedRowsOnlyWhenRowsChange) {
    AppState state;
    CountingHost host{state};
    fill(state.variables, {{"a", "1", Mark::Used}});
    expandReferences(state, host, "/(a) plain text");
    EXPECT_FALSE(state.VariablesChanged);
    EXPECT_EQ(host.variables, 0);

    expandReferences(state, host, "/(b) /(c)");
    EXPECT_TRUE(state.VariablesChanged);
    EXPECT_EQ(host.variables, 1) << "one notification per line";
}

// ---------------------------------------------------------------------------------------------
// Lines and titles

TEST(ReadLines, SplitsAtEveryLineEndAndStopsAtNul) {
    struct Case {
        std::string bytes;
        std::vector<std::string> lines;
    };
    const Case cases[] = {
        {"a\r\nb\rc\nd", {"a", "b", "c", "d"}},
        {"a\r\n", {"a"}},
        {"", {}},
        {"\r\n", {""}},
        {"a\n\rb", {"a", "", "b"}},
        {"a\r\n\r\n", {"a", ""}},
        {std::string("a\r\nb\0c\r\nd", 10), {"a", "b"}},
    };
    TempDir dir;
    for (const Case& c : cases) {
        EXPECT_EQ(readLines(dir.write("t.htm", c.bytes).string()), c.lines);
        EXPECT_EQ(splitLines(c.bytes), c.lines);
    }
    EXPECT_EQ(joinLinesCrLf({"a", "", "b"}), "a\r\n\r\nb\r\n");
    EXPECT_THROW(readLines((dir.path() / "missing.htm").string()), std::runtime_error);
}

TEST(PageTitle, TakesTheFirstTitleLineAndDecodesGermanEntities) {
    struct Case {
        const char* file;
        std::string content;
        std::string title;
    };
    const Case cases[] = {
        {"a.htm", "<html>\r\n<TITLE>M&uuml;ller</TITLE>\r\n", "M\xFCller"},
        {"b.htm", "<title>Zwei\r\nZeilen</title>", ""},
        {"c.htm", "<title>a\r\n<title>b</title>", ""},
        {"d.htm", "<head><title> a </title></head>", " a "},
        {"e.htm", "<title>a</title>b</TITLE>", "a"},
        {"f.htm",
         "<title>&auml;&Auml;&ouml;&Ouml;&uuml;&Uuml;&szlig;&quot;&AUML;&amp;&euro;</title>",
         "\xE4\xC4\xF6\xD6\xFC\xDC\xDF\"&AUML;&amp;&euro;"},
        {"g.htm", "no title here", ""},
        {"h.htm", std::string("<title>a\0</title>", 17), ""},
        {"UPPER.HTML", "<Title>Gro\xDF</tItLe>", "Gro\xDF"},
        {"s.js", "// <title>Script</title>", "Script"},
        {"s.css", "/* <title>Style</title> */", "Style"},
        {"t.txt", "<title>Text</title>", ""},
        {"t.html.bak", "<title>Backup</title>", ""},
    };
    TempDir dir;
    for (const Case& c : cases)
        EXPECT_EQ(pageTitle(dir.write(c.file, c.content).string()), c.title) << c.file;
    EXPECT_EQ(pageTitle((dir.path() / "missing.htm").string()), "");
    std::filesystem::create_directory(dir.path() / "folder.htm");
    EXPECT_EQ(pageTitle((dir.path() / "folder.htm").string()), "");
}

// ---------------------------------------------------------------------------------------------
// Popup scripts

std::string expectedSiteLogScript(const std::string& left, const std::string& top) {
    return std::string("var PLSiteLog = window.open(\"/$int/SiteLog.html\",\"PLSiteLog\",") +
           "\"width=200,height=268,left=\"+String(screen.width - " + left +
           ")+\",top=\"+String(screen.height - " + top +
           ")+\",menubar=no,status=no,resizable=no\");\r" + "PLSiteLog.focus();";
}

std::string expectedVarListScript(const std::string& left, const std::string& top) {
    return std::string("<script language=\"javascript\">\rfunction PopVarList()\r{\r") +
           "var PLVarList = window.open(\"/$int/VarList.html\",\"PLVarList\"," +
           "\"width=350,height=320,left=\"+String(screen.width - " + left +
           ")+\",top=\"+String(screen.height - " + "320" + " - " + top +
           ")+\",menubar=no,status=no,resizable=yes\");\r" + "PLVarList.focus();\r" + "}\r" +
           "</script>\r";
}

TEST(PopupScripts, ReadTheOffsetsFromTheFileAtEachUse) {
    struct Case {
        const char* what;
        std::string ini; // empty: no settings file at all
        std::string siteLeft, siteTop, varLeft, varTop;
    };
    const Case cases[] = {
        {"no settings file", "", "210", "326", "360", "384"},
        {"keys absent", "[Settings]\r\nPort=80\r\n", "210", "326", "360", "384"},
        {"edited", "[Const]\r\nSiteLogHorizontal=20\r\nSiteLogVertical=30\r\n", "220", "298", "370",
         "328"},
        {"negative", "[const]\r\nsitelogHorizontal=-5\r\nSiteLogVertical=0\r\n", "195", "268",
         "345", "268"},
        {"non-numeric", "[Const]\r\nSiteLogHorizontal=abc\r\nSiteLogVertical=12px\r\n", "210",
         "326", "360", "384"},
        {"empty", "[Const]\r\nSiteLogHorizontal=\r\nSiteLogVertical=\r\n", "210", "326", "360",
         "384"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        AppState state;
        state.settingsPath = dir.path() / "pelotest.ini";
        if (!c.ini.empty())
            dir.write("pelotest.ini", c.ini);
        EXPECT_EQ(siteLogPopupScript(state), expectedSiteLogScript(c.siteLeft, c.siteTop));
        EXPECT_EQ(popSiteListBlock(state),
                  "<script language=\"javascript\">function PopSiteList(){" +
                      expectedSiteLogScript(c.siteLeft, c.siteTop) + "}" + "</script>");
        EXPECT_EQ(varListPopupScript(state), expectedVarListScript(c.varLeft, c.varTop));
    }
}

TEST(PopupScripts, SeeAHandEditWithoutARestart) {
    TempDir dir;
    AppState state;
    state.settingsPath = dir.write("pelotest.ini", "[Const]\r\nSiteLogHorizontal=1\r\n");
    EXPECT_EQ(siteLogPopupScript(state), expectedSiteLogScript("201", "326"));
    dir.write("pelotest.ini", "[Const]\r\nSiteLogHorizontal=2\r\n");
    EXPECT_EQ(siteLogPopupScript(state), expectedSiteLogScript("202", "326"));
}

TEST(PopupScripts, StartPageInjectionAfterTheFirstClosingTitle) {
    AppState state; // no settings file: default offsets
    const std::string script =
        "<script language=\"javascript\">" + expectedSiteLogScript("210", "326") + "</script>";
    struct Case {
        std::string line, injected;
    };
    const Case cases[] = {
        {"<head><title>Start</title></head>", "<head><title>Start</title>" + script + "</head>"},
        {"<TITLE>a</TITLE>b</title>", "<TITLE>a</TITLE>" + script + "b</title>"},
        {"</title>", "</title>" + script},
        {"<title>no end", "<title>no end"},
        {"", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(injectSiteLogScript(state, c.line), c.injected) << c.line;
}

// ---------------------------------------------------------------------------------------------
// Encoders

TEST(Encoders, HtmlEscape) {
    const std::pair<std::string, std::string> cases[] = {
        {"<a href=\"x\">&</a>", "&lt;a href=&quot;x&quot;&gt;&amp;&lt;/a&gt;"},
        {"a=1&b=2", "a=1&amp;b=2"},
        {"&amp;", "&amp;amp;"},
        {"#amp~;", "#amp~;"}, // exact: an escaped field submits what it was given
        {"plain \xE4 'quoted' text", "plain \xE4 'quoted' text"},
        {"", ""},
    };
    for (const auto& [in, out] : cases)
        EXPECT_EQ(htmlEscape(in), out) << in;
}

TEST(Encoders, ScriptStringEscape) {
    const std::pair<std::string, std::string> cases[] = {
        {"c:/tmpl/a.htm", "c:/tmpl/a.htm"}, {"it's", "it\\'s"},
        {"say \"hi\"", "say \\\"hi\\\""},   {"a\\b", "a\\\\b"},
        {"l1\r\nl2", "l1\\r\\nl2"},         {"</script>", "\\x3C/script>"},
    };
    for (const auto& [in, out] : cases)
        EXPECT_EQ(scriptStringEscape(in), out) << in;
}

TEST(Encoders, UrlEncode) {
    const std::pair<std::string, std::string> cases[] = {
        {"a b\\c", "a+b/c"},
        {"\xE4", "%E4"},
        {"*-.@_09AZaz", "*-.@_09AZaz"},
        {"/?&=%+~:", "%2F%3F%26%3D%25%2B%7E%3A"},
        {std::string("\0\xFF", 2), "%00%FF"},
        {"", ""},
    };
    for (const auto& [in, out] : cases)
        EXPECT_EQ(urlEncode(in), out) << in;
}

TEST(Encoders, UrlDecodePath) {
    const std::pair<std::string, std::string> cases[] = {
        {"%2B", "+"},
        {"a+b", "a b"},
        {"%E4%e4", "\xE4\xE4"},
        {"%zz", "\x0E"},
        {"%G1x", "\x0Ex"},
        {"%2525", "%25"},
        {"/x/y.htm", "/x/y.htm"},
        {"%3Fsrv%3Fa.htm", "?srv?a.htm"},
        {"50%", "50%"},
        {"%4", "%4"},
        {"%41%", "A%"},
        {"", ""},
    };
    for (const auto& [in, out] : cases)
        EXPECT_EQ(urlDecodePath(in), out) << in;
}

TEST(Encoders, UrlDecodePathReversesUrlEncodeOfAnEditorPath) {
    const std::string path = "/srv/my site/\xE4+b%.htm";
    std::string form = path;
    std::replace(form.begin(), form.end(), '/', '?');
    std::string back = urlDecodePath(urlEncode(form));
    std::replace(back.begin(), back.end(), '?', '/');
    EXPECT_EQ(back, path);
}

TEST(Encoders, HtmlColor) {
    EXPECT_EQ(htmlColor(Rgb{0xD4, 0xD0, 0xC8}), "#D4D0C8");
    EXPECT_EQ(htmlColor(Rgb{0, 0, 0}), "#000000");
    EXPECT_EQ(htmlColor(Rgb{0x01, 0xAB, 0xFF}), "#01ABFF");
    AppState state;
    HeadlessHost host{state};
    EXPECT_EQ(htmlColor(host, ColorRole::ButtonShadow), "#808080");
}

// ---------------------------------------------------------------------------------------------
// File information

class LocalZone {
  public:
    explicit LocalZone(const char* tz) {
        if (const char* old = std::getenv("TZ"))
            old_ = old;
        ::setenv("TZ", tz, 1);
        ::tzset();
    }
    ~LocalZone() {
        if (old_)
            ::setenv("TZ", old_->c_str(), 1);
        else
            ::unsetenv("TZ");
        ::tzset();
    }

  private:
    std::optional<std::string> old_;
};

TEST(FileInfoText, ShowsLocalTimeAndSizeOrPlaceholders) {
    LocalZone zone("XYZ-3"); // three hours east of UTC
    TempDir dir;
    AppState state;
    const auto file = dir.write("a.htm", std::string(2048, 'x'));
    // 6 December 2026, 12:19:16 UTC = 15:19:16 in the zone above.
    std::tm utc{};
    utc.tm_year = 2026 - 1900;
    utc.tm_mon = 11;
    utc.tm_mday = 6;
    utc.tm_hour = 12;
    utc.tm_min = 19;
    utc.tm_sec = 16;
    const timeval times[2] = {{::timegm(&utc), 0}, {::timegm(&utc), 0}};
    ASSERT_EQ(::utimes(file.c_str(), times), 0);

    EXPECT_EQ(fileInfoText(state, file.string()),
              "Ge&auml;ndert&nbsp;am&nbsp;06.12.2026&nbsp;15:19:16"
              "Uhr &minus;&nbsp;Gr&ouml;sse:&nbsp;2048&nbsp;Byte");

    const std::string unknown = "Ge&auml;ndert&nbsp;am&nbsp;??.??.????&nbsp;??:??:??"
                                "Uhr &minus;&nbsp;Gr&ouml;sse:&nbsp;??&nbsp;Byte";
    EXPECT_EQ(fileInfoText(state, (dir.path() / "missing.htm").string()), unknown);
    EXPECT_EQ(fileInfoText(state, dir.path().string()), unknown) << "a folder is no file";
}

// ---------------------------------------------------------------------------------------------
// Request log

LogEntry page(const std::string& name) {
    return {LogKind::StaticPage, name, "", "T " + name, "/srv/" + name};
}

TEST(RequestLogging, KeepsTheNewestRowsUnderTheLimit) {
    AppState state;
    CountingHost host{state};
    state.settings.MaxLog = 2;
    for (const char* name : {"1.htm", "2.htm", "3.htm"})
        addLogEntry(state, host, page(name));
    ASSERT_EQ(state.log.size(), 2u);
    EXPECT_EQ(state.log.rows()[0], page("3.htm"));
    EXPECT_EQ(state.log.rows()[1], page("2.htm"));
    EXPECT_TRUE(state.LogChanged);
    EXPECT_EQ(host.logs, 3);
}

TEST(RequestLogging, LoweringTheLimitDoesNotShortenTheLog) {
    AppState state;
    CountingHost host{state};
    for (int i = 0; i < 100; ++i)
        addLogEntry(state, host, page(std::to_string(i) + ".htm"));
    ASSERT_EQ(state.log.size(), 100u);
    state.settings.MaxLog = 10;
    addLogEntry(state, host, page("new.htm"));
    addLogEntry(state, host, page("newer.htm"));
    ASSERT_EQ(state.log.size(), 100u);
    EXPECT_EQ(state.log.rows()[0], page("newer.htm"));
    EXPECT_EQ(state.log.rows()[1], page("new.htm"));
    EXPECT_EQ(state.log.rows()[99], page("2.htm"));
}

TEST(RequestLogging, AHandEditedLimitBelowTwoStillKeepsTwoRows) {
    AppState state;
    CountingHost host{state};
    state.settings.MaxLog = 0;
    for (const char* name : {"1.htm", "2.htm", "3.htm"})
        addLogEntry(state, host, page(name));
    ASSERT_EQ(state.log.size(), 2u);
    EXPECT_EQ(state.log.rows()[0], page("3.htm"));
}

} // namespace
} // namespace pelotest

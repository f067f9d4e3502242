// "/$int/VarList.html": the outer and the inner page compared whole, the one action per request
// in its order of precedence, sorting as the desktop list sorts, and the auto-sort switch.

#include "PopupPagesTestSupport.h"

#include "pages/PopupPages.h"
#include "state/DisplayText.h"
#include "state/VariableSort.h"

#include <string>
#include <utility>
#include <vector>

namespace pelotest::test::popup {
namespace {

std::string expectedOuter(bool autoSort) {
    return loadTestData("pages/var-list-outer.html", {{"CHECKED", autoSort ? " CHECKED" : ""}});
}

struct Row {
    std::string nameInLink, valueInLink, nameCell, valueCell;
    int image;
};

std::string expectedInner(const std::vector<Row>& rows, int width = 150) {
    std::string markup;
    for (const Row& r : rows) {
        const std::string link = "<a class=\"file\" href=\"JavaScript:EditVar('" + r.nameInLink +
                                 "','" + r.valueInLink + "');\">";
        markup += " <tr>\r";
        markup += "  <td style=\"border-bottom:1px solid " + std::string(kFace) +
                  ";border-right:1px solid " + kFace + ";\" width=\"" + std::to_string(width) +
                  "\">" + link + "<img src=\"/$int/Img" + std::to_string(r.image) +
                  ".gif\" border=\"0\" alt=\"\" width=\"16\" height=\"16\">&nbsp;" + r.nameCell +
                  "</a></td>\r";
        markup += "  <td style=\"border-bottom:1px solid " + std::string(kFace) + ";\">" + link +
                  r.valueCell + "</a>&nbsp;</td>\r";
        markup += " </tr>\r";
    }
    return loadTestData("pages/var-list-inner.html", {{"ROWS", markup}});
}

Row plainRow(const std::string& name, const std::string& value, int image = 5) {
    return {name, value, name, value, image};
}

using Rows = std::vector<std::pair<std::string, std::string>>;

Rows rowsOf(PageServer& server) {
    return server.withState([](AppState& s) {
        Rows rows;
        for (const Variable& v : s.variables.rows())
            rows.emplace_back(v.name, v.value);
        return rows;
    });
}

void fill(AppState& state, const Rows& rows) {
    for (const auto& [name, value] : rows)
        state.variables.add(name, value);
}

TEST(VarListPage, OuterPageShowsTheAutoSortBox) {
    for (bool autoSort : {true, false}) {
        SCOPED_TRACE(autoSort);
        PageServer server;
        server.state.settings.variablesAutoSort = autoSort;
        server.start();
        EXPECT_TRUE(getMatches(server, "/$int/VarList.html", expectedOuter(autoSort)));
        EXPECT_TRUE(getMatches(server, "/$int/VarList.html?INT=", expectedOuter(autoSort)));
    }
}

TEST(VarListPage, InnerPageListsRowsWithMarksAndTheHostsColumnWidth) {
    PageServer server;
    server.host.columnWidth = 212;
    fill(server.state, {{"a", "1"}, {"b", "2"}, {"c", ""}});
    server.state.variables.markPassed(1);
    server.state.variables.markUsed(2, 2);
    server.start();
    EXPECT_TRUE(getMatches(
        server, "/$int/VarList.html?INT=true",
        expectedInner({plainRow("b", "2", 6), plainRow("a", "1", 5), plainRow("c", "", 7)}, 212)));
}

TEST(VarListPage, EmptyListGivesTheHeaderRowOnly) {
    PageServer server;
    server.start();
    EXPECT_TRUE(getMatches(server, "/$int/VarList.html?INT=1", expectedInner({})));
}

TEST(VarListPage, QuotesAndBackslashesCannotBreakTheScript) {
    PageServer server;
    fill(server.state, {{"it's", "say \"hi\" & <b>"}, {"back\\slash", "50%\tx"}});
    server.start();
    EXPECT_TRUE(
        getMatches(server, "/$int/VarList.html?INT=true",
                   expectedInner({{"it\\'s", "say \\&quot;hi\\&quot; &amp; \\x3Cb&gt;", "it's",
                                   "say &quot;hi&quot; &amp; &lt;b&gt;", 5},
                                  {"back\\\\slash", "50%25%09x", "back\\slash", "50%\tx", 5}})));
}

// However large the variables, the list page stays a few MiB: long names and values are cut,
// and rows beyond the page's size are counted instead of listed.
TEST(VarListPage, StaysBoundedForHugeValuesAndManyRows) {
    PageServer server;
    const std::string huge(8 * 1024 * 1024, '<');
    fill(server.state, {{"big", huge.c_str()}});
    for (int i = 0; i < 60'000; ++i)
        server.state.variables.add("name" + std::to_string(i), std::string(200, 'v'));
    server.start();
    const auto page = server.get("/$int/VarList.html?INT=true");
    EXPECT_EQ(page.status, 200);
    EXPECT_LT(page.body.size(), 6u * 1024 * 1024);
    EXPECT_NE(page.body.find("&lt;&lt;&lt;..."), std::string::npos);
    EXPECT_NE(page.body.find("name0"), std::string::npos);
    EXPECT_NE(page.body.find(")</td>\r </tr>\r</table>"), std::string::npos)
        << "no count of the rest";
    EXPECT_EQ(page.body.find("name59999"), std::string::npos);
}

// One action per request, in the order DELETE, NAME/VALUE, COLUMN, CHECK; names with case.
TEST(VarListPage, PerformsExactlyOneActionInOrderOfPrecedence) {
    struct Case {
        const char* query;
        Rows before;
        Rows after;
        bool changed;
    };
    const Rows abc = {{"b", "2"}, {"a", "1"}, {"C", "3"}};
    const std::vector<Case> cases = {
        {"DELETE=a&NAME=a&VALUE=x&COLUMN=1", abc, {{"b", "2"}, {"C", "3"}}, true},
        {"DELETE=A&NAME=a&VALUE=x", abc, abc, false},
        {"NAME=a&VALUE=x&COLUMN=1&CHECK=false", abc, {{"b", "2"}, {"a", "x"}, {"C", "3"}}, true},
        {"NAME=A&VALUE=x", abc, abc, false},
        {"NAME=a", abc, {{"b", "2"}, {"a", ""}, {"C", "3"}}, true},
        {"NAME=a&VALUE=1&VALUE=2", abc, {{"b", "2"}, {"a", "2"}, {"C", "3"}}, true},
        {"NAME=new&VALUE=1", abc, abc, false},
        {"DELETE=&NAME=&COLUMN=1&CHECK=false", abc, {{"a", "1"}, {"b", "2"}, {"C", "3"}}, true},
        {"COLUMN=3&CHECK=false", abc, abc, false},
        {"delete=a&name=b&value=x&column=1", abc, abc, false},
        {"DELETE=a%26b&Reload=1", {{"a&b", "1"}, {"a", "2"}}, {{"a", "2"}}, true},
        {"NAME=x+y&VALUE=a%26b%2Bc%23d", {{"x y", ""}}, {{"x y", "a&b+c#d"}}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.query);
        PageServer server;
        fill(server.state, c.before);
        server.start();
        const HttpResult result = server.get(std::string("/$int/VarList.html?INT=true&") + c.query);
        EXPECT_EQ(result.status, 200);
        EXPECT_EQ(rowsOf(server), c.after);
        EXPECT_EQ(server.withState([](AppState& s) { return s.variablesChanged; }), c.changed);
        EXPECT_EQ(server.withState([](AppState& s) { return s.settings.variablesAutoSort; }), true);
    }
}

// A UTF-8 value is listed as character references (the page stays Windows-1252 for Windows-1252
// values), and what the browser sends back as UTF-8 is stored in the site's encoding.
TEST(VarListPage, ShowsAndStoresTextInTheSitesEncoding) {
    struct Case {
        SiteEncoding encoding;
        Rows before;
        const char* query;
        Rows after;
        const char* shownValue;
    };
    const std::vector<Case> cases = {
        {SiteEncoding::Utf8,
         {{"gr\xC3\xB6\xC3\x9F"
           "e",
           "x"}},
         "NAME=gr%C3%B6%C3%9Fe&VALUE=%E6%97%A5%E6%9C%AC",
         {{"gr\xC3\xB6\xC3\x9F"
           "e",
           "\xE6\x97\xA5\xE6\x9C\xAC"}},
         "&#26085;&#26412;"},
        {SiteEncoding::Windows1252,
         {{"gr\xF6\xDF"
           "e",
           "x"}},
         "NAME=gr%C3%B6%C3%9Fe&VALUE=%C3%BC%E6%97%A5",
         {{"gr\xF6\xDF"
           "e",
           "\xFC&#26085;"}},
         "\xFC&amp;#26085;"},
        {SiteEncoding::Windows1252,
         {{"a", "\xE4\x80"}},
         "COLUMN=3",
         {{"a", "\xE4\x80"}},
         "\xE4\x80"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.query);
        PageServer server;
        server.state.settings.siteEncoding = c.encoding;
        fill(server.state, c.before);
        server.start();
        const HttpResult result = server.get(std::string("/$int/VarList.html?INT=true&") + c.query);
        EXPECT_EQ(result.status, 200);
        EXPECT_EQ(rowsOf(server), c.after);
        EXPECT_NE(result.body.find(std::string("<a class=\"file\" href=\"JavaScript:EditVar('") +
                                   windows1252PageText(scriptLinkString(c.after[0].first)) + "','" +
                                   windows1252PageText(scriptLinkString(c.after[0].second)) +
                                   "');\">" + c.shownValue + "</a>"),
                  std::string::npos)
            << result.body;
    }
}

TEST(VarListPage, NameWithOtherCaseChangesNothingAndAnswersTheOuterPage) {
    PageServer server;
    fill(server.state, {{"a", "1"}});
    server.start();
    EXPECT_TRUE(getMatches(server, "/$int/VarList.html?NAME=A&VALUE=x", expectedOuter(true)));
    EXPECT_EQ(rowsOf(server), (Rows{{"a", "1"}}));
}

TEST(VarListPage, SortsAsTheDesktopListSorts) {
    PageServer server;
    fill(server.state, {{"x", "beta"}, {"Y", "Alpha"}, {"z", "gamma"}, {"w", "\xE4rger"}});
    server.start();
    const auto sort = [&](const char* column) {
        server.withState([](AppState& s) { s.variablesChanged = false; });
        EXPECT_EQ(server.get(std::string("/$int/VarList.html?INT=true&COLUMN=") + column).status,
                  200);
        EXPECT_TRUE(server.withState([](AppState& s) { return s.variablesChanged; }));
        return rowsOf(server);
    };
    EXPECT_EQ(sort("2"), (Rows{{"Y", "Alpha"}, {"w", "\xE4rger"}, {"x", "beta"}, {"z", "gamma"}}));
    EXPECT_EQ(sort("2"), (Rows{{"z", "gamma"}, {"x", "beta"}, {"w", "\xE4rger"}, {"Y", "Alpha"}}));
    EXPECT_EQ(sort("1"), (Rows{{"w", "\xE4rger"}, {"x", "beta"}, {"Y", "Alpha"}, {"z", "gamma"}}));
    EXPECT_EQ(sort("1"), (Rows{{"z", "gamma"}, {"Y", "Alpha"}, {"x", "beta"}, {"w", "\xE4rger"}}));
    EXPECT_EQ(sort("2"), (Rows{{"Y", "Alpha"}, {"w", "\xE4rger"}, {"x", "beta"}, {"z", "gamma"}}));
    EXPECT_GE(server.host.variablesNotes, 5);
}

TEST(VarListPage, UncheckingAutoSortMakesEveryRowPlainWithoutReordering) {
    PageServer server;
    fill(server.state, {{"a", "1"}, {"b", "2"}, {"c", "3"}});
    server.state.variables.markPassed(2);
    server.state.variables.markUsed(2, 1);
    server.start();
    EXPECT_TRUE(getMatches(server, "/$int/VarList.html?CHECK=false", expectedOuter(false)));
    EXPECT_TRUE(
        getMatches(server, "/$int/VarList.html?INT=true",
                   expectedInner({plainRow("c", "3"), plainRow("b", "2"), plainRow("a", "1")})));
    EXPECT_TRUE(getMatches(server, "/$int/VarList.html?CHECK=maybe", expectedOuter(false)));
    EXPECT_TRUE(getMatches(server, "/$int/VarList.html?CHECK=true", expectedOuter(true)));
    EXPECT_TRUE(server.withState([](AppState& s) { return s.settings.variablesAutoSort; }));
}

TEST(VariableCollation, IgnoresCaseAndSortsAccentsBesideTheirLetter) {
    struct Case {
        const char* a;
        const char* b;
        int sign;
    };
    const std::vector<Case> cases = {
        {"abc", "ABC", 0},
        {"\xC4rger", "\xE4RGER", 0},
        {"a", "b", -1},
        {"\xE4", "b", -1},
        {"a", "\xE4", -1},
        {"Zebra", "apfel", 1},
        {"stra\xDF"
         "e",
         "strasse", 1},
        {"strasse", "strasst", -1},
        {"", "a", -1},
        {"a1", "a10", -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.a) + " / " + c.b);
        const int order = collateVariableText(c.a, c.b);
        EXPECT_EQ((order > 0) - (order < 0), c.sign);
        const int reverse = collateVariableText(c.b, c.a);
        EXPECT_EQ((reverse > 0) - (reverse < 0), -c.sign);
    }
}

TEST(VariableSort, RowsEqualIgnoringCaseKeepTheirOrder) {
    AppState state;
    fill(state, {{"n1", "b"}, {"n2", "A"}, {"n3", "a"}, {"n4", "B"}});
    sortVariablesByColumn(state, VariableColumn::Value);
    Rows rows;
    for (const Variable& v : state.variables.rows())
        rows.emplace_back(v.name, v.value);
    EXPECT_EQ(rows, (Rows{{"n2", "A"}, {"n3", "a"}, {"n1", "b"}, {"n4", "B"}}));
}

} // namespace
} // namespace pelotest::test::popup

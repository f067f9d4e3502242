#include "state/PersistentState.h"

#include "support/FakeHost.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <functional>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <vector>

namespace pelotest {
namespace {

using test::FakeHost;
using test::TempDir;
using Strings = std::vector<std::string>;

std::string uiText(UiText name) {
    const int id = static_cast<int>(name);
    if (id == 96 || id == 99)
        return "<" + std::to_string(id) + " \"%1\">";
    return "<" + std::to_string(id) + ">";
}

// One settings file in a temporary folder, loaded into a fresh state.
struct Fixture {
    TempDir dir;
    AppState state;
    FakeHost host;
    std::string treeError;

    explicit Fixture(std::optional<std::string> content) {
        state.settingsPath = dir.path() / "pelotest.ini";
        if (content)
            dir.write("pelotest.ini", *content);
        treeError = loadState(state, host, uiText);
    }
    std::string file() const { return TempDir::read(state.settingsPath); }
    bool save() { return saveState(state, host, uiText); }
    ino_t inode() const {
        struct stat info {};
        ::stat(state.settingsPath.c_str(), &info);
        return info.st_ino;
    }
};

Strings variableNames(const AppState& state) {
    Strings names;
    for (const Variable& row : state.variables.rows())
        names.push_back(row.name + "=" + row.value);
    return names;
}

// The settings section as SaveState writes it for a state with every default.
std::string defaultSettings(const std::string& windowState = "normal") {
    return "[Settings]\r\nLanguageDll=\r\nDynamicPath=\r\nVirtualPath=\r\nStaticPath=\r\n"
           "StaticSite=\r\nStaticParameter=\r\nPort=80\r\nMaxLog=100\r\nRemoteEditReload=2\r\n"
           "WindowState=" +
           windowState +
           "\r\nVariablesAutoSort=1\r\nRemoteEdit=1\r\nSaveLog=0\r\nServerActive=0\r\n"
           "PageIndex=0\r\n";
}

TEST(PersistentState, MissingOrEmptyFileGivesEveryDefault) {
    for (const std::optional<std::string>& content : {std::optional<std::string>{}, {""}}) {
        Fixture f(content);
        const Settings& s = f.state.settings;
        EXPECT_EQ(s.port, 80);
        EXPECT_EQ(s.maxLog, 100);
        EXPECT_EQ(s.remoteEditReload, 2);
        EXPECT_TRUE(s.variablesAutoSort);
        EXPECT_TRUE(s.remoteEdit);
        EXPECT_FALSE(s.saveLog);
        EXPECT_EQ(s.placement.pageIndex, 0);
        EXPECT_FALSE(s.serverActive);
        EXPECT_EQ(s.varBefore, "/(");
        EXPECT_EQ(s.varAfter, ")");
        EXPECT_EQ(s.event, "PELO_EVENT");
        EXPECT_EQ(s.bindAddress, "127.0.0.1");
        EXPECT_EQ(s.languageDll, "");
        EXPECT_EQ(s.dynamicPath, "");
        EXPECT_EQ(s.placement.windowState, "normal");
        EXPECT_FALSE(s.placement.left || s.placement.top || s.placement.width ||
                     s.placement.height || s.placement.treeWidth);
        ASSERT_TRUE(f.host.applied);
        EXPECT_FALSE(f.host.applied->left || f.host.applied->top || f.host.applied->width ||
                     f.host.applied->height || f.host.applied->treeWidth);
        EXPECT_TRUE(f.state.tree.empty());
        EXPECT_TRUE(f.state.variables.empty());
        EXPECT_EQ(f.state.log.size(), 0u);
        EXPECT_EQ(f.treeError, "");
        EXPECT_EQ(f.host.statuses, (Strings{"<84>", "<48>", "<50>", ""}));
        // Loading writes nothing: a missing file stays missing.
        EXPECT_EQ(std::filesystem::exists(f.state.settingsPath), content.has_value());

        // Saving creates the file with the settings in their order; absent window keys stay
        // absent with a host that has no window.
        ASSERT_TRUE(f.save());
        EXPECT_EQ(f.file(), defaultSettings());
        EXPECT_EQ(f.host.statuses.back(), "");
    }
}

TEST(PersistentState, LoadingLeavesNoColumnTheSortColumn) {
    TempDir dir;
    AppState state;
    FakeHost host;
    state.settingsPath = dir.write("p.ini", "[Variables]\r\nb=1\r\na=2\r\n");
    state.variablesSort = {0, true}; // as a sort before a reload would leave it
    loadState(state, host, uiText);
    EXPECT_EQ(state.variablesSort.column, -1);
    EXPECT_FALSE(state.variablesSort.descending);
    EXPECT_EQ(variableNames(state), (Strings{"b=1", "a=2"}));
}

// The file is read with the state free, and whoever takes the state meanwhile (a request, the
// window's views) finds it whole as it was, never half loaded.
TEST(PersistentState, StateStaysFreeAndWholeWhileTheFileIsRead) {
    struct WatchingHost : FakeHost {
        AppState* state = nullptr;
        Strings seen; // at each loading text: what another thread found in the state
        void status(const std::string& text) override {
            FakeHost::status(text);
            if (text.empty())
                return;
            std::thread([&] {
                StateLock lock(state->mutex, std::defer_lock);
                if (!lock.tryLockFor(std::chrono::seconds(5))) {
                    seen.push_back(text + " locked");
                    return;
                }
                std::string found = text;
                for (const std::string& line : state->tree.toIndentedLines())
                    found += " " + line;
                for (const Variable& row : state->variables.rows())
                    found += " " + row.name;
                seen.push_back(found + " log " + std::to_string(state->log.size()));
            }).join();
        }
    };
    TempDir dir;
    AppState state;
    WatchingHost host;
    host.state = &state;
    state.settingsPath = dir.write("p.ini", "[Tree]\r\nNode0=old.htm\r\n[Variables]\r\nold=1\r\n");
    loadState(state, host, uiText);
    dir.write("p.ini", "[Settings]\r\nSaveLog=1\r\n[Tree]\r\nNode0=new.htm\r\n[Log]\r\n"
                       "Line0=3;a.htm;E;T;/a.htm\r\n[Variables]\r\nnew=2\r\n");
    host.seen.clear();
    loadState(state, host, uiText);
    EXPECT_EQ(host.seen, (Strings{"<84> old.htm old log 0", "<48> old.htm old log 0",
                                  "<49> old.htm old log 0", "<50> old.htm old log 0"}));
    EXPECT_EQ(state.tree.toIndentedLines(), (Strings{"new.htm"}));
    EXPECT_EQ(variableNames(state), (Strings{"new=2"}));
    EXPECT_EQ(state.log.size(), 1u);
}

TEST(PersistentState, ConstantsRepairedOnlyWhenPresentAndEmpty) {
    struct Case {
        std::string before, after;
        std::string varBefore, event;
    };
    const Case cases[] = {
        {"[Const]\r\nVarBefore=\r\nEvent= \"\" \r\nSiteLogVertical=\r\n",
         "[Const]\r\nVarBefore=/(\r\nEvent=PELO_EVENT\r\nSiteLogVertical=58\r\n", "/(",
         "PELO_EVENT"},
        // Line ends stay as they were; an unterminated last line gets CR LF.
        {"[Const]\nVarAfter=\nSiteLogHorizontal=", "[Const]\nVarAfter=)\nSiteLogHorizontal=10\r\n",
         "/(", "PELO_EVENT"},
        // Absent keys are not written; set ones are used.
        {"[Const]\r\nVarBefore={{\r\nEvent=ev\r\n", "[Const]\r\nVarBefore={{\r\nEvent=ev\r\n", "{{",
         "ev"},
        {"; nothing\r\n", "; nothing\r\n", "/(", "PELO_EVENT"},
    };
    for (const Case& c : cases) {
        TempDir dir;
        AppState state;
        FakeHost host;
        state.settingsPath = dir.write("p.ini", c.before);
        struct stat before {};
        ::stat(state.settingsPath.c_str(), &before);
        loadState(state, host, uiText);
        EXPECT_EQ(TempDir::read(state.settingsPath), c.after) << c.before;
        EXPECT_EQ(state.settings.varBefore, c.varBefore);
        EXPECT_EQ(state.settings.event, c.event);
        struct stat after {};
        ::stat(state.settingsPath.c_str(), &after);
        // Untouched files are not even rewritten.
        EXPECT_EQ(before.st_ino == after.st_ino, c.before == c.after) << c.before;
    }
}

TEST(PersistentState, SettingsFollowTheIntegerAndBooleanRules) {
    struct Case {
        std::string line;
        int port, maxLog;
        bool autoSort, saveLog;
    };
    const Case cases[] = {
        {"Port=8080\r\nMaxLog=5\r\nVariablesAutoSort=0\r\nSaveLog=1", 8080, 5, false, true},
        {"Port= 81 \r\nMaxLog=\"7\"\r\nVariablesAutoSort=2\r\nSaveLog=-1", 81, 7, true, true},
        // Not an integer: the default (an empty value too).
        {"Port=abc\r\nMaxLog=12x\r\nVariablesAutoSort=yes\r\nSaveLog=", 80, 100, true, false},
        {"Port=0x50\r\nMaxLog=1e3\r\nVariablesAutoSort=\r\nSaveLog=1.0", 80, 100, true, false},
        {"Port=99999999999\r\nMaxLog=+-3", 80, 100, true, false},
        // The log limit stays inside the range of its field.
        {"MaxLog=1", 80, 2, true, false},
        {"MaxLog=123456", 80, 9999, true, false},
    };
    for (const Case& c : cases) {
        Fixture f("[Settings]\r\n" + c.line + "\r\n");
        EXPECT_EQ(f.state.settings.port, c.port) << c.line;
        EXPECT_EQ(f.state.settings.maxLog, c.maxLog) << c.line;
        EXPECT_EQ(f.state.settings.variablesAutoSort, c.autoSort) << c.line;
        EXPECT_EQ(f.state.settings.saveLog, c.saveLog) << c.line;
    }
    EXPECT_EQ(parseSettingsInteger("-17"), -17);
    EXPECT_EQ(parseSettingsInteger("+3"), 3);
    EXPECT_EQ(parseSettingsInteger("2147483648"), std::nullopt);
    EXPECT_EQ(parseSettingsInteger("-"), std::nullopt);
}

TEST(PersistentState, AFileRoundTripChangesNothingElse) {
    // Everything the program writes already holds the value it will write; comments, unknown
    // keys and sections, LF line ends and unchanged sections must come back byte for byte.
    const std::string content =
        "; my settings\n[Settings]\nLanguageDll=\nDynamicPath=/srv/tmpl\nVirtualPath=app\n"
        "StaticPath=/srv/site\nStaticSite=index.htm\nStaticParameter=a=1&b=2\nPort=8080\n"
        "MaxLog=50\nRemoteEditReload=3\nTreeWidth=400\nLeft=10\nTop=20\nWidth=800\nHeight=600\n"
        "WindowState=maximized\nVariablesAutoSort=0\nRemoteEdit=1\nSaveLog=1\nServerActive=1\n"
        "PageIndex=2\nMyOwnKey=kept\n\n[Const]\nVarBefore={{\nVarAfter=}}\nSiteLogHorizontal=x\n"
        "\n[Tree]\nNode0=index.htm\nNode1=#Login\n[Variables]\nb=2\na=\"quoted\"\n"
        "[Log]\nLine0=8;a.htm;;T;/srv/site/a.htm\n[Other]\nz=1\n";
    Fixture f(content);
    EXPECT_EQ(f.state.settings.dynamicPath, "/srv/tmpl");
    EXPECT_EQ(f.state.settings.varBefore, "{{");
    EXPECT_EQ(f.host.applied->width, 800);
    EXPECT_EQ(f.host.applied->windowState, "maximized");
    EXPECT_EQ(f.host.applied->pageIndex, 2);
    EXPECT_EQ(variableNames(f.state), (Strings{"b=2", "a=quoted"}));
    EXPECT_EQ(f.state.log.size(), 1u);
    ASSERT_TRUE(f.save());
    EXPECT_EQ(f.file(), content);

    // A changed setting changes its own line only; the change flags rewrite their sections.
    f.state.settings.port = 9090;
    f.state.variablesChanged = true;
    f.state.treeChanged = true;
    ASSERT_TRUE(f.save());
    std::string expected = content;
    expected.replace(expected.find("Port=8080"), 9, "Port=9090");
    // Both sections move to the end; the quotes of the old value were never part of it.
    const std::string moved = "[Tree]\nNode0=index.htm\nNode1=#Login\n[Variables]\nb=2\n"
                              "a=\"quoted\"\n";
    expected.replace(expected.find(moved), moved.size(), "");
    expected += "[Variables]\r\nb=2\r\na=quoted\r\n[Tree]\r\nNode0=index.htm\r\n"
                "Node1=#Login\r\n";
    EXPECT_EQ(f.file(), expected);
}

TEST(PersistentState, RequestOrderOfVariablesIsSaved) {
    Fixture f("[Variables]\r\nAlpha=a\r\nBeta=b\r\nGamma=g\r\n");
    ASSERT_EQ(variableNames(f.state), (Strings{"Alpha=a", "Beta=b", "Gamma=g"}));
    for (const Variable& row : f.state.variables.rows())
        EXPECT_EQ(row.mark, Mark::Plain);

    // A request with auto-sort on sets Beta=1 and the new Delta=2.
    VariableTable& vars = f.state.variables;
    vars.resetMarks();
    const std::size_t beta = *vars.find("Beta");
    vars.setValue(beta, "1");
    vars.markPassed(beta);
    const std::size_t delta = vars.add("Delta", "2");
    vars.markUsed(delta, vars.leadingPassedCount());
    f.state.variablesChanged = true;

    ASSERT_TRUE(f.save());
    // The settings go after the old section; the rewritten section moves to the end.
    EXPECT_EQ(f.file(),
              defaultSettings() + "[Variables]\r\nBeta=1\r\nDelta=2\r\nAlpha=a\r\nGamma=g\r\n");
    EXPECT_FALSE(f.state.variablesChanged);
    EXPECT_EQ(f.host.statuses, (Strings{"<84>", "<48>", "<50>", "", "<51>", "<52>", ""}));
}

// Loading fills the variables list in one pass; the list must be the one that adding each row in
// turn gives: the same rows, the first row of a name found ignoring case, and afterwards the same
// answers to edits. A reload replaces a list that had marked, moved and removed rows.
TEST(PersistentState, LoadedVariablesAreTheListThatAddingEachRowGives) {
    const std::vector<std::pair<std::string, std::string>> files[] = {
        {},
        {{"Alpha", "a"}, {"beta", "b"}, {"BETA", "B"}, {"\xC4rger", "x"}, {"\xE4RGER", "y"}},
        {{"same", "1"}, {"Same", "2"}, {"SAME", "3"}, {"other", ""}},
    };
    const std::string probes[] = {"alpha", "Beta", "beta", "\xE4rger", "same", "OTHER", "none"};
    for (const auto& rows : files) {
        std::string text = "[Variables]\r\n";
        VariableTable expected;
        for (const auto& [name, value] : rows) {
            text += name + "=" + value + "\r\n";
            expected.add(name, value);
        }
        TempDir dir;
        AppState state;
        FakeHost host;
        state.settingsPath = dir.write("pelotest.ini", "[Variables]\r\nold=1\r\nOld=2\r\n");
        loadState(state, host, uiText);
        state.variables.markPassed(1);
        state.variables.remove(0);
        dir.write("pelotest.ini", text);
        loadState(state, host, uiText);

        VariableTable& loaded = state.variables;
        ASSERT_EQ(loaded.size(), expected.size());
        for (std::size_t i = 0; i < loaded.size(); ++i) {
            EXPECT_EQ(loaded[i].name, expected[i].name);
            EXPECT_EQ(loaded[i].value, expected[i].value);
            EXPECT_EQ(loaded[i].mark, Mark::Plain);
        }
        EXPECT_EQ(loaded.bytes(), expected.bytes());
        EXPECT_FALSE(loaded.anyMarked());
        for (const std::string& probe : probes)
            EXPECT_EQ(loaded.find(probe), expected.find(probe)) << probe;
        // Edits after the load: remove the first row, add one, move the last to the top.
        for (VariableTable* table : {&loaded, &expected}) {
            if (!table->empty())
                table->remove(0);
            table->add("beta", "new");
            table->move(table->size() - 1, 0);
        }
        for (const std::string& probe : probes)
            EXPECT_EQ(loaded.find(probe), expected.find(probe)) << "after edits: " << probe;
    }
}

TEST(PersistentState, LogIsKeptRemovedOrLeftByItsFlags) {
    const std::string log = "[Log]\r\nLine0=8;a.htm;;A;/s/a.htm\r\nLine1=3;b.htm;Ev;B;/t/b.htm\r\n";
    struct Case {
        bool saveLog;
        bool newRequest;
        std::string section; // the Log section after the save
    };
    const Case cases[] = {
        // No change of the log: the section stays as it is, whatever SaveLog says.
        {false, false, log},
        {true, false, log},
        // A page served with SaveLog off removes it; with SaveLog on the rows are written.
        {false, true, ""},
        {true, true,
         "[Log]\r\nLine0=11;x.htm;;;/s/x.htm\r\nLine1=8;a.htm;;A;/s/a.htm\r\n"
         "Line2=3;b.htm;Ev;B;/t/b.htm\r\n"},
    };
    for (const Case& c : cases) {
        const std::string settings = c.saveLog ? "[Settings]\r\nSaveLog=1\r\n" : "";
        Fixture f(log + settings);
        EXPECT_EQ(f.state.log.size(), c.saveLog ? 2u : 0u);
        if (c.newRequest) {
            f.state.log.add({LogKind::NotFound, "x.htm", "", "", "/s/x.htm"},
                            f.state.settings.maxLog);
            f.state.logChanged = true;
        }
        ASSERT_TRUE(f.save());
        const std::string text = f.file();
        const std::size_t start = text.find("[Log]");
        const std::string section =
            start == std::string::npos ? "" : text.substr(start, text.find("[Settings]") - start);
        EXPECT_EQ(section, c.section) << c.saveLog << c.newRequest;
        EXPECT_EQ(std::count(f.host.statuses.begin(), f.host.statuses.end(), "<54>"),
                  c.saveLog && c.newRequest ? 1 : 0);
    }
}

TEST(PersistentState, LogLoadsItsFirstMaxLogRows) {
    Fixture f("[Settings]\r\nSaveLog=1\r\nMaxLog=2\r\n[Log]\r\nLine0=8;new.htm;;;\r\n"
              "Line1=8;mid.htm;;;\r\nLine2=8;old.htm;;;\r\n");
    ASSERT_EQ(f.state.log.size(), 2u);
    EXPECT_EQ(f.state.log.rows()[0].fileName, "new.htm");
    EXPECT_EQ(f.state.log.rows()[1].fileName, "mid.htm");
    EXPECT_EQ(f.host.statuses, (Strings{"<84>", "<48>", "<49>", "<50>", ""}));
}

TEST(PersistentState, LogLinesSplitAtTheFirstFourSemicolons) {
    struct Case {
        std::string line;
        LogEntry entry;
    };
    const Case cases[] = {
        {"8;index.htm;Login;Anmeldung;c:\\sites\\index.htm",
         {8, "index.htm", "Login", "Anmeldung", "c:\\sites\\index.htm"}},
        {"8;a.htm;E;T;c:\\x;y.htm", {8, "a.htm", "E", "T", "c:\\x;y.htm"}},
        {"x;a;b;c;d", {-1, "a", "b", "c", "d"}},
        {"2;;Save;kein Template zugeordnet;", {2, "", "Save", "kein Template zugeordnet", ""}},
        {"3;short", {3, "short", "", "", ""}},
        {"", {-1, "", "", "", ""}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(parseLogLine(c.line), c.entry) << c.line;
    EXPECT_EQ(formatLogLine(cases[0].entry), cases[0].line);
    EXPECT_EQ(formatLogLine(cases[1].entry), cases[1].line);

    // Fields holding ';', line breaks or ESC are escaped and come back unchanged.
    const LogEntry odd{3, "a;b.htm", "E;v", "Title;\r\nnext\x1B", "/p;q\n"};
    const std::string line = formatLogLine(odd);
    EXPECT_EQ(line, "3;a\x1B"
                    "3Bb.htm;E\x1B"
                    "3Bv;Title\x1B"
                    "3B\x1B"
                    "0D\x1B"
                    "0Anext\x1B"
                    "1B;/p;q\x1B"
                    "0A");
    EXPECT_EQ(parseLogLine(line), odd);
}

TEST(PersistentState, TreeSectionStoresOneHashPerLevel) {
    Fixture f(std::nullopt);
    TreeNode& root = f.state.tree.appendRoot("index.htm");
    root.appendChild("Login").appendChild("menu.htm (Menu)");
    f.state.treeChanged = true;
    ASSERT_TRUE(f.save());
    EXPECT_EQ(f.file(),
              defaultSettings() +
                  "[Tree]\r\nNode0=index.htm\r\nNode1=#Login\r\nNode2=##menu.htm (Menu)\r\n");

    AppState loaded;
    loaded.settingsPath = f.state.settingsPath;
    FakeHost host;
    EXPECT_EQ(loadState(loaded, host, uiText), "");
    EXPECT_EQ(loaded.tree.toIndentedLines(),
              (Strings{"index.htm", "\tLogin", "\t\tmenu.htm (Menu)"}));
    for (TreeNode* node : loaded.tree.flatten())
        EXPECT_TRUE(node->expanded);
}

// The tree's limits bound what requests add: a file that holds more is read and saved whole.
TEST(PersistentState, ATreeLargerThanItsLimitsIsKeptWhole) {
    const std::string tree = "[Tree]\r\nNode0=index.htm\r\nNode1=#Login\r\nNode2=#Logout\r\n";
    Fixture f("[Const]\r\nMaxTreeNodes=2\r\nMaxTreeBytes=9\r\nMaxTreeNodeBytes=3\r\n" + tree);
    EXPECT_EQ(f.state.tree.toIndentedLines(), (Strings{"index.htm", "\tLogin", "\tLogout"}));
    const TreeLimits& limits = f.state.tree.limits();
    EXPECT_EQ((std::vector<std::size_t>{limits.maxNodes, limits.maxBytes, limits.maxNodeBytes}),
              (std::vector<std::size_t>{2, 9, 3}));
    EXPECT_EQ(f.state.tree.learnChild(*f.state.tree.first(), "X"), EventTree::Learnt::OverLimits);

    f.state.treeChanged = true;
    ASSERT_TRUE(f.save());
    EXPECT_NE(f.file().find(tree), std::string::npos);
}

TEST(PersistentState, BadTreeLineKeepsNodesSoFarAndStartUpGoesOn) {
    Fixture f("[Tree]\r\nNode0=index.htm\r\nNode1=#Login\r\nNode2=###deep\r\nNode3=#after\r\n"
              "[Variables]\r\nv=1\r\n");
    EXPECT_EQ(f.treeError, "Ung\xFC"
                           "ltige Ebene (3) f\xFC"
                           "r Eintrag \"deep\"");
    EXPECT_EQ(f.state.tree.toIndentedLines(), (Strings{"index.htm", "\tLogin"}));
    EXPECT_EQ(variableNames(f.state), (Strings{"v=1"}));
    EXPECT_TRUE(f.state.tree.first()->expanded);
}

TEST(PersistentState, OddNamesAndValuesSurviveASaveAndAreStoredSafely) {
    Fixture f(std::nullopt);
    const std::vector<std::pair<std::string, std::string>> variables = {
        {"a=b", "1"},
        {";comment", "2"},
        {"[Settings]", "3"},
        {" padded\t", "  both  "},
        {"\xC4rger", "\"quoted\""},
        {"lines", "one\r\n[Settings]\r\nPort=1\nthree"},
        {"esc\x1B", "\x1B"
                    "41"},
        {"", "'x'"},
        {"long", std::string(100000, 'v')},
    };
    for (const auto& [name, value] : variables)
        f.state.variables.add(name, value);
    TreeNode& root = f.state.tree.appendRoot(" lead");
    root.appendChild("a#b (E#1)").appendChild("tab\there ");
    root.appendChild("\tx");
    f.state.log.add({8, "semi;colon", "", "\"T\"", " p "}, 100);
    f.state.settings.saveLog = true;
    f.state.settings.staticParameter = " x=1 ";
    f.state.variablesChanged = f.state.treeChanged = f.state.logChanged = true;
    ASSERT_TRUE(f.save());

    const std::string text = f.file();
    // Stored safely: no line of the file begins a section except the five headers.
    std::size_t headers = 0;
    for (std::size_t at = 0; (at = text.find("\r\n[", at)) != std::string::npos; ++at)
        ++headers;
    EXPECT_EQ(headers + (text.front() == '[' ? 1 : 0), 4u); // Settings, Variables, Tree, Log
    EXPECT_NE(text.find("Node1=#a\x1B"
                        "23b (E\x1B"
                        "231)\r\n"),
              std::string::npos);
    EXPECT_NE(text.find("Node2=\"##tab#here \"\r\n"), std::string::npos);

    AppState loaded;
    loaded.settingsPath = f.state.settingsPath;
    FakeHost host;
    loadState(loaded, host, uiText);
    ASSERT_EQ(loaded.variables.size(), variables.size());
    for (std::size_t i = 0; i < variables.size(); ++i) {
        EXPECT_EQ(loaded.variables[i].name, variables[i].first);
        EXPECT_EQ(loaded.variables[i].value, variables[i].second) << variables[i].first;
    }
    EXPECT_EQ(loaded.tree.toIndentedLines(), f.state.tree.toIndentedLines());
    EXPECT_EQ(loaded.tree.first()->children[1]->text, "\tx");
    ASSERT_EQ(loaded.log.size(), 1u);
    EXPECT_EQ(loaded.log.rows()[0], f.state.log.rows()[0]);
    EXPECT_EQ(loaded.settings.staticParameter, " x=1 ");
}

TEST(PersistentState, OldFilesReadAsBefore) {
    // A '#' inside an old node text was always a tab, and ';' after the fourth field is part of
    // the path.
    Fixture f("[Settings]\r\nSaveLog=1\r\n[Tree]\r\nNode0=r\r\nNode1=#a#b\r\n"
              "[Log]\r\nLine0=8;a;b;c;d;e\r\n");
    EXPECT_EQ(f.state.tree.toIndentedLines(), (Strings{"r", "\ta\tb"}));
    EXPECT_EQ(f.state.log.rows()[0].filePath, "d;e");
}

TEST(PersistentState, WindowPlacementGoesBackAsItWasRead) {
    Fixture f("[Settings]\r\nLeft=10\r\nTop=abc\r\nWindowState=minimized\r\nPageIndex=1\r\n");
    ASSERT_TRUE(f.host.applied);
    EXPECT_EQ(f.host.applied->left, 10);
    EXPECT_FALSE(f.host.applied->top);
    EXPECT_FALSE(f.host.applied->width);
    EXPECT_EQ(f.host.applied->windowState, "minimized");
    EXPECT_EQ(f.host.applied->pageIndex, 1);
    ASSERT_TRUE(f.save());
    const std::string text = f.file();
    EXPECT_NE(text.find("Left=10\r\nTop=abc\r\nWindowState=minimized\r\nPageIndex=1\r\n"),
              std::string::npos);
    EXPECT_EQ(text.find("Width="), std::string::npos);

    // A window reports its own bounds: all of them are written.
    f.host.current = WindowPlacement{1, 2, 3, 4, 400, "maximized", 2};
    ASSERT_TRUE(f.save());
    EXPECT_NE(f.file().find("Left=1\r\nTop=2\r\nWindowState=maximized\r\nPageIndex=2\r\n"
                            "LanguageDll=\r\n"),
              std::string::npos);
    EXPECT_NE(f.file().find("TreeWidth=400\r\nWidth=3\r\nHeight=4\r\n"), std::string::npos);
}

TEST(PersistentState, FailedSaveLosesNothing) {
    Fixture f("[Settings]\r\nPort=8080\r\n[Variables]\r\nkeep=1\r\n");
    const std::string old = f.file();
    f.state.variables.add("big", std::string(200000, 'x'));
    f.state.variablesChanged = true;

    rlimit limit{};
    ::getrlimit(RLIMIT_FSIZE, &limit);
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = limit;
    small.rlim_cur = 8192; // the write stops halfway through the file
    ::setrlimit(RLIMIT_FSIZE, &small);
    const bool saved = f.save();
    ::setrlimit(RLIMIT_FSIZE, &limit);
    std::signal(SIGXFSZ, previous);

    EXPECT_FALSE(saved);
    EXPECT_EQ(f.file(), old);
    EXPECT_TRUE(f.state.variablesChanged); // still to be saved
    std::size_t files = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(f.dir.path()))
        ++files;
    EXPECT_EQ(files, 1u);
    ASSERT_TRUE(f.save()); // and the next attempt writes everything
    EXPECT_NE(f.file().find(std::string(200000, 'x')), std::string::npos);
}

TEST(PersistentState, SaveKeepsHandEditsMadeWhileRunning) {
    Fixture f("[Settings]\r\nPort=8080\r\n");
    f.dir.write("pelotest.ini", "[Settings]\r\nPort=8080\r\nLastLangugeResPath=/x/\r\n"
                                "[Const]\r\nSiteLogVertical=70\r\n");
    ASSERT_TRUE(f.save());
    EXPECT_NE(f.file().find("LastLangugeResPath=/x/\r\n"), std::string::npos);
    EXPECT_NE(f.file().find("[Const]\r\nSiteLogVertical=70\r\n"), std::string::npos);
}

// The bytes of a settings file saved as UTF-16LE with its byte-order mark, and back.
std::string utf16File(std::u16string_view text) {
    std::string bytes = "\xFF\xFE";
    for (const char16_t unit : text) {
        bytes.push_back(static_cast<char>(unit & 0xFF));
        bytes.push_back(static_cast<char>(unit >> 8));
    }
    return bytes;
}
std::u16string utf16Text(std::string_view bytes) {
    std::u16string text;
    for (std::size_t i = 2; i + 1 < bytes.size(); i += 2)
        text.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                             static_cast<unsigned char>(bytes[i + 1]) << 8));
    return text;
}

// A settings file saved as UTF-16 stays UTF-16, and what the program cannot read as
// Windows-1252 (a comment, a variable's name) survives every run that saves it.
TEST(PersistentState, AUtf16FileKeepsEveryCharacterOverRuns) {
    Fixture f(utf16File(u"; \u0141\u00F3d\u017A\r\n[Settings]\r\nPort=8080\r\n[Variables]\r\n"
                        u"\u0141\u00F3d\u017A=1\r\nx=\u20AC\r\n"));
    EXPECT_EQ(variableNames(f.state), (Strings{"?\xF3"
                                               "d?=1",
                                               "x=\x80"}));
    f.state.variables.add("y", "\xE4");
    f.state.variablesChanged = true;
    ASSERT_TRUE(f.save());
    for (int run = 0; run < 2; ++run) { // the next runs read and write it again
        loadState(f.state, f.host, uiText);
        f.state.variablesChanged = true;
        ASSERT_TRUE(f.save());
    }
    const std::string file = f.file();
    ASSERT_EQ(file.substr(0, 2), "\xFF\xFE");
    const std::u16string text = utf16Text(file);
    EXPECT_TRUE(text.starts_with(u"; \u0141\u00F3d\u017A\r\n[Settings]\r\n")) << file;
    EXPECT_NE(text.find(u"[Variables]\r\n\u0141\u00F3d\u017A=1\r\nx=\u20AC\r\ny=\u00E4\r\n"),
              std::u16string::npos)
        << file;
}

// A settings file the start found read-only (or could not read) is never written, whatever
// changed: saving succeeds without a write. (The one key the window writes alone, the export
// folder, is held to the same rule where the window writes it.)
TEST(PersistentState, AReadOnlySettingsFileIsNeverWritten) {
    Fixture f("[Settings]\r\nPort=8080\r\n[Variables]\r\nkeep=1\r\n");
    f.state.settingsReadOnly = true;
    const std::string before = f.file();
    const ino_t inode = f.inode();
    f.state.settings.port = 9090;
    f.state.variables.add("new", "1");
    f.state.variablesChanged = f.state.treeChanged = f.state.logChanged = true;
    EXPECT_TRUE(f.save());
    EXPECT_EQ(f.file(), before);
    EXPECT_EQ(f.inode(), inode);
}

TEST(ExpandFolderVariables, ReplacesReferencesFromTheVariables) {
    struct Case {
        std::string folder;
        std::vector<std::pair<std::string, std::string>> variables;
        std::string expected;
        bool found;
    };
    const Case cases[] = {
        {"c:\\/(Test)", {{"Test", "sites"}}, "c:/sites", true},
        {"c:\\/(Test)", {}, "c:", true},
        {"/srv//(test)/x", {{"TEST", "a/(b)c"}}, "/srv/ac/x", true},
        {"/srv//(A)//(B)//(A)", {{"a", "1"}, {"b", "2"}}, "/srv/1/2/1", true},
        {"/srv/site/", {}, "/srv/site", false},
        {"//(root)", {}, "/", true},
        {"/srv//(open", {}, "/srv//(open", false},
        {"", {}, "", false},
    };
    for (const Case& c : cases) {
        AppState state;
        FakeHost host;
        for (const auto& [name, value] : c.variables)
            state.variables.add(name, value);
        const ExpandedFolder result = expandFolderVariables(state, host, uiText, c.folder, false);
        EXPECT_EQ(result.folder, c.expected) << c.folder;
        EXPECT_EQ(result.found, c.found) << c.folder;
        EXPECT_TRUE(host.questions.empty());
        EXPECT_FALSE(state.variablesChanged); // without asking, no mark changes
    }
}

TEST(ExpandFolderVariables, AsksTheUserAndMarksThePlainRowUsed) {
    AppState state;
    FakeHost host;
    state.variables.add("a", "x");
    state.variables.add("Test", "sites/(gone)");
    state.variables.add("B", "y");
    state.variables.markPassed(2); // B, a, Test
    host.answers = {std::optional<std::string>("mine"), std::nullopt};
    const ExpandedFolder result =
        expandFolderVariables(state, host, uiText, "/w//(Test)//(none)", true);
    EXPECT_EQ(result.folder, "/w/mine");
    EXPECT_TRUE(result.found);
    EXPECT_EQ(host.questions, (Strings{"<95>|<96 \"Test\">|sites", "<95>|<96 \"none\">|"}));
    // Test moved just below the Passed block, marked Used; its value is unchanged.
    EXPECT_EQ(state.variables[1].name, "Test");
    EXPECT_EQ(state.variables[1].mark, Mark::Used);
    EXPECT_EQ(state.variables[1].value, "sites/(gone)");
    EXPECT_TRUE(state.variablesChanged);

    // The assignment dialog's texts; with auto-sort off no mark changes.
    AppState off;
    off.settings.variablesAutoSort = false;
    off.variables.add("a", "1");
    off.variables.add("v", "2");
    FakeHost asked;
    expandFolderVariables(off, asked, uiText, "//(v)", true, UiText::AssignDynamicPathCaption,
                          UiText::AssignDynamicPathPrompt);
    EXPECT_EQ(asked.questions, (Strings{"<98>|<99 \"v\">|2"}));
    EXPECT_EQ(off.variables[1].mark, Mark::Plain);
    EXPECT_FALSE(off.variablesChanged);
}

TEST(ExpandFolderVariables, StopsAnExpansionThatNeverEnds) {
    // A value that re-forms its reference with a ')' that follows: one pass per ')', grown
    // by an 'x' each time, until the bound of passes.
    AppState state;
    FakeHost host;
    state.variables.add("A", "x/(A");
    const std::string closers(500, ')');
    ExpandedFolder result = expandFolderVariables(state, host, uiText, "/(A)" + closers, false);
    EXPECT_TRUE(result.found);
    EXPECT_EQ(result.folder, std::string(100, 'x') + "/(A)" + std::string(400, ')'));

    // An answer that contains its own reference again would be asked for ever.
    FakeHost stubborn;
    for (int i = 0; i < 1000; ++i)
        stubborn.answers.push_back(std::optional<std::string>("/(B)/(B)"));
    result = expandFolderVariables(state, stubborn, uiText, "/(B)", true);
    EXPECT_LE(stubborn.questions.size(), 100u);
    EXPECT_LE(result.folder.size(), 2u * 65536u);
}

// One key written while the program runs (the export folder) is stored as every value is: what
// is read back at the next start is what was written, line breaks, escapes and blanks included.
TEST(PersistentState, OneKeyWrittenAloneReadsBackWhole) {
    const std::string values[] = {"/tmp/a\nb/", "/tmp/a\r\nb/",
                                  "/tmp/\x1b"
                                  "41/",
                                  " /tmp/x/ ", "\"/tmp/x/\""};
    for (const std::string& value : values) {
        Fixture f("[Settings]\r\nPort=81\r\n");
        ASSERT_TRUE(
            writeSettingsKey(f.state.settingsPath, "Settings", "LastLangugeResPath", value));
        const Fixture again(f.file());
        EXPECT_EQ(again.state.settings.lastLangugeResPath, value) << f.file();
        EXPECT_EQ(again.state.settings.port, 81) << f.file();
    }
}

} // namespace
} // namespace pelotest

#include "server/ServerPages.h"

#include "state/AppState.h"
#include "support/TempDir.h"
#include "support/TestData.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace pelotest {
namespace {

using test::TempDir;

// ---------------------------------------------------------------------------------------------
// Popup scripts

std::string expectedSiteLogScript(const std::string& left, const std::string& top) {
    return test::loadTestData("scripts/site-log-popup.js", {{"LEFT", left}, {"TOP", top}});
}

std::string expectedVarListScript(const std::string& left, const std::string& top) {
    return test::loadTestData("scripts/var-list-popup.js", {{"LEFT", left}, {"TOP", top}});
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
        EXPECT_EQ(siteLogPopupScript(PopupOffsets(state)),
                  expectedSiteLogScript(c.siteLeft, c.siteTop));
        EXPECT_EQ(popSiteListBlock(PopupOffsets(state)),
                  "<script language=\"javascript\">function PopSiteList(){" +
                      expectedSiteLogScript(c.siteLeft, c.siteTop) + "}" + "</script>");
        EXPECT_EQ(varListPopupScript(PopupOffsets(state)),
                  expectedVarListScript(c.varLeft, c.varTop));
    }
}

TEST(PopupScripts, SeeAHandEditWithoutARestart) {
    TempDir dir;
    AppState state;
    state.settingsPath = dir.write("pelotest.ini", "[Const]\r\nSiteLogHorizontal=1\r\n");
    EXPECT_EQ(siteLogPopupScript(PopupOffsets(state)), expectedSiteLogScript("201", "326"));
    dir.write("pelotest.ini", "[Const]\r\nSiteLogHorizontal=2\r\n");
    EXPECT_EQ(siteLogPopupScript(PopupOffsets(state)), expectedSiteLogScript("202", "326"));
}

// Offsets kept from a settled file give way to an edit of the same size and to a replacement.
TEST(PopupScripts, KeptOffsetsGiveWayToAChangedSettingsFile) {
    const struct {
        const char* how;
        bool byRename;
    } cases[] = {{"edited in place", false}, {"replaced by rename", true}};
    TempDir dirs[2];
    for (const TempDir& dir : dirs)
        dir.write("pelotest.ini", "[Const]\r\nSiteLogHorizontal=1\r\n");
    std::this_thread::sleep_for(std::chrono::milliseconds(1100)); // settled: kept when read
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(cases[i].how);
        AppState state;
        state.settingsPath = dirs[i].path() / "pelotest.ini";
        EXPECT_EQ(siteLogPopupScript(PopupOffsets(state)), expectedSiteLogScript("201", "326"));
        EXPECT_EQ(siteLogPopupScript(PopupOffsets(state)), expectedSiteLogScript("201", "326"));
        const std::string edited = "[Const]\r\nSiteLogHorizontal=3\r\n";
        if (cases[i].byRename) {
            std::filesystem::rename(dirs[i].write("new.ini", edited), state.settingsPath);
        } else {
            std::ofstream out(state.settingsPath, std::ios::binary | std::ios::in | std::ios::out);
            out << edited;
        }
        EXPECT_EQ(siteLogPopupScript(PopupOffsets(state)), expectedSiteLogScript("203", "326"));
    }
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
        EXPECT_EQ(injectSiteLogScript(PopupOffsets(state), c.line), c.injected) << c.line;
}

} // namespace
} // namespace pelotest

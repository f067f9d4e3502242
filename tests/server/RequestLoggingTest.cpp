#include "server/RequestLogging.h"

#include "CountingHost.h"

#include <gtest/gtest.h>

#include <string>

namespace pelotest {
namespace {

using test::CountingHost;

// ---------------------------------------------------------------------------------------------
// Request log

LogEntry page(const std::string& name) {
    return {LogKind::StaticPage, name, "", "T " + name, "/srv/" + name};
}

TEST(RequestLogging, KeepsTheNewestRowsUnderTheLimit) {
    AppState state;
    CountingHost host{state};
    state.settings.maxLog = 2;
    for (const char* name : {"1.htm", "2.htm", "3.htm"})
        addLogEntry(state, host, page(name));
    ASSERT_EQ(state.log.size(), 2u);
    EXPECT_EQ(state.log.rows()[0], page("3.htm"));
    EXPECT_EQ(state.log.rows()[1], page("2.htm"));
    EXPECT_TRUE(state.logChanged);
    EXPECT_EQ(host.logs, 3);
}

TEST(RequestLogging, LoweringTheLimitDoesNotShortenTheLog) {
    AppState state;
    CountingHost host{state};
    for (int i = 0; i < 100; ++i)
        addLogEntry(state, host, page(std::to_string(i) + ".htm"));
    ASSERT_EQ(state.log.size(), 100u);
    state.settings.maxLog = 10;
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
    state.settings.maxLog = 0;
    for (const char* name : {"1.htm", "2.htm", "3.htm"})
        addLogEntry(state, host, page(name));
    ASSERT_EQ(state.log.size(), 2u);
    EXPECT_EQ(state.log.rows()[0], page("3.htm"));
}

} // namespace
} // namespace pelotest

#include "state/RequestLog.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace pelotest {
namespace {

LogEntry row(const std::string& name) {
    return LogEntry{LogKind::StaticPage, name, "", "", ""};
}

std::vector<std::string> namesOf(const RequestLog& log) {
    std::vector<std::string> names;
    for (const LogEntry& entry : log.rows())
        names.push_back(entry.fileName);
    return names;
}

TEST(RequestLog, NewestFirstAndAtMostOneRowDroppedPerInsertion) {
    RequestLog log;
    log.add(row("1"), 2);
    log.add(row("2"), 2);
    log.add(row("3"), 2);
    EXPECT_EQ(namesOf(log), (std::vector<std::string>{"3", "2"}));

    // A lowered limit only stops growth: 10 rows, limit 5, one more request -> still 10.
    RequestLog big;
    for (int i = 0; i < 10; ++i)
        big.add(row(std::to_string(i)), 100);
    big.add(row("new"), 5);
    EXPECT_EQ(big.size(), 10u);
    EXPECT_EQ(big.rows().front().fileName, "new");
    EXPECT_EQ(big.rows().back().fileName, "1");

    big.remove(0);
    big.remove(99);
    EXPECT_EQ(big.rows().front().fileName, "9");
    big.clear();
    EXPECT_EQ(big.size(), 0u);
}

TEST(RequestLog, LoadingKeepsTheFirstRowsUpToTheLimit) {
    RequestLog log;
    for (const char* name : {"newest", "b", "c", "oldest"})
        log.appendLoaded(row(name), 3);
    EXPECT_EQ(namesOf(log), (std::vector<std::string>{"newest", "b", "c"}));
}

} // namespace
} // namespace pelotest

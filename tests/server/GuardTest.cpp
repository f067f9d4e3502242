// RequestBusy: one request at a time while auto-sort is on, several at once otherwise.

#include "server/RequestHandler.h"

#include "ServerTestSupport.h"
#include "support/HttpTestClient.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>

namespace pelotest {
namespace {

using namespace std::chrono_literals;

// Enters the guard on another thread; the future is ready once it got in.
std::future<void> enterLater(RequestBusy& busy, const std::atomic<bool>& autoSort) {
    return std::async(std::launch::async, [&] { busy.enter([&] { return autoSort.load(); }); });
}

TEST(RequestBusy, WithAutoSortOneRequestAtATime) {
    RequestBusy busy;
    std::atomic<bool> autoSort = true;
    busy.enter([&] { return autoSort.load(); });
    auto second = enterLater(busy, autoSort);
    EXPECT_EQ(second.wait_for(200ms), std::future_status::timeout);
    busy.leave();
    EXPECT_EQ(second.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(busy.inProgress(), 1);
    busy.leave();
    EXPECT_EQ(busy.inProgress(), 0);
}

TEST(RequestBusy, WithoutAutoSortRequestsOverlap) {
    RequestBusy busy;
    std::atomic<bool> autoSort = false;
    busy.enter([&] { return autoSort.load(); });
    auto second = enterLater(busy, autoSort);
    EXPECT_EQ(second.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(busy.inProgress(), 2);
    // Switching auto-sort on now makes the next one wait until both have ended.
    autoSort = true;
    auto third = enterLater(busy, autoSort);
    EXPECT_EQ(third.wait_for(200ms), std::future_status::timeout);
    busy.leave();
    EXPECT_EQ(third.wait_for(200ms), std::future_status::timeout);
    busy.leave();
    EXPECT_EQ(third.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(busy.inProgress(), 1);
    busy.leave();
}

TEST(RequestBusy, AWaitingRequestNoticesAutoSortSwitchedOffWhenWoken) {
    RequestBusy busy;
    std::atomic<bool> autoSort = true;
    busy.enter([&] { return autoSort.load(); });
    busy.enter([] { return false; }); // a request that came in while auto-sort was off
    auto waiting = enterLater(busy, autoSort);
    EXPECT_EQ(waiting.wait_for(200ms), std::future_status::timeout);
    autoSort = false;
    busy.leave(); // one request is still in progress, but auto-sort is off now
    EXPECT_EQ(waiting.wait_for(5s), std::future_status::ready);
    busy.leave();
    busy.leave();
}

// Two slow requests through the real server: with auto-sort on, the second starts only after
// the first has ended, and both leave their effects in arrival order.
TEST(RequestBusy, SlowRequestsOverHttpAreSerialised) {
    AppState state;
    test::TestHost host;
    host.delay = 300ms;
    const test::TestServer server(state, host);
    auto first = std::async(std::launch::async,
                            [&] { return test::httpGet(server.port(), "/x.htm?First=1"); });
    while (host.variablesNotes == 0) // the first is inside its slow part
        std::this_thread::sleep_for(5ms);
    auto second = std::async(std::launch::async,
                             [&] { return test::httpGet(server.port(), "/x.htm?Second=2"); });
    first.get();
    second.get();
    const auto calls = host.calls();
    ASSERT_EQ(calls.size(), 2u); // one notification per request
    EXPECT_LE(calls[0].second, calls[1].first);
    std::lock_guard lock(state.mutex);
    EXPECT_EQ(test::describeVariables(state.variables),
              (std::vector<std::string>{"Second=2|U", "First=1"}));
}

} // namespace
} // namespace pelotest

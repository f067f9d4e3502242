// The lanes and their watcher (see LanePool.h).

#include "server/LanePool.h"

#include "platform/Sockets.h"

#include <algorithm>
#include <chrono>
#include <stdexcept>
#include <system_error>

namespace pelotest {

LanePool::LanePool() {
    // Half the cores: the client, a browser or a load tool, runs on the same machine and needs
    // the other half (docs/architecture.md).
    const std::size_t count = std::max(1u, std::thread::hardware_concurrency() / 2);
    for (std::size_t i = 0; i < count; ++i)
        lanes_.push_back(std::make_unique<Lane>());
}

LanePool::~LanePool() {
    stop();
}

void Lane::start() {
    context.restart();
    work.emplace(context.get_executor());
    inHandlers = 0;
    std::lock_guard lock(mutex);
    addRunner();
    if (runners.empty())
        throw std::runtime_error("Cannot start the threads of the HTTP server");
}

void Lane::addRunner() {
    for (const std::thread::id id : finished) {
        const auto it = std::find_if(runners.begin(), runners.end(),
                                     [id](const std::thread& t) { return t.get_id() == id; });
        if (it != runners.end()) {
            it->join();
            runners.erase(it);
        }
    }
    finished.clear();
    try {
        runners.emplace_back([this] { run(); });
        ++runnerCount;
    } catch (const std::system_error&) {
        // No thread to be had: the threads there are go on serving.
    }
}

void Lane::run() {
    // A client that leaves during a large file must end its connection, not the process.
    keepSendsToAGonePeerFromEndingTheProcess();
    for (;;) {
        try {
            while (context.run_one() > 0)
                if (leavesAsSurplus())
                    return;
            return;
        } catch (...) {
            // A failure of one connection must not end the process; its socket closes with it,
            // the thread serves the others.
        }
    }
}

// A thread added for a blocked handler ends once it is no longer needed.
bool Lane::leavesAsSurplus() {
    if (runnerCount.load() <= 1)
        return false;
    std::lock_guard lock(mutex);
    if (runnerCount.load() <= 1 || inHandlers.load() + 1 >= runnerCount.load())
        return false;
    --runnerCount;
    finished.push_back(std::this_thread::get_id());
    return true;
}

void Lane::stop() {
    std::vector<std::thread> ending;
    {
        std::lock_guard lock(mutex);
        work.reset();
        ending.swap(runners);
        finished.clear();
    }
    context.stop();
    for (std::thread& thread : ending)
        thread.join();
    runnerCount = 0;
}

void LanePool::start() {
    {
        std::lock_guard lock(watchMutex_);
        watchStop_ = false;
    }
    for (auto& lane : lanes_)
        lane->start();
}

void LanePool::stop() {
    stopWatcher();
    for (auto& lane : lanes_)
        lane->stop();
}

void LanePool::startWatcher() {
    std::lock_guard lock(watchMutex_);
    if (watching_ || watchStop_)
        return;
    if (watcher_.joinable())
        watcher_.join(); // the previous one has ended (it clears watching_ as its last step)
    try {
        watcher_ = std::thread([this] { watchLanes(); });
        watching_ = true;
    } catch (const std::system_error&) {
        // Without a watcher blocked handlers only hold up their own lane for longer.
    }
}

void LanePool::watchLanes() {
    // Every 10 ms while no lane has all its threads in handlers. Once one has, every 2 ms, so
    // that a long handler (a page that sorts 100,000 variables runs for 30 ms) holds up the other
    // connections of its lane for a few milliseconds only; looking that often all the time would
    // cost the busy server a few per cent of its rate in wake-ups.
    constexpr auto kLook = std::chrono::milliseconds(10);
    constexpr auto kCloseLook = std::chrono::milliseconds(2);
    constexpr int kStalledLooks = 2;
    constexpr auto kQuietEnd = std::chrono::seconds(1);
    std::unique_lock lock(watchMutex_);
    auto wait = kLook;
    auto lastActive = std::chrono::steady_clock::now();
    while (!watchStop_) {
        watchWake_.wait_for(lock, wait);
        if (watchStop_)
            break;
        bool active = false;
        bool allBusy = false;
        for (auto& lanePtr : lanes_) {
            Lane& lane = *lanePtr;
            const std::uint64_t handled = lane.handled.load();
            const std::size_t busy = lane.inHandlers.load();
            active = active || busy > 0 || handled != lane.seenHandled;
            const bool laneAllBusy = busy > 0 && busy >= lane.runnerCount.load();
            allBusy = allBusy || laneAllBusy;
            // Stalled: every thread in a handler, and none of them ended since the last look.
            lane.stalledLooks =
                laneAllBusy && handled == lane.seenHandled ? lane.stalledLooks + 1 : 0;
            lane.seenHandled = handled;
            if (lane.stalledLooks >= kStalledLooks) {
                lane.stalledLooks = 0;
                std::lock_guard laneLock(lane.mutex);
                if (lane.work)
                    lane.addRunner();
            }
        }
        wait = allBusy ? kCloseLook : kLook;
        const auto now = std::chrono::steady_clock::now();
        if (active)
            lastActive = now;
        else if (now - lastActive >= kQuietEnd) {
            // A handler entered after this test sees watching_ cleared and starts a new watcher
            // (it waits for watchMutex_); one entered before it is seen here.
            watching_ = false;
            bool entered = false;
            for (auto& lanePtr : lanes_)
                entered = entered || lanePtr->inHandlers.load() > 0;
            if (!entered)
                return;
            watching_ = true;
            lastActive = now;
        }
    }
    watching_ = false;
}

void LanePool::stopWatcher() {
    {
        std::lock_guard lock(watchMutex_);
        watchStop_ = true;
    }
    watchWake_.notify_all();
    if (watcher_.joinable())
        watcher_.join();
}

} // namespace pelotest

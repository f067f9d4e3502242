#pragma once
// The threads that serve the connections: lanes, each an event loop with threads of its own, and
// a watcher that gives a lane whose every thread is stuck in a handler one more thread (the
// design and its reasons: docs/architecture.md, "Lanes").

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace pelotest {

// One event loop with its own threads. A connection stays on the lane that accepted it, so that
// its steps never wake another thread.
class Lane {
  public:
    boost::asio::io_context context;

  private:
    friend class LanePool;

    void start();
    void addRunner(); // with mutex held
    void run();
    bool leavesAsSurplus();
    void stop();

    std::optional<boost::asio::executor_work_guard<boost::asio::io_context::executor_type>> work;
    std::atomic<std::size_t> inHandlers{0};
    std::atomic<std::uint64_t> handled{0};
    std::atomic<std::size_t> runnerCount{0};
    std::mutex mutex; // guards what follows
    std::vector<std::thread> runners;
    std::vector<std::thread::id> finished; // ended, not yet joined
    // The watcher's own record: handled at its last look, and for how many looks in a row every
    // thread was inside a handler with none ending.
    std::uint64_t seenHandled = 0;
    int stalledLooks = 0;
};

class LanePool {
  public:
    // One lane per two cores, at least one.
    LanePool();
    ~LanePool(); // stops
    LanePool(const LanePool&) = delete;
    LanePool& operator=(const LanePool&) = delete;

    std::size_t size() const { return lanes_.size(); }
    Lane& lane(std::size_t index) { return *lanes_[index % lanes_.size()]; }

    // Starts one thread per lane; throws std::runtime_error when a lane gets none.
    void start();
    // Ends every thread (the lanes' loops stop, whatever they still hold).
    void stop();

    // Around a handler that runs on a thread of lane: the watcher counts the lane's threads that
    // are inside one.
    void enterHandler(Lane& lane) {
        lane.inHandlers.fetch_add(1);
        if (!watching_.load())
            startWatcher();
    }
    static void leaveHandler(Lane& lane) {
        lane.handled.fetch_add(1);
        lane.inHandlers.fetch_sub(1);
    }

  private:
    void startWatcher();
    void watchLanes();
    void stopWatcher();

    std::vector<std::unique_ptr<Lane>> lanes_;
    // The watcher runs only while requests come in: it ends after a quiet second and is started
    // again by the next request.
    std::mutex watchMutex_;
    std::condition_variable watchWake_;
    std::thread watcher_;
    std::atomic<bool> watching_{false};
    bool watchStop_ = false; // with watchMutex_
};

} // namespace pelotest

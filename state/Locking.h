#pragma once
// The lock of the shared state in a form clang's thread-safety analysis understands: members
// marked GUARDED_BY(mutex) may be touched only with the mutex held, and functions marked
// REQUIRES(state.mutex) only be called so. Clang checks both at compile time (-Wthread-safety);
// other compilers ignore the marks.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <thread>

#if defined(__clang__)
#define PELOTEST_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define PELOTEST_THREAD_ANNOTATION(x)
#endif

#define CAPABILITY(x) PELOTEST_THREAD_ANNOTATION(capability(x))
#define SCOPED_CAPABILITY PELOTEST_THREAD_ANNOTATION(scoped_lockable)
#define GUARDED_BY(x) PELOTEST_THREAD_ANNOTATION(guarded_by(x))
#define REQUIRES(...) PELOTEST_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define ACQUIRE(...) PELOTEST_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define RELEASE(...) PELOTEST_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define TRY_ACQUIRE(...) PELOTEST_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))
#define EXCLUDES(...) PELOTEST_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define NO_THREAD_SAFETY_ANALYSIS PELOTEST_THREAD_ANNOTATION(no_thread_safety_analysis)

#if defined(__SANITIZE_THREAD__)
#define PELOTEST_TSAN_BUILD 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define PELOTEST_TSAN_BUILD 1
#endif
#endif

namespace pelotest {

// The longest time a StateMutex was held, for benchmarks that show how long requests may have to
// wait for the state (a mutex records only while one is attached; unit tests never attach one).
class LockHoldRecorder {
  public:
    void note(std::chrono::steady_clock::duration held) {
        const std::int64_t ns = std::chrono::nanoseconds(held).count();
        std::int64_t longest = longestNs_.load(std::memory_order_relaxed);
        while (ns > longest && !longestNs_.compare_exchange_weak(longest, ns))
            ;
    }
    // The longest hold since the last call, and starts again from nothing.
    std::chrono::nanoseconds takeLongest() {
        return std::chrono::nanoseconds(longestNs_.exchange(0));
    }

  private:
    std::atomic<std::int64_t> longestNs_{0};
};

// The state's mutex: a timed mutex, so that the shutdown can give up on a request that is stuck
// while it holds the state.
class CAPABILITY("mutex") StateMutex {
  public:
    void lock() ACQUIRE() {
        mutex_.lock();
        noteOwner(true);
    }
    void unlock() RELEASE() {
        owner_.store(std::thread::id(), std::memory_order_relaxed);
        if (LockHoldRecorder* recorder = recorder_.load(std::memory_order_relaxed);
            recorder && heldSince_ != std::chrono::steady_clock::time_point{}) {
            recorder->note(std::chrono::steady_clock::now() - heldSince_);
            heldSince_ = {};
        }
        mutex_.unlock();
    }
    // From now on every hold's length goes to recorder (null: no longer recorded).
    void recordHoldsIn(LockHoldRecorder* recorder) { recorder_.store(recorder); }
    bool try_lock() TRY_ACQUIRE(true) { return noteOwner(mutex_.try_lock()); }
    // Whether the calling thread holds the mutex (no other thread can make this true or false).
    bool heldByCurrentThread() const {
        return owner_.load(std::memory_order_relaxed) == std::this_thread::get_id();
    }
    template <typename Clock, typename Duration>
    bool try_lock_until(const std::chrono::time_point<Clock, Duration>& deadline)
        TRY_ACQUIRE(true) {
#ifdef PELOTEST_TSAN_BUILD
        // A steady-clock wait becomes pthread_mutex_clocklock, which ThreadSanitizer does not
        // see; it would then report the unlock that follows as the unlock of a free mutex. Its
        // builds wait on the system clock instead (pthread_mutex_timedlock, which it sees).
        const auto left = deadline - Clock::now();
        return noteOwner(
            mutex_.try_lock_until(std::chrono::system_clock::now() +
                                  std::chrono::duration_cast<std::chrono::nanoseconds>(left)));
#else
        return noteOwner(mutex_.try_lock_until(deadline));
#endif
    }
    template <typename Rep, typename Period>
    bool try_lock_for(const std::chrono::duration<Rep, Period>& timeout) TRY_ACQUIRE(true) {
        return try_lock_until(std::chrono::steady_clock::now() + timeout);
    }

  private:
    bool noteOwner(bool locked) {
        if (!locked)
            return false;
        owner_.store(std::this_thread::get_id(), std::memory_order_relaxed);
        if (recorder_.load(std::memory_order_relaxed))
            heldSince_ = std::chrono::steady_clock::now();
        return true;
    }

    std::timed_mutex mutex_;
    std::atomic<std::thread::id> owner_{};
    std::atomic<LockHoldRecorder*> recorder_{nullptr};
    // When the current hold began, while holds are recorded (written only by the holder).
    std::chrono::steady_clock::time_point heldSince_{};
};

// Holds a StateMutex for its lifetime; or, made with std::defer_lock, once tryLockFor has taken it
// (a caller that may give up waiting, as the window's close does for a request that is stuck).
class SCOPED_CAPABILITY StateLock {
  public:
    explicit StateLock(StateMutex& mutex) ACQUIRE(mutex) : mutex_(mutex), held_(true) {
        mutex_.lock();
    }
    StateLock(StateMutex& mutex, std::defer_lock_t) EXCLUDES(mutex) : mutex_(mutex) {}
    ~StateLock() RELEASE() {
        if (held_)
            mutex_.unlock();
    }
    StateLock(const StateLock&) = delete;
    StateLock& operator=(const StateLock&) = delete;

    // Takes the mutex unless another thread holds it for longer than wait; true when taken.
    template <typename Rep, typename Period>
    bool tryLockFor(const std::chrono::duration<Rep, Period>& wait) TRY_ACQUIRE(true) {
        held_ = mutex_.try_lock_for(wait);
        return held_;
    }

  private:
    StateMutex& mutex_;
    bool held_ = false;
};

// Runs work with mutex released and takes it back afterwards, also when work throws: for work in
// the middle of a request or a command that needs no state (looking up files, sorting a copy, a
// question to the user). Only a caller that holds mutex may call it (the analysis checks that
// every caller holds the mutex; it cannot see inside this helper, so work must not touch what
// mutex guards). A caller that does not hold it is a programming error that would unlock a free
// mutex: the program stops there instead.
template <typename Work>
void runUnlocked(StateMutex& mutex, Work&& work) REQUIRES(mutex) NO_THREAD_SAFETY_ANALYSIS {
    struct Relock {
        StateMutex& mutex;
        ~Relock() { mutex.lock(); }
    };
    if (!mutex.heldByCurrentThread())
        std::abort();
    mutex.unlock();
    const Relock relock{mutex};
    work();
}

} // namespace pelotest

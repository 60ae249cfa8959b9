// Owns: the one mutex of the service object's process-wide state, and the
//       condition that announces every change made under it.
// Threads: every thread that enters the service object (application threads,
//       the reader's read thread, the event thread).
// Lock: itself. It is held for short sections only and released around every
//       call out (control object, reader library); no lock of ours nests in it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace norvik {

class ProcessLock {
public:
    ProcessLock() = default;
    ProcessLock(const ProcessLock&) = delete;
    ProcessLock& operator=(const ProcessLock&) = delete;

private:
    friend class ProcessGuard;
    std::mutex mutex_;
    std::condition_variable changed_;
};

// Holds the process lock for its lifetime. Functions that need the lock take
// a ProcessGuard& as proof that their caller holds it; a guard may let go of
// the lock around a call out, and must then take it again before it returns.
class ProcessGuard {
public:
    explicit ProcessGuard(ProcessLock& lock) : lock_(lock), held_(lock.mutex_) {}
    ProcessGuard(const ProcessGuard&) = delete;
    ProcessGuard& operator=(const ProcessGuard&) = delete;

    ProcessLock& Lock() const noexcept { return lock_; }
    void Unlock() { held_.unlock(); }
    void Relock() { held_.lock(); }

    template <typename Predicate>
    void Wait(Predicate ready) { lock_.changed_.wait(held_, ready); }
    // False when `timeout` passed without a notification.
    bool WaitFor(std::chrono::milliseconds timeout) {
        return lock_.changed_.wait_for(held_, timeout) == std::cv_status::no_timeout;
    }
    // False when `timeout` passed and `ready` still does not hold.
    template <typename Predicate>
    bool WaitFor(std::chrono::milliseconds timeout, Predicate ready) {
        return lock_.changed_.wait_for(held_, timeout, ready);
    }
    void NotifyAll() { lock_.changed_.notify_all(); }

private:
    ProcessLock& lock_;
    std::unique_lock<std::mutex> held_;
};

}  // namespace norvik

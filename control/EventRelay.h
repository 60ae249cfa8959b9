// EventRelay: runs jobs on one owner thread on behalf of callers on any thread, and
// makes a caller on another thread wait until its job has run there.
//
// Lifecycle: constructed open, on its owner thread. Shut() refuses new jobs and releases
// every waiting caller at once, including the caller of a job that is running right now;
// Open() accepts jobs again.
//
// Concurrency: Run() may be called from any thread. On the owner thread it runs the job
// inline. From another thread it queues the job, calls the wake hook (which must get the
// owner thread to call RunPending() soon, e.g. by posting a window message) and blocks
// until the job has run or the relay was shut. RunPending() belongs to the owner thread.
// Shut() and Open() may be called from any thread, also from inside a running job. No
// lock is held while a job runs or while the wake hook is called.
//
// Ownership: jobs are shared between the caller and the relay. A caller released by
// Shut() returns at once and must not read the job's results; the job itself stays alive
// until the owner thread has finished running it. Destroying the relay shuts it and
// waits until every released caller has left Run().
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace norvik::control {

class RelayJob {
public:
    virtual ~RelayJob() = default;
    virtual void Run() = 0;

private:
    friend class EventRelay;
    enum class Stage { Idle, Queued, Running, Done, Cancelled };
    Stage _stage = Stage::Idle;  // guarded by the relay's lock
};

class EventRelay {
public:
    enum class Outcome { Handled, Dropped };
    using WakeHook = std::function<bool()>;

    explicit EventRelay(WakeHook wake);
    EventRelay(const EventRelay&) = delete;
    EventRelay& operator=(const EventRelay&) = delete;
    ~EventRelay();

    // Handled: the job ran to its end and the caller may read its results. Dropped: it
    // did not run, or the relay was shut while the caller waited.
    Outcome Run(const std::shared_ptr<RelayJob>& job);

    void RunPending();
    void Shut();
    // After Shut(): waits until every released caller has left Run(), so that nothing
    // calls the wake hook any more.
    void WaitForCallers();
    void Open();
    bool IsOpen() const;
    bool IsOwnerThread() const { return std::this_thread::get_id() == _owner; }

private:
    Outcome RunInline(RelayJob& job);

    const std::thread::id _owner;
    const WakeHook _wake;
    mutable std::mutex _lock;
    std::condition_variable _settled;
    bool _open = true;
    std::deque<std::shared_ptr<RelayJob>> _queued;
    // Cross-thread jobs running on the owner thread; more than one when a handler pumps
    // messages and so runs the next job nested inside its own.
    std::vector<std::shared_ptr<RelayJob>> _running;
    int _waiters = 0;  // callers blocked in Run(); the destructor lets them leave first
};

}  // namespace norvik::control

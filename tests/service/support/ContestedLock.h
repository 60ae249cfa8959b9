// The claim table's lock as another process may hold it: beyond its bound (a
// hung process: accesses time out), for the next few accesses only, or until
// the test lets go (the waiting caller blocks meanwhile). Over the fixture's
// in-memory table.
#pragma once

#include <condition_variable>
#include <mutex>

#include "platform/memory/InMemoryClaimMemory.h"

namespace norvik::test {

class ContestedLock final : public ClaimMemory {
public:
    explicit ContestedLock(InMemoryClaimMemory& table) : table_(table) {}

    ClaimAccess AccessTable(const std::function<void(ClaimTableView&)>& action) override {
        {
            std::unique_lock<std::mutex> lock(mutex_);
            ++waiting_;
            changed_.notify_all();
            changed_.wait(lock, [&] { return !held_; });
            --waiting_;
            if (hung_) return ClaimAccess::TimedOut;
            if (timeOuts_ > 0) {
                --timeOuts_;
                return ClaimAccess::TimedOut;
            }
        }
        return table_.AccessTable(action);
    }
    ProcessIdentity CurrentProcess() override { return table_.CurrentProcess(); }
    bool HasEnded(const ProcessIdentity& process) override { return table_.HasEnded(process); }

    void Hang(bool hung) { Change([&] { hung_ = hung; }); }
    void TimeOutNext(int accesses) { Change([&] { timeOuts_ = accesses; }); }
    // Held: callers wait until LetGo().
    void Hold() { Change([&] { held_ = true; }); }
    void LetGo() { Change([&] { held_ = false; }); }
    // Until a caller waits for the held lock.
    void WaitForCaller() {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return waiting_ > 0; });
    }

private:
    template <typename Step>
    void Change(Step step) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            step();
        }
        changed_.notify_all();
    }

    InMemoryClaimMemory& table_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool hung_ = false, held_ = false;
    int timeOuts_ = 0, waiting_ = 0;
};

}  // namespace norvik::test

// Owns: the claims whose release could not reach the claim table yet, and
//       the thread that retries them.
// Threads: application threads hand claims over (CloseService, the
//       destructor, an open that starts over); the releaser's own thread
//       retries them.
// Lock: a mutex of its own, never held while waiting for the table's lock.
//       The process lock is never taken here, and must not be held by callers.
//
// A claim must not outlive the instance that held it. When the table's lock
// is held elsewhere beyond its bound (a hung process), the release is retried
// in the background, a bounded number of times, and the module stays loaded
// until that is done (ServiceObjectCore::ClaimReleasesPending). Should every
// attempt fail, the claim lasts until this process ends; other processes then
// free it, since its holder has ended.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "seams/ClaimMemory.h"
#include "seams/Clock.h"

namespace norvik {

class ClaimReleaser {
public:
    static constexpr int kAttempts = 12;             // after the caller's own
    static constexpr uint32_t kPauseMs = 1000;       // between rounds of attempts

    ClaimReleaser() = default;
    ~ClaimReleaser();
    ClaimReleaser(const ClaimReleaser&) = delete;
    ClaimReleaser& operator=(const ClaimReleaser&) = delete;

    // Frees `name` now when the table can be reached, and otherwise later on
    // the releaser's thread. `memory` and `clock` must outlive the retries.
    // True when it was freed now.
    bool Release(ClaimMemory& memory, Clock& clock, std::string_view name);
    // Joins a retry thread that has finished; true while releases are pending.
    bool Pending();

private:
    struct Job {
        ClaimMemory* memory;
        Clock* clock;
        std::string name;
        int attemptsLeft;
    };
    void RetryMain();

    std::mutex mutex_;
    std::vector<Job> jobs_;
    std::thread thread_;
    bool running_ = false;  // the thread works on jobs_; joined once it is false
};

// The process's own.
ClaimReleaser& ProcessClaimReleaser();

}  // namespace norvik

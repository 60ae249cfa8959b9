#include "claim_release/ClaimReleaser.h"

#include <algorithm>

#include "common/NoDestructor.h"
#include "logic/ClaimTable.h"

namespace norvik {

ClaimReleaser::~ClaimReleaser() {
    if (thread_.joinable()) thread_.join();
}

bool ClaimReleaser::Release(ClaimMemory& memory, Clock& clock, std::string_view name) {
    // Only a lock held beyond its bound leaves the name behind: a table that
    // cannot be reached at all never recorded it.
    if (ReleaseName(memory, name).status() != ClaimAccess::TimedOut) return true;
    std::lock_guard<std::mutex> lock(mutex_);
    jobs_.push_back({&memory, &clock, std::string(name), kAttempts});
    if (!running_) {
        if (thread_.joinable()) thread_.join();  // finished: it cleared running_ as its last step
        running_ = true;
        thread_ = std::thread(&ClaimReleaser::RetryMain, this);
    }
    return false;
}

bool ClaimReleaser::Pending() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!running_ && thread_.joinable()) thread_.join();
    return running_;
}

void ClaimReleaser::RetryMain() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!jobs_.empty()) {
        // One round: a pause, then one attempt per job, without the mutex, so
        // that new jobs can be handed over meanwhile.
        std::vector<Job> round = std::move(jobs_);
        jobs_.clear();
        lock.unlock();
        round.front().clock->SleepMilliseconds(kPauseMs);
        for (Job& job : round) {
            if (ReleaseName(*job.memory, job.name).status() != ClaimAccess::TimedOut) job.attemptsLeft = 0;
            else --job.attemptsLeft;
        }
        round.erase(std::remove_if(round.begin(), round.end(), [](const Job& job) { return job.attemptsLeft <= 0; }),
                    round.end());
        lock.lock();
        jobs_.insert(jobs_.end(), round.begin(), round.end());
    }
    running_ = false;
}

ClaimReleaser& ProcessClaimReleaser() {
    // Never destroyed: a retry may still run when the process ends.
    static NoDestructor<ClaimReleaser> releaser;
    return releaser.get();
}

}  // namespace norvik

// The claim table of one process, for native builds and tests: the names and
// their holders, zero at construction, behind a mutex. Processes are
// simulated: the calling one is 1 (started at 1) unless a test says
// otherwise, and a process has ended once a test ends it.
#pragma once

#include <mutex>
#include <vector>

#include "seams/ClaimMemory.h"

namespace norvik {

// Concurrency: every method may be called from any thread, but AccessTable()
// not from inside an action (the mutex is not recursive).
class InMemoryClaimMemory final : public ClaimMemory {
public:
    ClaimAccess AccessTable(const std::function<void(ClaimTableView& table)>& action) override;
    ProcessIdentity CurrentProcess() override;
    bool HasEnded(const ProcessIdentity& process) override;
    // Frees every slot, as a fresh start of the system would.
    void Reset();
    // The process that later claims are recorded for.
    void SetCurrentProcess(const ProcessIdentity& process);
    void EndProcess(const ProcessIdentity& process);

private:
    std::mutex mutex_;
    char names_[kClaimTableSize] = {};
    ClaimHolder holders_[kClaimSlotCount] = {};
    ProcessIdentity current_{1, 1};
    std::vector<ProcessIdentity> ended_;
};

}  // namespace norvik

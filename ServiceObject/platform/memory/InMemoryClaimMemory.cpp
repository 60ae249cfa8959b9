#include "platform/memory/InMemoryClaimMemory.h"

#include <algorithm>
#include <cstring>

namespace norvik {

ClaimAccess InMemoryClaimMemory::AccessTable(const std::function<void(ClaimTableView& table)>& action) {
    std::lock_guard<std::mutex> lock(mutex_);
    ClaimTableView view{names_, holders_};
    action(view);
    return ClaimAccess::Done;
}

ProcessIdentity InMemoryClaimMemory::CurrentProcess() {
    std::lock_guard<std::mutex> lock(mutex_);
    return current_;
}

// Called by actions, under the table's mutex: reads only what tests set up front.
bool InMemoryClaimMemory::HasEnded(const ProcessIdentity& process) {
    return std::any_of(ended_.begin(), ended_.end(), [&](const ProcessIdentity& ended) {
        return ended.processId == process.processId && ended.startTime == process.startTime;
    });
}

void InMemoryClaimMemory::Reset() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::memset(names_, 0, sizeof names_);
    std::memset(holders_, 0, sizeof holders_);
}

void InMemoryClaimMemory::SetCurrentProcess(const ProcessIdentity& process) {
    std::lock_guard<std::mutex> lock(mutex_);
    current_ = process;
}

void InMemoryClaimMemory::EndProcess(const ProcessIdentity& process) {
    std::lock_guard<std::mutex> lock(mutex_);
    ended_.push_back(process);
}

}  // namespace norvik

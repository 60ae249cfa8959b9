// The claim table of one process, for native builds and tests: 64 bytes,
// zero at construction, behind a mutex.
#pragma once

#include <mutex>

#include "seams/ClaimMemory.h"

namespace norvik {

// Concurrency: Access() may be called from any thread, but not from inside an
// action (the mutex is not recursive).
class InMemoryClaimMemory final : public ClaimMemory {
public:
    ClaimAccess Access(const std::function<void(char (&table)[kClaimTableSize])>& action) override;
    // Frees every slot, as a fresh start of the system would.
    void Reset();

private:
    std::mutex mutex_;
    char table_[kClaimTableSize] = {};
};

}  // namespace norvik

// The claim table shared by every process that loads the service object:
// 64 bytes, two slots of 32 bytes, each holding one NUL-terminated logical
// device name (first byte 0: free).
#pragma once

#include <cstddef>
#include <functional>

namespace norvik {

constexpr size_t kClaimSlotCount = 2;
constexpr size_t kClaimSlotSize = 32;
constexpr size_t kClaimTableSize = kClaimSlotCount * kClaimSlotSize;

// Concurrency: Access() runs `action` on the table while holding a lock that
// spans every thread and process, so that a test and an update are one step.
class ClaimMemory {
public:
    virtual ~ClaimMemory() = default;
    // Runs `action` with exclusive access to the table; false when the
    // memory or its lock is not available (the action did not run).
    virtual bool Access(const std::function<void(char (&table)[kClaimTableSize])>& action) = 0;
};

}  // namespace norvik

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

// What an Access() call did; true only when the action ran.
class ClaimAccess {
public:
    enum Status {
        Done,
        TimedOut,     // another thread or process held the lock beyond the bound
        Unavailable,  // the table or its lock could not be created
    };
    ClaimAccess(Status status) noexcept : status_(status) {}  // NOLINT: results convert implicitly
    explicit operator bool() const noexcept { return status_ == Done; }
    Status status() const noexcept { return status_; }

private:
    Status status_;
};

// Concurrency: Access() runs `action` on the table while holding a lock that
// spans every thread and process, so that a test and an update are one step.
// It never waits for that lock without bound.
class ClaimMemory {
public:
    virtual ~ClaimMemory() = default;
    // Runs `action` with exclusive access to the table; the action did not
    // run unless the result is Done.
    virtual ClaimAccess Access(const std::function<void(char (&table)[kClaimTableSize])>& action) = 0;
};

}  // namespace norvik

// The claim table shared by every process that loads the service object:
// 64 bytes, two slots of 32 bytes, each holding one NUL-terminated logical
// device name (first byte 0: free), and beside it one holder record per slot
// that names the process which recorded the claim.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace norvik {

constexpr size_t kClaimSlotCount = 2;
constexpr size_t kClaimSlotSize = 32;
constexpr size_t kClaimTableSize = kClaimSlotCount * kClaimSlotSize;

// A process, named so that a process ID used again by a later process is not
// taken for it.
struct ProcessIdentity {
    uint32_t processId = 0;  // 0: unknown
    uint64_t startTime = 0;  // the platform's creation time of the process
};

// Who recorded a slot's claim. It stands for the slot only while `name`
// equals the slot's name: a process of an older version that records a claim
// leaves no holder, and such a claim is never taken for abandoned.
// The same layout in 32-bit and 64-bit processes: 48 bytes, no padding.
struct ClaimHolder {
    uint32_t processId;
    uint32_t reserved;
    uint64_t startTime;
    char name[kClaimSlotSize];
};
static_assert(sizeof(ClaimHolder) == 48, "the holder records are shared by 32-bit and 64-bit processes");
constexpr size_t kClaimHoldersSize = kClaimSlotCount * sizeof(ClaimHolder);

// The shared memory as an action sees it, while it holds the table's lock.
struct ClaimTableView {
    char (&names)[kClaimTableSize];
    ClaimHolder (&holders)[kClaimSlotCount];
};

// What an Access() call did; true only when the action ran.
class ClaimAccess {
public:
    enum Status {
        Done,
        TimedOut,     // another thread or process held the lock beyond the bound
        Unavailable,  // the table or its lock could not be created, or they are not ours
    };
    ClaimAccess(Status status) noexcept : status_(status) {}  // NOLINT: results convert implicitly
    explicit operator bool() const noexcept { return status_ == Done; }
    Status status() const noexcept { return status_; }

private:
    Status status_;
};

// Concurrency: AccessTable() runs `action` on the table while holding a lock
// that spans every thread and process, so that a test and an update are one
// step. It never waits for that lock without bound.
class ClaimMemory {
public:
    virtual ~ClaimMemory() = default;
    // Runs `action` with exclusive access to the names and their holders; the
    // action did not run unless the result is Done.
    virtual ClaimAccess AccessTable(const std::function<void(ClaimTableView& table)>& action) = 0;
    // The calling process, as holder records name it.
    virtual ProcessIdentity CurrentProcess() = 0;
    // True only when the process is known to have ended (or its ID now
    // belongs to a later process); false when that cannot be told.
    virtual bool HasEnded(const ProcessIdentity& process) = 0;
    // Why the table is unavailable (the object that is not ours, say); empty
    // when it is available or nothing more is known.
    virtual std::string Problem() const { return {}; }

    // The names alone.
    ClaimAccess Access(const std::function<void(char (&table)[kClaimTableSize])>& action) {
        return AccessTable([&](ClaimTableView& table) { action(table.names); });
    }
};

}  // namespace norvik

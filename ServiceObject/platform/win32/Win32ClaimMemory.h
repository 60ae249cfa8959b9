// The claim table shared by every process that loads the service object: a
// named file mapping of 64 bytes backed by the paging file (zero when the
// first process creates it, gone when the last one closes it) and a named
// mutex that makes each access one step across processes.
//
// Both live in the Global\ namespace, so that a POS application running as a
// service and one on a user's desktop share one table. Where creating global
// objects is not allowed (no SeCreateGlobalPrivilege, and no process that has
// it created them first), they fall back to the session's own (Local\).
// Whoever creates them gives them an explicit security descriptor: every
// interactive user, service and administrator may use the table, from low
// integrity up, so that the first process (an elevated one, say) does not lock
// the others out.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "seams/ClaimMemory.h"

namespace norvik {

// Lifecycle: maps the table and opens the mutex once, at construction; when
// either fails, Access() refuses. Unmaps and closes when destroyed.
// Concurrency: Access() may be called from any thread of any process. An
// action must not call Access() itself.
class Win32ClaimMemory final : public ClaimMemory {
public:
    static constexpr const char* kTableName = "NorvikMSRSO.ClaimTable";
    static constexpr const char* kLockName = "NorvikMSRSO.ClaimLock";
    // A process that holds the lock longer is taken to hang.
    static constexpr uint32_t kLockTimeoutMilliseconds = 5000;
    // The descriptor the objects are created with, in SDDL.
    static const char* const kSecurityDescriptor;

    // Other names give a separate table (tests use their own); names carry
    // no namespace prefix.
    explicit Win32ClaimMemory(const std::string& tableName = kTableName, const std::string& lockName = kLockName,
                              uint32_t lockTimeoutMilliseconds = kLockTimeoutMilliseconds);
    ~Win32ClaimMemory() override;
    Win32ClaimMemory(const Win32ClaimMemory&) = delete;
    Win32ClaimMemory& operator=(const Win32ClaimMemory&) = delete;

    // A process that died while holding the mutex leaves it abandoned; the
    // next access still gets the table. One that holds it beyond the bound
    // makes the access time out.
    ClaimAccess Access(const std::function<void(char (&table)[kClaimTableSize])>& action) override;
    bool IsAvailable() const;
    // "Global\" or "Local\": where the table was found or created.
    const std::string& Namespace() const;

private:
    struct Handles;
    std::unique_ptr<Handles> handles_;
    uint32_t lockTimeoutMilliseconds_;
};

}  // namespace norvik

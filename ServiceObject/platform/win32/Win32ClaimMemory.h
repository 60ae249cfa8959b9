// The claim table shared by every process that loads the service object: a
// named file mapping of 64 bytes (the names), a second one of 96 bytes (the
// holder of each slot), both backed by the paging file (zero when the first
// process creates them, gone when the last one closes them), and a named
// mutex that makes each access one step across processes.
//
// They live in the Global\ namespace, so that a POS application running as a
// service and one on a user's desktop share one table. Whoever creates them
// gives them an explicit security descriptor: every interactive user, service
// and administrator may use the table, so that the first process (an elevated
// one, say) does not lock the others out; processes of low integrity may not
// write it.
//
// Objects that exist already are used only when they are ours: owned by
// SYSTEM or the Administrators, or carrying the descriptor we write. Anyone
// else's (a user who created them first, to shut the others out) makes the
// table unavailable, and says so once in the event log. Where creating global
// objects is not allowed (no SeCreateGlobalPrivilege, and no process that has
// it created them first), the table falls back to the session's own
// (Local\), and says that too.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "seams/ClaimMemory.h"

namespace norvik {

// Lifecycle: maps the table and opens the mutex once, at construction; when
// either fails, AccessTable() refuses. Unmaps and closes when destroyed.
// Concurrency: AccessTable() may be called from any thread of any process. An
// action must not call AccessTable() itself.
class Win32ClaimMemory final : public ClaimMemory {
public:
    static constexpr const char* kTableName = "NorvikMSRSO.ClaimTable";
    static constexpr const char* kLockName = "NorvikMSRSO.ClaimLock";
    // The holders' mapping is named after the table: "<table>.Holders".
    static constexpr const char* kHoldersSuffix = ".Holders";
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
    ClaimAccess AccessTable(const std::function<void(ClaimTableView& table)>& action) override;
    ProcessIdentity CurrentProcess() override;
    // Ended: no process has the ID, or the one that has it started at
    // another time. A process we may not query counts as running.
    bool HasEnded(const ProcessIdentity& process) override;
    std::string Problem() const override;
    bool IsAvailable() const;
    // "Global\" or "Local\": where the table was found or created.
    const std::string& Namespace() const;

private:
    struct Handles;
    std::unique_ptr<Handles> handles_;
    uint32_t lockTimeoutMilliseconds_;
};

}  // namespace norvik

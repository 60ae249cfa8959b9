// The claim table shared by every process that loads the service object: a
// named file mapping of 64 bytes backed by the paging file (zero when the
// first process creates it, gone when the last one closes it) and a named
// mutex that makes each access one step across processes.
#pragma once

#include <memory>
#include <string>

#include "framework/ClaimMemory.h"

namespace norvik {

// Lifecycle: maps the table and opens the mutex once, at construction; when
// either fails, Access() refuses. Unmaps and closes when destroyed.
// Concurrency: Access() may be called from any thread of any process. An
// action must not call Access() itself.
class Win32ClaimMemory final : public ClaimMemory {
public:
    static constexpr const char* kTableName = "NorvikMSRSO.ClaimTable";
    static constexpr const char* kLockName = "NorvikMSRSO.ClaimLock";

    // Other names give a separate table (tests use their own).
    explicit Win32ClaimMemory(const std::string& tableName = kTableName, const std::string& lockName = kLockName);
    ~Win32ClaimMemory() override;
    Win32ClaimMemory(const Win32ClaimMemory&) = delete;
    Win32ClaimMemory& operator=(const Win32ClaimMemory&) = delete;

    // A process that died while holding the mutex leaves it abandoned; the
    // next access still gets the table.
    bool Access(const std::function<void(char (&table)[kClaimTableSize])>& action) override;
    bool IsAvailable() const;

private:
    struct Handles;
    std::unique_ptr<Handles> handles_;
};

}  // namespace norvik

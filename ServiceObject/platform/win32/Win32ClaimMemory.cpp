#include "platform/win32/Win32ClaimMemory.h"

#include "platform/win32/Win32Handles.h"

namespace norvik {
namespace {

class MutexOwnership {
public:
    explicit MutexOwnership(HANDLE mutex) : mutex_(mutex) {}
    ~MutexOwnership() { ::ReleaseMutex(mutex_); }
    MutexOwnership(const MutexOwnership&) = delete;
    MutexOwnership& operator=(const MutexOwnership&) = delete;

private:
    HANDLE mutex_;
};

}  // namespace

struct Win32ClaimMemory::Handles {
    win32::UniqueKernelHandle mapping;
    win32::UniqueMappedView view;
    win32::UniqueKernelHandle lock;
};

Win32ClaimMemory::Win32ClaimMemory(const std::string& tableName, const std::string& lockName)
    : handles_(std::make_unique<Handles>()) {
    handles_->mapping.reset(::CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                                 static_cast<DWORD>(kClaimTableSize), tableName.c_str()));
    if (handles_->mapping) {
        handles_->view.reset(::MapViewOfFile(handles_->mapping.get(), FILE_MAP_ALL_ACCESS, 0, 0, kClaimTableSize));
    }
    handles_->lock.reset(::CreateMutexA(nullptr, FALSE, lockName.c_str()));
}

Win32ClaimMemory::~Win32ClaimMemory() = default;

bool Win32ClaimMemory::IsAvailable() const { return handles_->view && handles_->lock; }

bool Win32ClaimMemory::Access(const std::function<void(char (&table)[kClaimTableSize])>& action) {
    if (!IsAvailable()) return false;
    const DWORD waited = ::WaitForSingleObject(handles_->lock.get(), INFINITE);
    if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) return false;
    MutexOwnership owned(handles_->lock.get());
    action(*static_cast<char(*)[kClaimTableSize]>(handles_->view.get()));
    return true;
}

}  // namespace norvik

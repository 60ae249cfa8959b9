#include "platform/win32/Win32ClaimMemory.h"

#include <windows.h>
#include <sddl.h>

#include "platform/win32/Win32Handles.h"

namespace norvik {
namespace {

constexpr DWORD kTableAccess = FILE_MAP_READ | FILE_MAP_WRITE;
constexpr DWORD kLockAccess = SYNCHRONIZE | MUTEX_MODIFY_STATE;
constexpr const char* kNamespaces[] = {"Global\\", "Local\\"};

class MutexOwnership {
public:
    explicit MutexOwnership(HANDLE mutex) : mutex_(mutex) {}
    ~MutexOwnership() { ::ReleaseMutex(mutex_); }
    MutexOwnership(const MutexOwnership&) = delete;
    MutexOwnership& operator=(const MutexOwnership&) = delete;

private:
    HANDLE mutex_;
};

class SecurityDescriptor {
public:
    SecurityDescriptor() {
        ::ConvertStringSecurityDescriptorToSecurityDescriptorA(Win32ClaimMemory::kSecurityDescriptor, SDDL_REVISION_1,
                                                               &descriptor_, nullptr);
        attributes_.nLength = sizeof attributes_;
        attributes_.lpSecurityDescriptor = descriptor_;
        attributes_.bInheritHandle = FALSE;
    }
    ~SecurityDescriptor() { ::LocalFree(descriptor_); }
    SecurityDescriptor(const SecurityDescriptor&) = delete;
    SecurityDescriptor& operator=(const SecurityDescriptor&) = delete;
    // Null when the descriptor could not be built: the objects then get the default one.
    SECURITY_ATTRIBUTES* attributes() { return descriptor_ ? &attributes_ : nullptr; }

private:
    PSECURITY_DESCRIPTOR descriptor_ = nullptr;
    SECURITY_ATTRIBUTES attributes_{};
};

// Opening comes first and asks only for the rights the table needs: creating
// an existing object asks for all of them, which a descriptor rightly denies
// to everyone but its administrators. A creation that loses a race to
// another process opens what that process created.
HANDLE OpenOrCreateMapping(const std::string& name, SECURITY_ATTRIBUTES* security) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (HANDLE mapping = ::OpenFileMappingA(kTableAccess, FALSE, name.c_str())) return mapping;
        if (HANDLE mapping = ::CreateFileMappingA(INVALID_HANDLE_VALUE, security, PAGE_READWRITE, 0,
                                                  static_cast<DWORD>(kClaimTableSize), name.c_str())) {
            return mapping;
        }
        if (::GetLastError() != ERROR_ACCESS_DENIED) break;
    }
    return nullptr;
}

HANDLE OpenOrCreateMutex(const std::string& name, SECURITY_ATTRIBUTES* security) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (HANDLE mutex = ::OpenMutexA(kLockAccess, FALSE, name.c_str())) return mutex;
        if (HANDLE mutex = ::CreateMutexA(security, FALSE, name.c_str())) return mutex;
        if (::GetLastError() != ERROR_ACCESS_DENIED) break;
    }
    return nullptr;
}

}  // namespace

// Generic read, write and execute (no rights over the descriptor itself) for
// authenticated and interactive users, services, local and network service;
// everything for the system and administrators. The label lets processes of
// low integrity write.
const char* const Win32ClaimMemory::kSecurityDescriptor =
    "D:P(A;;GA;;;SY)(A;;GA;;;BA)(A;;GRGWGX;;;AU)(A;;GRGWGX;;;IU)(A;;GRGWGX;;;SU)"
    "(A;;GRGWGX;;;LS)(A;;GRGWGX;;;NS)S:(ML;;NW;;;LW)";

struct Win32ClaimMemory::Handles {
    win32::UniqueKernelHandle mapping;
    win32::UniqueMappedView view;
    win32::UniqueKernelHandle lock;
    std::string prefix;
};

Win32ClaimMemory::Win32ClaimMemory(const std::string& tableName, const std::string& lockName,
                                   uint32_t lockTimeoutMilliseconds)
    : handles_(std::make_unique<Handles>()), lockTimeoutMilliseconds_(lockTimeoutMilliseconds) {
    SecurityDescriptor security;
    for (const char* prefix : kNamespaces) {
        handles_->mapping.reset(OpenOrCreateMapping(prefix + tableName, security.attributes()));
        const DWORD mappingError = handles_->mapping ? ERROR_SUCCESS : ::GetLastError();
        handles_->lock.reset(OpenOrCreateMutex(prefix + lockName, security.attributes()));
        const DWORD lockError = handles_->lock ? ERROR_SUCCESS : ::GetLastError();
        if (handles_->mapping && handles_->lock) {
            handles_->prefix = prefix;
            break;
        }
        // Only a namespace that refuses us is left for the next one; any other
        // failure (an object of another kind under the name) is final.
        if (mappingError != ERROR_ACCESS_DENIED && lockError != ERROR_ACCESS_DENIED) break;
    }
    if (handles_->mapping && handles_->lock) {
        handles_->view.reset(::MapViewOfFile(handles_->mapping.get(), kTableAccess, 0, 0, kClaimTableSize));
    }
}

Win32ClaimMemory::~Win32ClaimMemory() = default;

bool Win32ClaimMemory::IsAvailable() const { return handles_->view && handles_->lock; }

const std::string& Win32ClaimMemory::Namespace() const { return handles_->prefix; }

ClaimAccess Win32ClaimMemory::Access(const std::function<void(char (&table)[kClaimTableSize])>& action) {
    if (!IsAvailable()) return ClaimAccess::Unavailable;
    const DWORD waited = ::WaitForSingleObject(handles_->lock.get(), lockTimeoutMilliseconds_);
    if (waited == WAIT_TIMEOUT) return ClaimAccess::TimedOut;
    if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) return ClaimAccess::Unavailable;
    MutexOwnership owned(handles_->lock.get());
    action(*static_cast<char(*)[kClaimTableSize]>(handles_->view.get()));
    return ClaimAccess::Done;
}

}  // namespace norvik

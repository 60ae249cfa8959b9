#include "platform/win32/Win32ClaimMemory.h"

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include "platform/win32/Win32Handles.h"

namespace norvik {
namespace {

constexpr DWORD kTableAccess = FILE_MAP_READ | FILE_MAP_WRITE;
constexpr DWORD kLockAccess = SYNCHRONIZE | MUTEX_MODIFY_STATE;
constexpr const char* kGlobal = "Global\\";
constexpr const char* kLocal = "Local\\";

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

void ReportToEventLog(const std::string& message) {
    if (HANDLE source = ::RegisterEventSourceA(nullptr, "NorvikMSR")) {
        const char* strings[] = {message.c_str()};
        ::ReportEventA(source, EVENTLOG_WARNING_TYPE, 0, 1, nullptr, 1, 0, strings, nullptr);
        ::DeregisterEventSource(source);
    }
    ::OutputDebugStringA((message + "\n").c_str());
}

// The discretionary list of an object in SDDL; empty when it cannot be read.
std::string DaclText(HANDLE object) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (::GetSecurityInfo(object, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, nullptr, nullptr,
                          &descriptor) != ERROR_SUCCESS) {
        return {};
    }
    char* text = nullptr;
    std::string result;
    if (::ConvertSecurityDescriptorToStringSecurityDescriptorA(descriptor, SDDL_REVISION_1,
                                                               DACL_SECURITY_INFORMATION, &text, nullptr)) {
        result = text;
        ::LocalFree(text);
    }
    ::LocalFree(descriptor);
    return result;
}

bool OwnedBySystemOrAdministrators(HANDLE object) {
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (::GetSecurityInfo(object, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                          &descriptor) != ERROR_SUCCESS) {
        return false;
    }
    const bool ours = owner != nullptr && (::IsWellKnownSid(owner, WinLocalSystemSid) ||
                                           ::IsWellKnownSid(owner, WinBuiltinAdministratorsSid));
    ::LocalFree(descriptor);
    return ours;
}

enum class Kind { Mapping, Mutex };

// Opens `name`, or creates it with our descriptor. Opening comes first and
// asks only for the rights the table needs (and to read the descriptor):
// creating an existing object asks for all of them, which a descriptor
// rightly denies to everyone but its administrators. A creation that loses a
// race to another process opens what that process created.
struct Opened {
    win32::UniqueKernelHandle handle;
    bool existed = false;
    DWORD error = ERROR_SUCCESS;
};

Opened OpenOrCreate(Kind kind, const std::string& name, size_t size, SECURITY_ATTRIBUTES* security) {
    Opened result;
    for (int attempt = 0; attempt < 2; ++attempt) {
        HANDLE handle = kind == Kind::Mapping ? ::OpenFileMappingA(kTableAccess | READ_CONTROL, FALSE, name.c_str())
                                              : ::OpenMutexA(kLockAccess | READ_CONTROL, FALSE, name.c_str());
        if (handle != nullptr) {
            result.handle.reset(handle);
            result.existed = true;
            return result;
        }
        result.error = ::GetLastError();
        // There, but shut to us: never ours.
        if (result.error == ERROR_ACCESS_DENIED) {
            result.existed = true;
            return result;
        }
        handle = kind == Kind::Mapping
                     ? ::CreateFileMappingA(INVALID_HANDLE_VALUE, security, PAGE_READWRITE, 0,
                                            static_cast<DWORD>(size), name.c_str())
                     : ::CreateMutexA(security, FALSE, name.c_str());
        result.error = ::GetLastError();
        if (handle != nullptr) {
            result.handle.reset(handle);
            result.existed = result.error == ERROR_ALREADY_EXISTS;
            return result;
        }
        if (result.error != ERROR_ACCESS_DENIED) break;
    }
    return result;
}

// The descriptor that objects of `kind` get from kSecurityDescriptor, as the
// system stores it (generic rights mapped to the kind's own): an unnamed
// object made with it shows it.
std::string OurDacl(Kind kind, SECURITY_ATTRIBUTES* security) {
    win32::UniqueKernelHandle reference(kind == Kind::Mapping
                                            ? ::CreateFileMappingA(INVALID_HANDLE_VALUE, security, PAGE_READWRITE,
                                                                   0, 1, nullptr)
                                            : ::CreateMutexA(security, FALSE, nullptr));
    return reference ? DaclText(reference.get()) : std::string();
}

bool IsOurs(Kind kind, HANDLE object, SECURITY_ATTRIBUTES* security) {
    if (OwnedBySystemOrAdministrators(object)) return true;
    const std::string dacl = DaclText(object);
    return !dacl.empty() && dacl == OurDacl(kind, security);
}

uint64_t StartTime(HANDLE process) {
    FILETIME created{}, exited{}, kernel{}, user{};
    if (!::GetProcessTimes(process, &created, &exited, &kernel, &user)) return 0;
    return (static_cast<uint64_t>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
}

}  // namespace

// Generic read, write and execute (no rights over the descriptor itself) for
// authenticated and interactive users, services, local and network service;
// everything for the system and administrators. No integrity label: the
// default one keeps processes of low integrity from writing.
const char* const Win32ClaimMemory::kSecurityDescriptor =
    "D:P(A;;GA;;;SY)(A;;GA;;;BA)(A;;GRGWGX;;;AU)(A;;GRGWGX;;;IU)(A;;GRGWGX;;;SU)"
    "(A;;GRGWGX;;;LS)(A;;GRGWGX;;;NS)";

struct Win32ClaimMemory::Handles {
    win32::UniqueKernelHandle mapping;
    win32::UniqueMappedView view;
    win32::UniqueKernelHandle holdersMapping;
    win32::UniqueMappedView holdersView;
    win32::UniqueKernelHandle lock;
    std::string prefix;
    std::string problem;
};

Win32ClaimMemory::Win32ClaimMemory(const std::string& tableName, const std::string& lockName,
                                   uint32_t lockTimeoutMilliseconds)
    : handles_(std::make_unique<Handles>()), lockTimeoutMilliseconds_(lockTimeoutMilliseconds) {
    SecurityDescriptor security;
    struct Object {
        Kind kind;
        std::string name;
        size_t size;
        win32::UniqueKernelHandle* handle;
    };
    Object objects[] = {
        {Kind::Mutex, lockName, 0, &handles_->lock},
        {Kind::Mapping, tableName, kClaimTableSize, &handles_->mapping},
        {Kind::Mapping, tableName + kHoldersSuffix, kClaimHoldersSize, &handles_->holdersMapping},
    };
    for (const char* prefix : {kGlobal, kLocal}) {
        bool refused = false;  // a namespace where we may not create objects
        for (Object& object : objects) {
            Opened opened = OpenOrCreate(object.kind, prefix + object.name, object.size, security.attributes());
            if (opened.existed && (!opened.handle || !IsOurs(object.kind, opened.handle.get(), security.attributes()))) {
                // Someone else's: using it would let them decide who claims,
                // and another namespace would quietly give up exclusivity.
                handles_->problem = "the claim object " + (prefix + object.name) +
                                    " exists, but its owner and security descriptor are not ours; no device can be "
                                    "claimed until it is gone";
                ReportToEventLog("NorvikMSR: " + handles_->problem);
                for (Object& done : objects) done.handle->reset();
                return;
            }
            if (!opened.handle) {
                refused = opened.error == ERROR_ACCESS_DENIED;
                break;
            }
            *object.handle = std::move(opened.handle);
        }
        if (handles_->lock && handles_->mapping && handles_->holdersMapping) {
            handles_->prefix = prefix;
            break;
        }
        for (Object& object : objects) object.handle->reset();
        // Only a namespace that refuses us is left for the next one; any other
        // failure (an object of another kind under the name) is final.
        if (!refused) break;
        if (prefix == kGlobal) {
            ReportToEventLog("NorvikMSR: cannot create the claim table in Global\\ (no SeCreateGlobalPrivilege, "
                             "and no service or administrator created it first); claims hold only within this "
                             "session");
        }
    }
    if (handles_->lock && handles_->mapping && handles_->holdersMapping) {
        handles_->view.reset(::MapViewOfFile(handles_->mapping.get(), kTableAccess, 0, 0, kClaimTableSize));
        handles_->holdersView.reset(
            ::MapViewOfFile(handles_->holdersMapping.get(), kTableAccess, 0, 0, kClaimHoldersSize));
    }
}

Win32ClaimMemory::~Win32ClaimMemory() = default;

bool Win32ClaimMemory::IsAvailable() const { return handles_->view && handles_->holdersView && handles_->lock; }

const std::string& Win32ClaimMemory::Namespace() const { return handles_->prefix; }

std::string Win32ClaimMemory::Problem() const { return handles_->problem; }

ClaimAccess Win32ClaimMemory::AccessTable(const std::function<void(ClaimTableView& table)>& action) {
    if (!IsAvailable()) return ClaimAccess::Unavailable;
    const DWORD waited = ::WaitForSingleObject(handles_->lock.get(), lockTimeoutMilliseconds_);
    if (waited == WAIT_TIMEOUT) return ClaimAccess::TimedOut;
    if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) return ClaimAccess::Unavailable;
    MutexOwnership owned(handles_->lock.get());
    ClaimTableView view{*static_cast<char(*)[kClaimTableSize]>(handles_->view.get()),
                        *static_cast<ClaimHolder(*)[kClaimSlotCount]>(handles_->holdersView.get())};
    action(view);
    return ClaimAccess::Done;
}

ProcessIdentity Win32ClaimMemory::CurrentProcess() {
    return {::GetCurrentProcessId(), StartTime(::GetCurrentProcess())};
}

bool Win32ClaimMemory::HasEnded(const ProcessIdentity& process) {
    // The least right there is: a process of another user grants it too.
    win32::UniqueKernelHandle handle(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process.processId));
    if (!handle) return ::GetLastError() == ERROR_INVALID_PARAMETER;  // no such process
    DWORD exitCode = 0;
    if (::GetExitCodeProcess(handle.get(), &exitCode) && exitCode != STILL_ACTIVE) return true;
    const uint64_t started = StartTime(handle.get());
    return started != 0 && started != process.startTime;
}

}  // namespace norvik

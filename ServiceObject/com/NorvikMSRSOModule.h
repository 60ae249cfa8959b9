// Module-wide state of the in-process server: its handle, the lock count that
// DllCanUnloadNow reports on (live instances plus IClassFactory::LockServer),
// the table of creatable classes and the server's identifiers.
#pragma once

#include <windows.h>
#include <unknwn.h>

namespace norvik::com {

// The application ID of the server; the other identifiers come from the type library.
inline constexpr GUID kAppId = {0x8B8BD6B4, 0xF7A3, 0x4C80,
                                {0xB4, 0x19, 0xBD, 0xF8, 0x3A, 0x38, 0xB3, 0xBB}};

using CreateInstanceFunction = HRESULT (*)(IUnknown* outer, REFIID riid, void** ppv);

struct ClassEntry {
    const CLSID* clsid;
    CreateInstanceFunction create;
};

class CNorvikMSRSOModule {
public:
    static void Lock() noexcept;
    static void Unlock() noexcept;
    static bool CanUnload() noexcept;

    static void SetHandle(HMODULE module) noexcept;
    static HMODULE Handle() noexcept;
    // Full path of this module; false when it does not fit.
    static bool Path(wchar_t (&path)[MAX_PATH]) noexcept;

    // The creatable classes; nullptr for any other class ID.
    static const ClassEntry* FindClass(REFCLSID clsid) noexcept;
};

// Keeps the module loaded while its holder lives.
class ModuleReference {
public:
    ModuleReference() noexcept { CNorvikMSRSOModule::Lock(); }
    ~ModuleReference() { CNorvikMSRSOModule::Unlock(); }
    ModuleReference(const ModuleReference&) = delete;
    ModuleReference& operator=(const ModuleReference&) = delete;
};

// Writes or removes the server's registry entries and its type library
// registration. Both are idempotent.
HRESULT RegisterServer() noexcept;
HRESULT UnregisterServer() noexcept;

}  // namespace norvik::com

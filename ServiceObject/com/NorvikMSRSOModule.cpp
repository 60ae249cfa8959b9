#include "com/NorvikMSRSOModule.h"

#include "com/NorvikMSRSOImpl.h"

namespace norvik::com {

namespace {

LONG g_lockCount = 0;
HMODULE g_module = nullptr;

const ClassEntry kClasses[] = {
    {&CLSID_NorvikMSRSOImpl, &CNorvikMSRSOImpl::CreateInstance},
};

}  // namespace

void CNorvikMSRSOModule::Lock() noexcept { ::InterlockedIncrement(&g_lockCount); }
void CNorvikMSRSOModule::Unlock() noexcept { ::InterlockedDecrement(&g_lockCount); }
bool CNorvikMSRSOModule::CanUnload() noexcept {
    return ::InterlockedCompareExchange(&g_lockCount, 0, 0) == 0;
}

void CNorvikMSRSOModule::SetHandle(HMODULE module) noexcept { g_module = module; }
HMODULE CNorvikMSRSOModule::Handle() noexcept { return g_module; }

bool CNorvikMSRSOModule::Path(wchar_t (&path)[MAX_PATH]) noexcept {
    const DWORD length = ::GetModuleFileNameW(g_module, path, MAX_PATH);
    return length > 0 && length < MAX_PATH;
}

const ClassEntry* CNorvikMSRSOModule::FindClass(REFCLSID clsid) noexcept {
    for (const ClassEntry& entry : kClasses) {
        if (*entry.clsid == clsid) return &entry;
    }
    return nullptr;
}

}  // namespace norvik::com

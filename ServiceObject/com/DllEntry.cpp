// The four standard entry points of the in-process server.
#include "com/ClassFactory.h"
#include "com/NorvikMSRSOModule.h"
#include "Vorlex.h"

using norvik::com::CClassFactory;
using norvik::com::CNorvikMSRSOModule;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) CNorvikMSRSOModule::SetHandle(instance);
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    const auto* entry = CNorvikMSRSOModule::FindClass(clsid);
    if (!entry) return CLASS_E_CLASSNOTAVAILABLE;
    return CClassFactory::Create(*entry, riid, ppv);
}

// Also pinned while a reader is open: unloading would take Vorlex.dll, and
// with it the code of the reader's running read thread, out of the process
// (an instance destroyed while enabled leaves the reader open).
STDAPI DllCanUnloadNow() {
    int32_t deviceState = 0;
    VorlexGetDeviceState(&deviceState);
    return CNorvikMSRSOModule::CanUnload() && deviceState == 0 ? S_OK : S_FALSE;
}

STDAPI DllRegisterServer() { return norvik::com::RegisterServer(); }

STDAPI DllUnregisterServer() { return norvik::com::UnregisterServer(); }

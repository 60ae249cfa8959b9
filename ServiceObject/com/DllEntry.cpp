// The four standard entry points of the in-process server.
#include "com/ClassFactory.h"
#include "com/NorvikMSRSOModule.h"
#include "Vorlex.h"
#include "instance/ServiceObjectCore.h"

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
// (an instance destroyed while enabled leaves the reader open). Likewise
// while an event thread that an instance let go of, inside a call to the
// control object, has not finished, or while a claim's release is being
// retried in the background.
STDAPI DllCanUnloadNow() {
    int32_t deviceState = 0;
    VorlexGetDeviceState(&deviceState);
    if (!CNorvikMSRSOModule::CanUnload() || deviceState != 0) return S_FALSE;
    if (norvik::ServiceObjectCore::ClaimReleasesPending()) return S_FALSE;
    return norvik::ServiceObjectCore::EventThreadsRunning() ? S_FALSE : S_OK;
}

STDAPI DllRegisterServer() { return norvik::com::RegisterServer(); }

STDAPI DllUnregisterServer() { return norvik::com::UnregisterServer(); }

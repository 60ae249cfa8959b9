// The four standard entry points of the in-process server.
#include "com/ClassFactory.h"
#include "com/NorvikMSRSOModule.h"

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

STDAPI DllCanUnloadNow() { return CNorvikMSRSOModule::CanUnload() ? S_OK : S_FALSE; }

STDAPI DllRegisterServer() { return norvik::com::RegisterServer(); }

STDAPI DllUnregisterServer() { return norvik::com::UnregisterServer(); }

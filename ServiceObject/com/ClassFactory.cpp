#include "com/ClassFactory.h"

#include <new>

namespace norvik::com {

HRESULT CClassFactory::Create(const ClassEntry& entry, REFIID riid, void** ppv) noexcept {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    auto* factory = new (std::nothrow) CClassFactory(entry);
    if (!factory) return E_OUTOFMEMORY;
    const HRESULT hr = factory->QueryInterface(riid, ppv);
    factory->Release();
    return hr;
}

IFACEMETHODIMP CClassFactory::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IClassFactory) {
        *ppv = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

IFACEMETHODIMP_(ULONG) CClassFactory::AddRef() { return ::InterlockedIncrement(&refs_); }

IFACEMETHODIMP_(ULONG) CClassFactory::Release() {
    const LONG refs = ::InterlockedDecrement(&refs_);
    if (refs == 0) delete this;
    return refs;
}

IFACEMETHODIMP CClassFactory::CreateInstance(IUnknown* outer, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    // An aggregating outer object must hold the inner object's own IUnknown.
    if (outer && riid != IID_IUnknown) return CLASS_E_NOAGGREGATION;
    return entry_.create(outer, riid, ppv);
}

IFACEMETHODIMP CClassFactory::LockServer(BOOL lock) {
    if (lock) {
        CNorvikMSRSOModule::Lock();
    } else {
        CNorvikMSRSOModule::Unlock();
    }
    return S_OK;
}

}  // namespace norvik::com

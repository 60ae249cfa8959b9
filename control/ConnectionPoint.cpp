#include "ConnectionPoint.h"

#include <olectl.h>
#include <shlwapi.h>

#include <new>

#include "Module.h"

namespace norvik::control {

STDMETHODIMP CEventConnectionPoint::QueryInterface(REFIID riid, void** ppv) {
    static const QITAB kInterfaces[] = {
        QITABENT(CEventConnectionPoint, IConnectionPoint),
        {nullptr, 0},
    };
    return ::QISearch(this, kInterfaces, riid, ppv);
}

STDMETHODIMP CEventConnectionPoint::GetConnectionInterface(IID* iid) {
    if (!iid) return E_POINTER;
    *iid = _eventInterface;
    return S_OK;
}

STDMETHODIMP CEventConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer** container) {
    if (!container) return E_POINTER;
    *container = _container;
    _container->AddRef();
    return S_OK;
}

STDMETHODIMP CEventConnectionPoint::Advise(IUnknown* sink, DWORD* cookie) {
    if (!cookie) return E_POINTER;
    *cookie = 0;
    if (!sink) return E_POINTER;
    // Events go out through IDispatch; a sink that implements the event dispinterface
    // answers for it, many answer only for IDispatch.
    ComPtr<IDispatch> dispatch;
    if (FAILED(sink->QueryInterface(_eventInterface, reinterpret_cast<void**>(dispatch.put()))) &&
        FAILED(sink->QueryInterface(IID_PPV_ARGS(dispatch.put())))) {
        return CONNECT_E_CANNOTCONNECT;
    }
    DWORD next = _lastCookie + 1;
    if (next == 0) next = 1;
    try {
        _sinks.emplace_back(next, std::move(dispatch));
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    _lastCookie = next;
    *cookie = next;
    return S_OK;
}

STDMETHODIMP CEventConnectionPoint::Unadvise(DWORD cookie) {
    for (auto it = _sinks.begin(); it != _sinks.end(); ++it) {
        if (it->first == cookie) {
            ComPtr<IDispatch> sink = std::move(it->second);  // released after the list is consistent
            _sinks.erase(it);
            return S_OK;
        }
    }
    return CONNECT_E_NOCONNECTION;
}

STDMETHODIMP CEventConnectionPoint::EnumConnections(IEnumConnections** connections) {
    if (!connections) return E_POINTER;
    *connections = nullptr;
    return E_NOTIMPL;  // allowed for connection points; nothing here needs it
}

std::vector<ComPtr<IDispatch>> CEventConnectionPoint::Sinks() const {
    std::vector<ComPtr<IDispatch>> sinks;
    sinks.reserve(_sinks.size());
    for (const auto& entry : _sinks) sinks.push_back(entry.second);
    return sinks;
}

// ---- CSingleConnectionPointEnum ----------------------------------------------------

HRESULT CSingleConnectionPointEnum::Create(IConnectionPoint* point, ULONG position, IEnumConnectionPoints** result) {
    if (!result) return E_POINTER;
    *result = new (std::nothrow) CSingleConnectionPointEnum(point, position);
    return *result ? S_OK : E_OUTOFMEMORY;
}

CSingleConnectionPointEnum::CSingleConnectionPointEnum(IConnectionPoint* point, ULONG position)
    : _point(point), _position(position) {
    Module::Lock();
}

CSingleConnectionPointEnum::~CSingleConnectionPointEnum() { Module::Unlock(); }

STDMETHODIMP CSingleConnectionPointEnum::QueryInterface(REFIID riid, void** ppv) {
    static const QITAB kInterfaces[] = {
        QITABENT(CSingleConnectionPointEnum, IEnumConnectionPoints),
        {nullptr, 0},
    };
    return ::QISearch(this, kInterfaces, riid, ppv);
}

STDMETHODIMP_(ULONG) CSingleConnectionPointEnum::AddRef() { return ::InterlockedIncrement(&_references); }

STDMETHODIMP_(ULONG) CSingleConnectionPointEnum::Release() {
    const LONG references = ::InterlockedDecrement(&_references);
    if (references == 0) delete this;
    return references;
}

STDMETHODIMP CSingleConnectionPointEnum::Next(ULONG count, IConnectionPoint** points, ULONG* fetched) {
    if (!points || (count > 1 && !fetched)) return E_POINTER;
    ULONG handed = 0;
    if (count > 0 && _position == 0) {
        points[0] = _point.get();
        points[0]->AddRef();
        _position = 1;
        handed = 1;
    }
    if (fetched) *fetched = handed;
    return handed == count ? S_OK : S_FALSE;
}

STDMETHODIMP CSingleConnectionPointEnum::Skip(ULONG count) {
    if (count == 0) return S_OK;
    const bool had = _position == 0;
    _position = 1;
    return had && count == 1 ? S_OK : S_FALSE;
}

STDMETHODIMP CSingleConnectionPointEnum::Reset() {
    _position = 0;
    return S_OK;
}

STDMETHODIMP CSingleConnectionPointEnum::Clone(IEnumConnectionPoints** result) {
    return Create(_point.get(), _position, result);
}

}  // namespace norvik::control

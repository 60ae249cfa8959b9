// The control's one connection point, for its event dispinterface, and the enumerator
// that hands it out. Both live inside the control and share its reference count.
#pragma once

#include <ocidl.h>

#include <utility>
#include <vector>

#include "ComResources.h"

namespace norvik::control {

class CEventConnectionPoint final : public IConnectionPoint {
public:
    CEventConnectionPoint(IConnectionPointContainer* container, REFIID eventInterface)
        : _container(container), _eventInterface(eventInterface) {}
    CEventConnectionPoint(const CEventConnectionPoint&) = delete;
    CEventConnectionPoint& operator=(const CEventConnectionPoint&) = delete;
    ~CEventConnectionPoint() = default;

    // IUnknown: the container's lifetime.
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override { return _container->AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return _container->Release(); }

    // IConnectionPoint
    STDMETHODIMP GetConnectionInterface(IID* iid) override;
    STDMETHODIMP GetConnectionPointContainer(IConnectionPointContainer** container) override;
    STDMETHODIMP Advise(IUnknown* sink, DWORD* cookie) override;
    STDMETHODIMP Unadvise(DWORD cookie) override;
    STDMETHODIMP EnumConnections(IEnumConnections** connections) override;

    // A snapshot, so that handlers may advise and unadvise while events go out.
    // Throws std::bad_alloc only.
    std::vector<ComPtr<IDispatch>> Sinks() const;
    void Clear() { _sinks.clear(); }

private:
    IConnectionPointContainer* const _container;
    const IID _eventInterface;
    std::vector<std::pair<DWORD, ComPtr<IDispatch>>> _sinks;
    DWORD _lastCookie = 0;  // cookies start at 1: 0 means "no connection"
};

// Enumerates exactly one connection point; a separate COM object with its own count.
class CSingleConnectionPointEnum final : public IEnumConnectionPoints {
public:
    static HRESULT Create(IConnectionPoint* point, ULONG position, IEnumConnectionPoints** result);

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    STDMETHODIMP Next(ULONG count, IConnectionPoint** points, ULONG* fetched) override;
    STDMETHODIMP Skip(ULONG count) override;
    STDMETHODIMP Reset() override;
    STDMETHODIMP Clone(IEnumConnectionPoints** result) override;

private:
    CSingleConnectionPointEnum(IConnectionPoint* point, ULONG position);
    ~CSingleConnectionPointEnum();

    LONG _references = 1;
    ComPtr<IConnectionPoint> _point;
    ULONG _position;
};

}  // namespace norvik::control

#include "com/ConnectionPoint.h"

#include <algorithm>
#include <new>

#include "com/SnapshotEnumerator.h"

namespace norvik::com {

IFACEMETHODIMP CConnectionPoint::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IConnectionPoint) {
        *ppv = static_cast<IConnectionPoint*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

IFACEMETHODIMP CConnectionPoint::GetConnectionInterface(IID* iid) {
    if (!iid) return E_POINTER;
    *iid = iid_;
    return S_OK;
}

IFACEMETHODIMP CConnectionPoint::GetConnectionPointContainer(
    IConnectionPointContainer** container) {
    if (!container) return E_POINTER;
    *container = container_;
    container_->AddRef();
    return S_OK;
}

IFACEMETHODIMP CConnectionPoint::Advise(IUnknown* sink, DWORD* cookie) {
    if (!cookie) return E_POINTER;
    *cookie = 0;
    if (!sink) return E_POINTER;
    // A sink must speak the outgoing interface, even though it is never called.
    ComPtr<IUnknown> held;
    if (FAILED(sink->QueryInterface(iid_, held.put_void()))) return CONNECT_E_CANNOTCONNECT;
    try {
        std::lock_guard<std::mutex> guard(lock_);
        // Cookies are never 0, and never one still in use after a wrap.
        DWORD next = lastCookie_;
        do {
            if (++next == 0) next = 1;
        } while (std::any_of(connections_.begin(), connections_.end(),
                             [next](const Connection& c) { return c.cookie == next; }));
        connections_.push_back({next, std::move(held)});
        lastCookie_ = next;
        *cookie = next;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

IFACEMETHODIMP CConnectionPoint::Unadvise(DWORD cookie) {
    ComPtr<IUnknown> released;  // let go of the sink after the lock is dropped
    {
        std::lock_guard<std::mutex> guard(lock_);
        auto found = std::find_if(connections_.begin(), connections_.end(),
                                  [cookie](const Connection& c) { return c.cookie == cookie; });
        if (cookie == 0 || found == connections_.end()) return CONNECT_E_NOCONNECTION;
        released = std::move(found->sink);
        connections_.erase(found);
    }
    return S_OK;
}

IFACEMETHODIMP CConnectionPoint::EnumConnections(IEnumConnections** connections) {
    if (!connections) return E_POINTER;
    *connections = nullptr;
    try {
        std::vector<CONNECTDATA> snapshot;
        {
            std::lock_guard<std::mutex> guard(lock_);
            snapshot.reserve(connections_.size());
            for (const Connection& c : connections_) snapshot.push_back({c.sink.get(), c.cookie});
            // The enumerator takes its references before the lock is dropped.
            return CSnapshotEnumerator<IEnumConnections, ConnectDataItem>::Create(
                std::move(snapshot), 0, connections);
        }
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

}  // namespace norvik::com

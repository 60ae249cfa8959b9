// A connection point embedded in the object that offers it. It shares the
// owner's lifetime: its AddRef and Release go to the owning container.
// Sinks are accepted and held, each under a cookie that is never 0.
#pragma once

#include <ocidl.h>
#include <olectl.h>

#include <mutex>
#include <vector>

#include "com/ComResources.h"

namespace norvik::com {

class CConnectionPoint final : public IConnectionPoint {
public:
    // `container` owns this object and outlives it; no reference is taken.
    CConnectionPoint(IConnectionPointContainer* container, REFIID iid) noexcept
        : container_(container), iid_(iid) {}
    CConnectionPoint(const CConnectionPoint&) = delete;
    CConnectionPoint& operator=(const CConnectionPoint&) = delete;

    REFIID iid() const noexcept { return iid_; }

    IFACEMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    IFACEMETHODIMP_(ULONG) AddRef() override { return container_->AddRef(); }
    IFACEMETHODIMP_(ULONG) Release() override { return container_->Release(); }

    IFACEMETHODIMP GetConnectionInterface(IID* iid) override;
    IFACEMETHODIMP GetConnectionPointContainer(IConnectionPointContainer** container) override;
    IFACEMETHODIMP Advise(IUnknown* sink, DWORD* cookie) override;
    IFACEMETHODIMP Unadvise(DWORD cookie) override;
    IFACEMETHODIMP EnumConnections(IEnumConnections** connections) override;

private:
    struct Connection {
        DWORD cookie;
        ComPtr<IUnknown> sink;
    };

    IConnectionPointContainer* const container_;
    const IID iid_;
    std::mutex lock_;  // guards the two members below; never held while calling a sink
    DWORD lastCookie_ = 0;
    std::vector<Connection> connections_;
};

}  // namespace norvik::com

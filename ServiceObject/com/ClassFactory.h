// One class factory for every entry of the class table.
#pragma once

#include "com/NorvikMSRSOModule.h"

namespace norvik::com {

class CClassFactory final : public IClassFactory {
public:
    static HRESULT Create(const ClassEntry& entry, REFIID riid, void** ppv) noexcept;

    IFACEMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    IFACEMETHODIMP_(ULONG) AddRef() override;
    IFACEMETHODIMP_(ULONG) Release() override;

    IFACEMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override;
    IFACEMETHODIMP LockServer(BOOL lock) override;

private:
    explicit CClassFactory(const ClassEntry& entry) noexcept : entry_(entry) {}
    ~CClassFactory() = default;

    ModuleReference module_;  // a class object held by a client keeps the server loaded
    LONG refs_ = 1;
    const ClassEntry& entry_;
};

}  // namespace norvik::com

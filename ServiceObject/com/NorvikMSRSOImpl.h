// CNorvikMSRSOImpl: the OPOS MSR service object as a COM class. The OPOS MSR
// control object creates it by ProgID and calls it through IDispatch; every
// method converts its automation arguments (ANSI code page for texts) and
// forwards to norvik::ServiceObjectCore, which holds the OPOS logic.
//
// Lifecycle: created by the class factory, optionally aggregated; the last
// Release destroys it, and with it the core.
// Concurrency: threading model "Both". Methods may arrive on any thread; the
// core serialises its own state. The connection point guards its sinks.
// Ownership: the control object's IDispatch passed to OpenService is held
// without a reference. Out-strings are newly allocated for the caller; an
// in/out string is freed and replaced only when the core replaced its text.
#pragma once

#include <windows.h>
#include <ocidl.h>

#include <memory>

// winsvc.h (pulled in by windows.h) maps OpenService to OpenServiceA; here
// the name is the OPOS method of the interface and of the core.
#undef OpenService

#include "NorvikMSRSO_h.h"
#include "com/ComResources.h"
#include "com/ConnectionPoint.h"
#include "com/NorvikMSRSOModule.h"
#include "instance/ServiceObjectCore.h"

class CNorvikMSRSOImpl final : public INorvikMSRSOImpl, public IConnectionPointContainer {
public:
    // Creates one instance and returns its `riid`. With an `outer` object the
    // instance is aggregated, and `riid` must be IID_IUnknown.
    static HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv) noexcept;

    // IUnknown: the controlling unknown's, which is the outer object's when aggregated.
    IFACEMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        return outer_->QueryInterface(riid, ppv);
    }
    IFACEMETHODIMP_(ULONG) AddRef() override { return outer_->AddRef(); }
    IFACEMETHODIMP_(ULONG) Release() override { return outer_->Release(); }

    // IDispatch, answered from the type library.
    IFACEMETHODIMP GetTypeInfoCount(UINT* count) override;
    IFACEMETHODIMP GetTypeInfo(UINT index, LCID lcid, ITypeInfo** typeInfo) override;
    IFACEMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid,
                                 DISPID* dispids) override;
    IFACEMETHODIMP Invoke(DISPID dispid, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params,
                          VARIANT* result, EXCEPINFO* exception, UINT* argumentError) override;

    // INorvikMSRSOImpl, in DISPID order.
    IFACEMETHODIMP COFreezeEvents(VARIANT_BOOL Freeze, long* pRC) override;
    IFACEMETHODIMP GetPropertyNumber(long PropIndex, long* pNumber) override;
    IFACEMETHODIMP SetPropertyNumber(long PropIndex, long Number) override;
    IFACEMETHODIMP GetPropertyString(long PropIndex, BSTR* pString) override;
    IFACEMETHODIMP SetPropertyString(long PropIndex, BSTR String) override;
    IFACEMETHODIMP OpenService(BSTR DeviceClass, BSTR DeviceName, IDispatch* pDispatch,
                               long* pRC) override;
    IFACEMETHODIMP CheckHealth(long Level, long* pRC) override;
    IFACEMETHODIMP ClaimDevice(long TimeoutZ, long* pRC) override;
    IFACEMETHODIMP CloseService(long* pRC) override;
    IFACEMETHODIMP DirectIO(long Command, long* pData, BSTR* pString, long* pRC) override;
    IFACEMETHODIMP ReleaseDevice(long* pRC) override;
    IFACEMETHODIMP ClearInput(long* pRC) override;
    IFACEMETHODIMP ClearInputProperties(long* pRC) override;
    IFACEMETHODIMP ResetStatistics(BSTR StatisticsBuffer, long* pRC) override;
    IFACEMETHODIMP RetrieveStatistics(BSTR* pStatisticsBuffer, long* pRC) override;
    IFACEMETHODIMP UpdateStatistics(BSTR StatisticsBuffer, long* pRC) override;
    IFACEMETHODIMP CompareFirmwareVersion(BSTR FirmwareFileName, long* pResult,
                                          long* pRC) override;
    IFACEMETHODIMP UpdateFirmware(BSTR FirmwareFileName, long* pRC) override;
    IFACEMETHODIMP WriteTracks(VARIANT DataZ, long TimeoutZ, long* pRC) override;
    IFACEMETHODIMP AuthenticateDevice(BSTR Response, long* pRC) override;
    IFACEMETHODIMP DeauthenticateDevice(BSTR Response, long* pRC) override;
    IFACEMETHODIMP RetrieveCardProperty(BSTR Name, BSTR* pValue, long* pRC) override;
    IFACEMETHODIMP RetrieveDeviceAuthenticationData(BSTR* pChallenge, long* pRC) override;
    IFACEMETHODIMP UpdateKey(BSTR Key, BSTR KeyName, long* pRC) override;

    // IConnectionPointContainer: one point, for _INorvikMSRSOImplEvents.
    IFACEMETHODIMP EnumConnectionPoints(IEnumConnectionPoints** points) override;
    IFACEMETHODIMP FindConnectionPoint(REFIID riid, IConnectionPoint** point) override;

private:
    // The object's own IUnknown, which an aggregating outer object holds.
    class CInnerUnknown final : public IUnknown {
    public:
        explicit CInnerUnknown(CNorvikMSRSOImpl& owner) noexcept : owner_(owner) {}
        IFACEMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
        IFACEMETHODIMP_(ULONG) AddRef() override;
        IFACEMETHODIMP_(ULONG) Release() override;

    private:
        CNorvikMSRSOImpl& owner_;
    };

    explicit CNorvikMSRSOImpl(IUnknown* outer) noexcept;
    ~CNorvikMSRSOImpl();
    CNorvikMSRSOImpl(const CNorvikMSRSOImpl&) = delete;
    CNorvikMSRSOImpl& operator=(const CNorvikMSRSOImpl&) = delete;

    HRESULT Initialize() noexcept;
    static constexpr UINT kUnknownMember = ~0u;
    UINT DeclaredParameterCount(DISPID dispid) const noexcept;

    norvik::com::ModuleReference moduleReference_;  // first in, last out
    CInnerUnknown inner_{*this};
    IUnknown* const outer_;  // the controlling unknown; no reference is held on it
    LONG refs_ = 1;
    norvik::com::ComPtr<ITypeInfo> typeInfo_;       // the dispatch view, for IDispatch
    norvik::com::ComPtr<ITypeInfo> interfaceInfo_;  // the vtable view of the same interface
    norvik::com::CConnectionPoint events_;
    std::unique_ptr<norvik::ServiceObjectCore> core_;
};

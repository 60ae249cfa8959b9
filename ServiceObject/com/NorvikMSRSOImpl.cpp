#include "com/NorvikMSRSOImpl.h"

#include <cstdint>
#include <new>
#include <string>
#include <vector>

#include "com/AnsiText.h"
#include "common/SecureWipe.h"
#include "com/ComControlObject.h"
#include "com/NorvikMSRSOModule.h"
#include "com/SnapshotEnumerator.h"
#include "composition/DefaultEnvironment.h"

using norvik::com::BstrFromNarrow;
using norvik::com::CNorvikMSRSOModule;
using norvik::com::ComPtr;
using norvik::com::NarrowFromBstr;
using norvik::com::UniqueBstr;

namespace {

// Every method returns S_OK; the OPOS outcome travels in its parameters. Only
// a missing pointer or exhausted memory turns into a COM error, and nothing is
// thrown across the interface.
template <class Body>
HRESULT Guarded(Body&& body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

template <class... P>
bool AllSet(P*... pointers) noexcept {
    return ((pointers != nullptr) && ...);
}

// Carries a long parameter to the core as int32_t and back. What the core
// leaves untouched keeps the caller's value.
class LongArg {
public:
    explicit LongArg(long* target) noexcept : target_(target), value_(*target) {}
    ~LongArg() { *target_ = value_; }
    LongArg(const LongArg&) = delete;
    LongArg& operator=(const LongArg&) = delete;
    int32_t* get() noexcept { return &value_; }

private:
    long* target_;
    int32_t value_;
};

// Frees the caller's string and puts a new one holding `text` in its place.
HRESULT ReplaceBstr(BSTR* target, const std::string& text) noexcept {
    UniqueBstr value;
    const HRESULT hr = BstrFromNarrow(text, value);
    if (FAILED(hr)) return hr;
    ::SysFreeString(*target);
    *target = value.release();
    return S_OK;
}

}  // namespace

// ---- Construction and identity ------------------------------------------------

HRESULT CNorvikMSRSOImpl::CreateInstance(IUnknown* outer, REFIID riid, void** ppv) noexcept {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (outer && riid != IID_IUnknown) return CLASS_E_NOAGGREGATION;
    auto* object = new (std::nothrow) CNorvikMSRSOImpl(outer);
    if (!object) return E_OUTOFMEMORY;
    HRESULT hr = object->Initialize();
    if (SUCCEEDED(hr)) hr = object->inner_.QueryInterface(riid, ppv);
    object->inner_.Release();
    return hr;
}

CNorvikMSRSOImpl::CNorvikMSRSOImpl(IUnknown* outer) noexcept
    : outer_(outer ? outer : static_cast<IUnknown*>(&inner_)),
      events_(static_cast<IConnectionPointContainer*>(this), DIID__INorvikMSRSOImplEvents) {}

// Members go in reverse order: the core first (it stops delivering events and
// drops the control object), the module reference last.
CNorvikMSRSOImpl::~CNorvikMSRSOImpl() = default;

HRESULT CNorvikMSRSOImpl::Initialize() noexcept {
    wchar_t module[MAX_PATH];
    if (!CNorvikMSRSOModule::Path(module)) return E_FAIL;
    ComPtr<ITypeLib> typeLib;
    HRESULT hr = ::LoadTypeLibEx(module, REGKIND_NONE, typeLib.put());
    if (FAILED(hr)) return hr;
    hr = typeLib->GetTypeInfoOfGuid(IID_INorvikMSRSOImpl, typeInfo_.put());
    if (FAILED(hr)) return hr;
    HREFTYPE vtableView = 0;
    hr = typeInfo_->GetRefTypeOfImplType(-1, &vtableView);
    if (FAILED(hr)) return hr;
    hr = typeInfo_->GetRefTypeInfo(vtableView, interfaceInfo_.put());
    if (FAILED(hr)) return hr;
    return Guarded([&] {
        core_ = std::make_unique<norvik::ServiceObjectCore>(norvik::WithPlatformDefaults({}));
        return S_OK;
    });
}

namespace {

struct InterfaceEntry {
    const IID* iid;
    IUnknown* (*cast)(CNorvikMSRSOImpl*);
};

template <class Interface>
IUnknown* As(CNorvikMSRSOImpl* object) {
    return static_cast<Interface*>(object);
}

// IUnknown itself is answered by the inner unknown.
const InterfaceEntry kInterfaces[] = {
    {&IID_INorvikMSRSOImpl, &As<INorvikMSRSOImpl>},
    {&IID_IDispatch, &As<INorvikMSRSOImpl>},
    {&IID_IConnectionPointContainer, &As<IConnectionPointContainer>},
};

}  // namespace

IFACEMETHODIMP CNorvikMSRSOImpl::CInnerUnknown::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    IUnknown* found = nullptr;
    if (riid == IID_IUnknown) {
        found = this;
    } else {
        for (const InterfaceEntry& entry : kInterfaces) {
            if (*entry.iid == riid) {
                found = entry.cast(&owner_);
                break;
            }
        }
    }
    if (!found) return E_NOINTERFACE;
    found->AddRef();
    *ppv = found;
    return S_OK;
}

IFACEMETHODIMP_(ULONG) CNorvikMSRSOImpl::CInnerUnknown::AddRef() {
    return ::InterlockedIncrement(&owner_.refs_);
}

IFACEMETHODIMP_(ULONG) CNorvikMSRSOImpl::CInnerUnknown::Release() {
    const LONG refs = ::InterlockedDecrement(&owner_.refs_);
    if (refs == 0) delete &owner_;
    return refs;
}

// ---- IDispatch ------------------------------------------------------------------

// Parameters of the method `dispid` in the vtable, its [retval] included.
UINT CNorvikMSRSOImpl::DeclaredParameterCount(DISPID dispid) const noexcept {
    ComPtr<ITypeInfo2> info;
    UINT index = 0;
    FUNCDESC* func = nullptr;
    if (FAILED(interfaceInfo_.As(&info)) ||
        FAILED(info->GetFuncIndexOfMemId(dispid, INVOKE_FUNC, &index)) ||
        FAILED(info->GetFuncDesc(index, &func))) {
        return kUnknownMember;
    }
    const UINT count = static_cast<UINT>(func->cParams);
    info->ReleaseFuncDesc(func);
    return count;
}

IFACEMETHODIMP CNorvikMSRSOImpl::GetTypeInfoCount(UINT* count) {
    if (!count) return E_POINTER;
    *count = 1;
    return S_OK;
}

IFACEMETHODIMP CNorvikMSRSOImpl::GetTypeInfo(UINT index, LCID, ITypeInfo** typeInfo) {
    if (!typeInfo) return E_POINTER;
    *typeInfo = nullptr;
    if (index != 0) return DISP_E_BADINDEX;
    return typeInfo_.CopyTo(typeInfo);
}

IFACEMETHODIMP CNorvikMSRSOImpl::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID,
                                               DISPID* dispids) {
    if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
    return ::DispGetIDsOfNames(typeInfo_.get(), names, count, dispids);
}

IFACEMETHODIMP CNorvikMSRSOImpl::Invoke(DISPID dispid, REFIID riid, LCID, WORD flags,
                                        DISPPARAMS* params, VARIANT* result,
                                        EXCEPINFO* exception, UINT* argumentError) {
    if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
    if (!params) return E_INVALIDARG;
    // Some ITypeInfo::Invoke implementations drop surplus arguments silently;
    // a caller passing more than the method declares has the wrong method.
    const UINT declared = DeclaredParameterCount(dispid);
    if (declared != kUnknownMember && params->cArgs > declared) return DISP_E_BADPARAMCOUNT;
    return typeInfo_->Invoke(static_cast<INorvikMSRSOImpl*>(this), dispid, flags, params, result,
                             exception, argumentError);
}

// ---- INorvikMSRSOImpl -------------------------------------------------------------

IFACEMETHODIMP CNorvikMSRSOImpl::COFreezeEvents(VARIANT_BOOL Freeze, long* pRC) {
    if (!AllSet(pRC)) return E_POINTER;
    return Guarded([&] {
        LongArg rc(pRC);
        core_->COFreezeEvents(Freeze != VARIANT_FALSE, rc.get());
        return S_OK;
    });
}

IFACEMETHODIMP CNorvikMSRSOImpl::GetPropertyNumber(long PropIndex, long* pNumber) {
    if (!AllSet(pNumber)) return E_POINTER;
    return Guarded([&] {
        LongArg number(pNumber);
        core_->GetPropertyNumber(PropIndex, number.get());
        return S_OK;
    });
}

IFACEMETHODIMP CNorvikMSRSOImpl::SetPropertyNumber(long PropIndex, long Number) {
    return Guarded([&] {
        core_->SetPropertyNumber(PropIndex, Number);
        return S_OK;
    });
}

IFACEMETHODIMP CNorvikMSRSOImpl::GetPropertyString(long PropIndex, BSTR* pString) {
    if (!AllSet(pString)) return E_POINTER;
    *pString = nullptr;
    return Guarded([&] {
        std::string value;
        core_->GetPropertyString(PropIndex, value);
        UniqueBstr result;
        const HRESULT hr = BstrFromNarrow(value, result);
        norvik::SecureWipe(value);  // it may be a track: no copy left in freed memory
        *pString = result.release();
        return hr;
    });
}

IFACEMETHODIMP CNorvikMSRSOImpl::SetPropertyString(long PropIndex, BSTR String) {
    return Guarded([&] {
        core_->SetPropertyString(PropIndex, NarrowFromBstr(String));
        return S_OK;
    });
}

IFACEMETHODIMP CNorvikMSRSOImpl::OpenService(BSTR DeviceClass, BSTR DeviceName,
                                             IDispatch* pDispatch, long* pRC) {
    if (!AllSet(pRC)) return E_POINTER;
    return Guarded([&] {
        std::unique_ptr<norvik::ControlObject> control;
        if (pDispatch) control = std::make_unique<norvik::com::ComControlObject>(pDispatch);
        LongArg rc(pRC);
        core_->OpenService(NarrowFromBstr(DeviceClass), NarrowFromBstr(DeviceName),
                           std::move(control), rc.get());
        return S_OK;
    });
}

IFACEMETHODIMP CNorvikMSRSOImpl::CheckHealth(long Level, long* pRC) {
    if (!AllSet(pRC)) return E_POINTER;
    return Guarded([&] {
        LongArg rc(pRC);
        core_->CheckHealth(Level, rc.get());
        return S_OK;
    });
}

IFACEMETHODIMP CNorvikMSRSOImpl::ClaimDevice(long TimeoutZ, long* pRC) {
    if (!AllSet(pRC)) return E_POINTER;
    return Guarded([&] {
        LongArg rc(pRC);
        core_->ClaimDevice(TimeoutZ, rc.get());
        return S_OK;
    });
}

IFACEMETHODIMP CNorvikMSRSOImpl::CloseService(long* pRC) {
    if (!AllSet(pRC)) return E_POINTER;
    return Guarded([&] {
        LongArg rc(pRC);
        core_->CloseService(rc.get());
        return S_OK;
    });
}

IFACEMETHODIMP CNorvikMSRSOImpl::DirectIO(long Command, long* pData, BSTR* pString, long* pRC) {
    if (!AllSet(pData, pString, pRC)) return E_POINTER;
    return Guarded([&] {
        std::string text = NarrowFromBstr(*pString);
        bool replaced;
        {
            LongArg data(pData);
            LongArg rc(pRC);
            replaced = core_->DirectIO(Command, data.get(), text, rc.get());
        }
        const HRESULT hr = replaced ? ReplaceBstr(pString, text) : S_OK;
        // A reply may carry card data: none stays in freed memory, nor in the
        // caller's vector registers, which its thread's next system call saves.
        norvik::SecureWipe(text);
        norvik::WipeVectorRegisters();
        return hr;
    });
}

IFACEMETHODIMP CNorvikMSRSOImpl::ReleaseDevice(long* pRC) {
    if (!AllSet(pRC)) return E_POINTER;
    return Guarded([&] {
        LongArg rc(pRC);
        core_->ReleaseDevice(rc.get());
        return S_OK;
    });
}

IFACEMETHODIMP CNorvikMSRSOImpl::ClearInput(long* pRC) {
    if (!AllSet(pRC)) return E_POINTER;
    return Guarded([&] {
        LongArg rc(pRC);
        core_->ClearInput(rc.get());
        return S_OK;
    });
}

IFACEMETHODIMP CNorvikMSRSOImpl::ClearInputProperties(long* pRC) {
    if (!AllSet(pRC)) return E_POINTER;
    return Guarded([&] {
        LongArg rc(pRC);
        core_->ClearInputProperties(rc.get());
        return S_OK;
    });
}

IFACEMETHODIMP CNorvikMSRSOImpl::ResetStatistics(BSTR, long* pRC) {
    if (!AllSet(pRC)) return E_POINTER;
    return Guarded([&] {
        LongArg rc(pRC);
        core_->ResetStatistics(rc.get());
        return S_OK;
    });
}

IFACEMETHODIMP CNorvikMSRSOImpl::RetrieveStatistics(BSTR* pStatisticsBuffer, long* pRC) {
    if (!AllSet(pStatisticsBuffer, pRC)) return E_POINTER;
    return Guarded([&] {
        std::string buffer = NarrowFromBstr(*pStatisticsBuffer);
        bool replaced;
        {
            LongArg rc(pRC);
            replaced = core_->RetrieveStatistics(buffer, rc.get());
        }
        return replaced ? ReplaceBstr(pStatisticsBuffer, buffer) : S_OK;
    });
}

IFACEMETHODIMP CNorvikMSRSOImpl::UpdateStatistics(BSTR, long* pRC) {
    if (!AllSet(pRC)) return E_POINTER;
    return Guarded([&] {
        LongArg rc(pRC);
        core_->UpdateStatistics(rc.get());
        return S_OK;
    });
}

IFACEMETHODIMP CNorvikMSRSOImpl::CompareFirmwareVersion(BSTR, long* pResult, long* pRC) {
    if (!AllSet(pResult, pRC)) return E_POINTER;
    return Guarded([&] {
        LongArg result(pResult);
        LongArg rc(pRC);
        core_->CompareFirmwareVersion(result.get(), rc.get());
        return S_OK;
    });
}

IFACEMETHODIMP CNorvikMSRSOImpl::UpdateFirmware(BSTR, long* pRC) {
    if (!AllSet(pRC)) return E_POINTER;
    return Guarded([&] {
        LongArg rc(pRC);
        core_->UpdateFirmware(rc.get());
        return S_OK;
    });
}

IFACEMETHODIMP CNorvikMSRSOImpl::WriteTracks(VARIANT, long, long* pRC) {
    if (!AllSet(pRC)) return E_POINTER;
    return Guarded([&] {
        LongArg rc(pRC);
        core_->WriteTracks(rc.get());
        return S_OK;
    });
}

IFACEMETHODIMP CNorvikMSRSOImpl::AuthenticateDevice(BSTR, long* pRC) {
    if (!AllSet(pRC)) return E_POINTER;
    return Guarded([&] {
        LongArg rc(pRC);
        core_->AuthenticateDevice(rc.get());
        return S_OK;
    });
}

IFACEMETHODIMP CNorvikMSRSOImpl::DeauthenticateDevice(BSTR, long* pRC) {
    if (!AllSet(pRC)) return E_POINTER;
    return Guarded([&] {
        LongArg rc(pRC);
        core_->DeauthenticateDevice(rc.get());
        return S_OK;
    });
}

IFACEMETHODIMP CNorvikMSRSOImpl::RetrieveCardProperty(BSTR Name, BSTR* pValue, long* pRC) {
    if (!AllSet(pValue, pRC)) return E_POINTER;
    return Guarded([&] {
        std::string value;
        bool found;
        {
            LongArg rc(pRC);
            found = core_->RetrieveCardProperty(NarrowFromBstr(Name), value, rc.get());
        }
        if (!found) return S_OK;  // an unknown name leaves the caller's value alone
        UniqueBstr result;
        const HRESULT hr = BstrFromNarrow(value, result);
        norvik::SecureWipe(value);
        if (SUCCEEDED(hr)) *pValue = result.release();  // [out]: the old value is not ours
        return hr;
    });
}

IFACEMETHODIMP CNorvikMSRSOImpl::RetrieveDeviceAuthenticationData(BSTR* pChallenge, long* pRC) {
    if (!AllSet(pChallenge, pRC)) return E_POINTER;
    return Guarded([&] {
        LongArg rc(pRC);
        core_->RetrieveDeviceAuthenticationData(rc.get());
        return S_OK;
    });
}

IFACEMETHODIMP CNorvikMSRSOImpl::UpdateKey(BSTR, BSTR, long* pRC) {
    if (!AllSet(pRC)) return E_POINTER;
    return Guarded([&] {
        LongArg rc(pRC);
        core_->UpdateKey(rc.get());
        return S_OK;
    });
}

// ---- IConnectionPointContainer ----------------------------------------------------

IFACEMETHODIMP CNorvikMSRSOImpl::EnumConnectionPoints(IEnumConnectionPoints** points) {
    if (!points) return E_POINTER;
    *points = nullptr;
    return Guarded([&] {
        std::vector<IConnectionPoint*> all = {&events_};
        return norvik::com::CSnapshotEnumerator<IEnumConnectionPoints,
                                                norvik::com::ConnectionPointItem>::Create(all, 0,
                                                                                          points);
    });
}

IFACEMETHODIMP CNorvikMSRSOImpl::FindConnectionPoint(REFIID riid, IConnectionPoint** point) {
    if (!point) return E_POINTER;
    *point = nullptr;
    if (riid != events_.iid()) return CONNECT_E_NOCONNECTION;
    *point = &events_;
    events_.AddRef();
    return S_OK;
}

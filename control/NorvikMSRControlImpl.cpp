#include "NorvikMSRControlImpl.h"

#include <olectl.h>
#include <shlwapi.h>

#include <memory>
#include <new>

#include "DeviceRegistry.h"
#include "Module.h"
#include "NorvikMSRControl.h"

namespace norvik::control {
namespace {

constexpr wchar_t kDeviceClass[] = L"MSR";
constexpr wchar_t kControlObjectDescription[] = L"Norvik OPOS MSR Control Object";

const wchar_t* EventName(EventKind kind) {
    switch (kind) {
        case EventKind::Data: return L"DataEvent";
        case EventKind::DirectIO: return L"DirectIOEvent";
        case EventKind::Error: return L"ErrorEvent";
        case EventKind::StatusUpdate: return L"StatusUpdateEvent";
    }
    return L"";
}

BSTR CopyBstr(BSTR text) { return text ? ::SysAllocStringLen(text, ::SysStringLen(text)) : nullptr; }

}  // namespace

// One event on its way to the creating thread. It owns copies of the by-reference values,
// so that a caller released early never leaves the handlers writing into its stack.
class CNorvikMSRControl::EventCall final : public RelayJob {
public:
    EventCall(CNorvikMSRControl* control, EventKind kind) : _control(control), _kind(kind) {}
    void Run() override {
        _control->FireToSinks(_kind, values, hasNumber ? &number : nullptr, hasText ? text.addressof() : nullptr);
    }

    LONG values[3] = {};
    bool hasNumber = false;
    LONG number = 0;
    bool hasText = false;
    UniqueBstr text;

private:
    CNorvikMSRControl* const _control;
    const EventKind _kind;
};

HRESULT CNorvikMSRControl::CreateInstance(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    CNorvikMSRControl* control = new (std::nothrow) CNorvikMSRControl();
    if (!control) return E_OUTOFMEMORY;
    HRESULT hr = control->Initialize();
    if (SUCCEEDED(hr)) hr = control->QueryInterface(riid, ppv);
    control->Release();
    return hr;
}

CNorvikMSRControl::CNorvikMSRControl()
    : _connectionPoint(this, DIID__INorvikMSRControlEvents), _relay([this] { return _window.Post(); }) {
    Module::Lock();
    _relay.Shut();  // nothing to deliver until a service object is open
}

CNorvikMSRControl::~CNorvikMSRControl() {
    _relay.Shut();
    if (_serviceObject.IsBound()) CloseServiceObject();
    _connectionPoint.Clear();
    _relay.WaitForCallers();  // none of them will post to the window any more
    _window.Destroy();
    Module::Unlock();
}

HRESULT CNorvikMSRControl::Initialize() {
    HRESULT hr = Module::GetTypeInfo(IID_INorvikMSRControl, _typeInfo.put());
    if (FAILED(hr)) return hr;
    try {
        return _window.Create(Module::Instance(), [this] {
            ComPtr<INorvikMSRControl> keepAlive(this);  // a handler may drop the last reference
            _relay.RunPending();
        });
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

// ---- IUnknown --------------------------------------------------------------------

STDMETHODIMP CNorvikMSRControl::QueryInterface(REFIID riid, void** ppv) {
    static const QITAB kInterfaces[] = {
        QITABENT(CNorvikMSRControl, INorvikMSRControl),
        QITABENTMULTI(CNorvikMSRControl, IDispatch, INorvikMSRControl),
        QITABENT(CNorvikMSRControl, IConnectionPointContainer),
        QITABENT(CNorvikMSRControl, IProvideClassInfo2),
        QITABENTMULTI(CNorvikMSRControl, IProvideClassInfo, IProvideClassInfo2),
        {nullptr, 0},
    };
    return ::QISearch(this, kInterfaces, riid, ppv);
}

STDMETHODIMP_(ULONG) CNorvikMSRControl::AddRef() { return ::InterlockedIncrement(&_references); }

STDMETHODIMP_(ULONG) CNorvikMSRControl::Release() {
    const LONG references = ::InterlockedDecrement(&_references);
    if (references == 0) {
        _references = 1;  // calls made while closing must not destroy it a second time
        delete this;
    }
    return references;
}

// ---- IDispatch -------------------------------------------------------------------

STDMETHODIMP CNorvikMSRControl::GetTypeInfoCount(UINT* count) {
    if (!count) return E_POINTER;
    *count = 1;
    return S_OK;
}

STDMETHODIMP CNorvikMSRControl::GetTypeInfo(UINT index, LCID, ITypeInfo** typeInfo) {
    if (!typeInfo) return E_POINTER;
    *typeInfo = nullptr;
    if (index != 0) return DISP_E_BADINDEX;
    return _typeInfo.CopyTo(typeInfo);
}

STDMETHODIMP CNorvikMSRControl::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
    if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
    return _typeInfo->GetIDsOfNames(names, count, ids);
}

STDMETHODIMP CNorvikMSRControl::Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* parameters,
                                       VARIANT* result, EXCEPINFO* exception, UINT* argumentError) {
    if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
    return _typeInfo->Invoke(static_cast<INorvikMSRControl*>(this), id, flags, parameters, result, exception,
                             argumentError);
}

// ---- IConnectionPointContainer / IProvideClassInfo2 ------------------------------

STDMETHODIMP CNorvikMSRControl::EnumConnectionPoints(IEnumConnectionPoints** points) {
    return CSingleConnectionPointEnum::Create(&_connectionPoint, 0, points);
}

STDMETHODIMP CNorvikMSRControl::FindConnectionPoint(REFIID riid, IConnectionPoint** point) {
    if (!point) return E_POINTER;
    *point = nullptr;
    if (riid != DIID__INorvikMSRControlEvents) return CONNECT_E_NOCONNECTION;
    *point = &_connectionPoint;
    (*point)->AddRef();
    return S_OK;
}

STDMETHODIMP CNorvikMSRControl::GetClassInfo(ITypeInfo** typeInfo) {
    return Module::GetTypeInfo(CLSID_NorvikMSRControl, typeInfo);
}

STDMETHODIMP CNorvikMSRControl::GetGUID(DWORD kind, GUID* guid) {
    if (!guid) return E_POINTER;
    if (kind != GUIDKIND_DEFAULT_SOURCE_DISP_IID) {
        *guid = GUID_NULL;
        return E_INVALIDARG;
    }
    *guid = DIID__INorvikMSRControlEvents;
    return S_OK;
}

// ---- Life cycle ------------------------------------------------------------------

STDMETHODIMP CNorvikMSRControl::Open(BSTR DeviceName, LONG* pRC) {
    if (!pRC) return E_POINTER;
    if (_serviceObject.IsBound()) {
        _openResult = NORVIKMSR_OR_ALREADYOPEN;
        *pRC = kOposIllegal;
        return S_OK;
    }
    try {
        const LogicalDevice device = ResolveLogicalDevice(DeviceName ? DeviceName : L"");
        if (device.result != kOposSuccess) {
            *pRC = FailOpen(device.result, device.openResult);
            return S_OK;
        }

        CLSID clsid;
        if (FAILED(::CLSIDFromProgID(device.progId.c_str(), &clsid))) {
            *pRC = FailOpen(kOposNoService, NORVIKMSR_OR_REGPROGID);
            return S_OK;
        }
        ComPtr<IDispatch> created;
        if (FAILED(::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(created.put())))) {
            *pRC = FailOpen(kOposNoService, NORVIKMSR_OR_CREATE);
            return S_OK;
        }

        ServiceObjectClient serviceObject;
        if (FAILED(serviceObject.Bind(created.get()))) {
            *pRC = FailOpen(kOposNoService, NORVIKMSR_OR_BADIF);
            return S_OK;
        }
        LONG version = 0;
        if (FAILED(serviceObject.GetNumber(PIDX_ServiceObjectVersion, &version)) || version / 1000000 != 1) {
            *pRC = FailOpen(kOposNoService, NORVIKMSR_OR_BADVERSION);
            return S_OK;
        }

        UniqueBstr deviceClass = UniqueBstr::Copy(kDeviceClass);
        UniqueBstr deviceKey = UniqueBstr::Copy(device.deviceKey.c_str());
        if (!deviceClass.get() || !deviceKey.get()) return E_OUTOFMEMORY;

        // The service object may raise events from OpenService on.
        _serviceObject = std::move(serviceObject);
        _relay.Open();
        const long result = _serviceObject.Call(
            SoMethod::OpenService, {arg::String(deviceClass.get()), arg::String(deviceKey.get()),
                                    arg::Dispatch(static_cast<INorvikMSRControl*>(this))});
        if (result != kOposSuccess) {
            _relay.Shut();
            _serviceObject.Release();  // it never opened, so it gets no CloseService
            *pRC = FailOpen(result, NORVIKMSR_OR_FAILEDOPEN);
            return S_OK;
        }
        _openResult = 0;
        *pRC = kOposSuccess;
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

long CNorvikMSRControl::FailOpen(long result, long openResult) {
    _openResult = openResult;
    _closedResultCode = result;
    _closedResultCodeExtended = 0;
    return result;
}

STDMETHODIMP CNorvikMSRControl::Close(LONG* pRC) {
    if (!pRC) return E_POINTER;
    if (!_serviceObject.IsBound()) {
        _closedResultCode = kOposClosed;
        _closedResultCodeExtended = 0;
        *pRC = kOposClosed;
        return S_OK;
    }
    *pRC = CloseServiceObject();
    return S_OK;
}

long CNorvikMSRControl::CloseServiceObject() {
    // Release waiting event callers first: CloseService may wait for the very thread
    // that is blocked in SOData.
    _relay.Shut();
    const long result = _serviceObject.Call(SoMethod::CloseService, {});
    _serviceObject.Release();
    _closedResultCode = result;
    _closedResultCodeExtended = 0;
    return result;
}

// ---- Forwarded methods -----------------------------------------------------------

HRESULT CNorvikMSRControl::CallMethod(SoMethod method, std::initializer_list<VARIANT> arguments, LONG* pRC) {
    if (!pRC) return E_POINTER;
    if (!_serviceObject.IsBound()) {
        _closedResultCode = kOposClosed;
        _closedResultCodeExtended = 0;
        *pRC = kOposClosed;
        return S_OK;
    }
    *pRC = _serviceObject.Call(method, arguments);
    return S_OK;
}

STDMETHODIMP CNorvikMSRControl::ClaimDevice(LONG Timeout, LONG* pRC) {
    return CallMethod(SoMethod::ClaimDevice, {arg::Long(Timeout)}, pRC);
}

STDMETHODIMP CNorvikMSRControl::CheckHealth(LONG Level, LONG* pRC) {
    return CallMethod(SoMethod::CheckHealth, {arg::Long(Level)}, pRC);
}

STDMETHODIMP CNorvikMSRControl::ClearInput(LONG* pRC) { return CallMethod(SoMethod::ClearInput, {}, pRC); }

STDMETHODIMP CNorvikMSRControl::DirectIO(LONG Command, LONG* pData, BSTR* pString, LONG* pRC) {
    if (!pData || !pString) return E_POINTER;
    return CallMethod(SoMethod::DirectIO, {arg::Long(Command), arg::LongRef(pData), arg::StringRef(pString)}, pRC);
}

STDMETHODIMP CNorvikMSRControl::ReleaseDevice(LONG* pRC) { return CallMethod(SoMethod::ReleaseDevice, {}, pRC); }

STDMETHODIMP CNorvikMSRControl::ResetStatistics(BSTR StatisticsBuffer, LONG* pRC) {
    return CallMethod(SoMethod::ResetStatistics, {arg::String(StatisticsBuffer)}, pRC);
}

STDMETHODIMP CNorvikMSRControl::RetrieveStatistics(BSTR* pStatisticsBuffer, LONG* pRC) {
    if (!pStatisticsBuffer) return E_POINTER;
    return CallMethod(SoMethod::RetrieveStatistics, {arg::StringRef(pStatisticsBuffer)}, pRC);
}

STDMETHODIMP CNorvikMSRControl::UpdateStatistics(BSTR StatisticsBuffer, LONG* pRC) {
    return CallMethod(SoMethod::UpdateStatistics, {arg::String(StatisticsBuffer)}, pRC);
}

STDMETHODIMP CNorvikMSRControl::CompareFirmwareVersion(BSTR FirmwareFileName, LONG* pResult, LONG* pRC) {
    if (!pResult) return E_POINTER;
    *pResult = 0;
    return CallMethod(SoMethod::CompareFirmwareVersion, {arg::String(FirmwareFileName), arg::LongRef(pResult)}, pRC);
}

STDMETHODIMP CNorvikMSRControl::UpdateFirmware(BSTR FirmwareFileName, LONG* pRC) {
    return CallMethod(SoMethod::UpdateFirmware, {arg::String(FirmwareFileName)}, pRC);
}

STDMETHODIMP CNorvikMSRControl::ClearInputProperties(LONG* pRC) {
    return CallMethod(SoMethod::ClearInputProperties, {}, pRC);
}

STDMETHODIMP CNorvikMSRControl::WriteTracks(VARIANT Data, LONG Timeout, LONG* pRC) {
    return CallMethod(SoMethod::WriteTracks, {Data, arg::Long(Timeout)}, pRC);  // Data is only lent
}

STDMETHODIMP CNorvikMSRControl::AuthenticateDevice(BSTR Response, LONG* pRC) {
    return CallMethod(SoMethod::AuthenticateDevice, {arg::String(Response)}, pRC);
}

STDMETHODIMP CNorvikMSRControl::DeauthenticateDevice(BSTR Response, LONG* pRC) {
    return CallMethod(SoMethod::DeauthenticateDevice, {arg::String(Response)}, pRC);
}

STDMETHODIMP CNorvikMSRControl::RetrieveCardProperty(BSTR Name, BSTR* pValue, LONG* pRC) {
    if (!pValue) return E_POINTER;
    *pValue = nullptr;
    HRESULT hr = CallMethod(SoMethod::RetrieveCardProperty, {arg::String(Name), arg::StringRef(pValue)}, pRC);
    if (SUCCEEDED(hr) && !*pValue) {
        *pValue = ::SysAllocString(L"");
        if (!*pValue) hr = E_OUTOFMEMORY;
    }
    return hr;
}

STDMETHODIMP CNorvikMSRControl::RetrieveDeviceAuthenticationData(BSTR* pChallenge, LONG* pRC) {
    if (!pChallenge) return E_POINTER;
    return CallMethod(SoMethod::RetrieveDeviceAuthenticationData, {arg::StringRef(pChallenge)}, pRC);
}

STDMETHODIMP CNorvikMSRControl::UpdateKey(BSTR Key, BSTR KeyName, LONG* pRC) {
    return CallMethod(SoMethod::UpdateKey, {arg::String(Key), arg::String(KeyName)}, pRC);
}

// ---- Properties ------------------------------------------------------------------

HRESULT CNorvikMSRControl::GetNumberProperty(long index, LONG* value) {
    if (!value) return E_POINTER;
    *value = 0;
    if (_serviceObject.IsBound() && FAILED(_serviceObject.GetNumber(index, value))) *value = 0;
    return S_OK;
}

HRESULT CNorvikMSRControl::GetBoolProperty(long index, VARIANT_BOOL* value) {
    if (!value) return E_POINTER;
    LONG number = 0;
    GetNumberProperty(index, &number);
    *value = number ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

HRESULT CNorvikMSRControl::GetStringProperty(long index, BSTR* value) {
    if (!value) return E_POINTER;
    *value = nullptr;
    if (_serviceObject.IsBound() && FAILED(_serviceObject.GetString(index, value))) *value = nullptr;
    if (!*value) *value = ::SysAllocString(L"");
    return *value ? S_OK : E_OUTOFMEMORY;
}

HRESULT CNorvikMSRControl::PutNumberProperty(long index, LONG value) {
    if (!_serviceObject.IsBound()) {
        _closedResultCode = kOposClosed;
        _closedResultCodeExtended = 0;
        return S_OK;
    }
    _serviceObject.SetNumber(index, value);
    return S_OK;
}

STDMETHODIMP CNorvikMSRControl::GetPropertyNumber(LONG PropIndex, LONG* pNumber) {
    return GetNumberProperty(PropIndex, pNumber);
}

STDMETHODIMP CNorvikMSRControl::SetPropertyNumber(LONG PropIndex, LONG Number) {
    return PutNumberProperty(PropIndex, Number);
}

STDMETHODIMP CNorvikMSRControl::GetPropertyString(LONG PropIndex, BSTR* pString) {
    return GetStringProperty(PropIndex, pString);
}

STDMETHODIMP CNorvikMSRControl::SetPropertyString(LONG PropIndex, BSTR String) {
    if (!_serviceObject.IsBound()) {
        _closedResultCode = kOposClosed;
        _closedResultCodeExtended = 0;
        return S_OK;
    }
    _serviceObject.SetString(PropIndex, String);
    return S_OK;
}

STDMETHODIMP CNorvikMSRControl::get_OpenResult(LONG* pValue) {
    if (!pValue) return E_POINTER;
    *pValue = _openResult;
    return S_OK;
}

STDMETHODIMP CNorvikMSRControl::get_ControlObjectDescription(BSTR* pValue) {
    if (!pValue) return E_POINTER;
    *pValue = ::SysAllocString(kControlObjectDescription);
    return *pValue ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP CNorvikMSRControl::get_ControlObjectVersion(LONG* pValue) {
    if (!pValue) return E_POINTER;
    *pValue = NORVIKMSR_CONTROL_VERSION;
    return S_OK;
}

STDMETHODIMP CNorvikMSRControl::get_ResultCode(LONG* pValue) {
    if (!pValue) return E_POINTER;
    if (!_serviceObject.IsBound()) {
        *pValue = _closedResultCode;
        return S_OK;
    }
    return GetNumberProperty(PIDX_ResultCode, pValue);
}

STDMETHODIMP CNorvikMSRControl::get_ResultCodeExtended(LONG* pValue) {
    if (!pValue) return E_POINTER;
    if (!_serviceObject.IsBound()) {
        *pValue = _closedResultCodeExtended;
        return S_OK;
    }
    return GetNumberProperty(PIDX_ResultCodeExtended, pValue);
}

STDMETHODIMP CNorvikMSRControl::get_State(LONG* pValue) {
    if (!pValue) return E_POINTER;
    if (!_serviceObject.IsBound()) {
        *pValue = kOposStateClosed;
        return S_OK;
    }
    return GetNumberProperty(PIDX_State, pValue);
}

// ---- Events ----------------------------------------------------------------------

STDMETHODIMP CNorvikMSRControl::SOData(LONG Status) { return RaiseEvent(EventKind::Data, {Status}, nullptr, nullptr); }

STDMETHODIMP CNorvikMSRControl::SODirectIO(LONG EventNumber, LONG* pData, BSTR* pString) {
    return RaiseEvent(EventKind::DirectIO, {EventNumber}, pData, pString);
}

STDMETHODIMP CNorvikMSRControl::SOError(LONG ResultCode, LONG ResultCodeExtended, LONG ErrorLocus,
                                        LONG* pErrorResponse) {
    return RaiseEvent(EventKind::Error, {ResultCode, ResultCodeExtended, ErrorLocus}, pErrorResponse, nullptr);
}

STDMETHODIMP CNorvikMSRControl::SOStatusUpdate(LONG Data) {
    return RaiseEvent(EventKind::StatusUpdate, {Data}, nullptr, nullptr);
}

HRESULT CNorvikMSRControl::RaiseEvent(EventKind kind, std::initializer_list<LONG> values, LONG* number, BSTR* text) {
    // By-reference values are always passed on to the handlers, even when the service
    // object sent none, so that the event keeps its signature.
    const bool hasNumber = kind == EventKind::DirectIO || kind == EventKind::Error;
    const bool hasText = kind == EventKind::DirectIO;

    // A handler may drop the application's last reference. Only on the creating thread:
    // elsewhere the count may already have reached 0 in a final Release.
    ComPtr<INorvikMSRControl> keepAlive;
    if (_relay.IsOwnerThread()) keepAlive = this;

    std::shared_ptr<EventCall> call;
    try {
        call = std::make_shared<EventCall>(this, kind);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    int i = 0;
    for (LONG value : values) call->values[i++] = value;
    call->hasNumber = hasNumber;
    call->number = number ? *number : 0;
    call->hasText = hasText;
    if (text && *text) {
        call->text.reset(CopyBstr(*text));
        if (!call->text.get()) return E_OUTOFMEMORY;
    }

    if (_relay.Run(call) != EventRelay::Outcome::Handled) return S_OK;  // closed: the event is dropped
    if (number) *number = call->number;
    if (text) {
        ::SysFreeString(*text);
        *text = call->text.release();
    }
    return S_OK;
}

void CNorvikMSRControl::FireToSinks(EventKind kind, const LONG* values, LONG* number, BSTR* text) {
    std::vector<ComPtr<IDispatch>> sinks;
    try {
        sinks = _connectionPoint.Sinks();
    } catch (const std::bad_alloc&) {
        return;
    }

    // Arguments in reverse order of the parameters, as IDispatch::Invoke takes them.
    VARIANTARG arguments[4];
    UINT count = 0;
    switch (kind) {
        case EventKind::Data:
        case EventKind::StatusUpdate:
            arguments[count++] = arg::Long(values[0]);
            break;
        case EventKind::DirectIO:
            arguments[count++] = arg::StringRef(text);
            arguments[count++] = arg::LongRef(number);
            arguments[count++] = arg::Long(values[0]);
            break;
        case EventKind::Error:
            arguments[count++] = arg::LongRef(number);
            arguments[count++] = arg::Long(values[2]);
            arguments[count++] = arg::Long(values[1]);
            arguments[count++] = arg::Long(values[0]);
            break;
    }
    DISPPARAMS parameters = {arguments, nullptr, count, 0};

    LPOLESTR name = const_cast<LPOLESTR>(EventName(kind));
    for (const auto& sink : sinks) {
        if (!_relay.IsOpen()) return;  // a handler closed the control
        DISPID id = DISPID_UNKNOWN;
        if (FAILED(sink->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id))) continue;
        sink->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &parameters, nullptr, nullptr, nullptr);
    }
}

}  // namespace norvik::control

#include "Msr1.h"

#include <olectl.h>

#include <new>

namespace swipebench {

const wchar_t CMsr1::kStandardProgId[] = L"OPOS.MSR";
const wchar_t CMsr1::kReplacementProgId[] = L"NorvikMSR.Control";

std::wstring WidenAnsi(const std::string& text) {
    if (text.empty()) return std::wstring();
    int length = ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &wide[0], length);
    return wide;
}

// The control's event sink. The control looks every event up by name before
// it invokes it, so the sink answers GetIDsOfNames for the event names.
class CMsrEventSink final : public IDispatch {
public:
    CMsrEventSink(REFIID eventsIid, IMsrEventHandler* handler) : eventsIid_(eventsIid), handler_(handler) {}

    // Events that arrive after this are dropped.
    void Disconnect() { handler_ = nullptr; }

    STDMETHODIMP QueryInterface(REFIID iid, void** object) override {
        if (!object) return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_IDispatch || iid == eventsIid_) {
            *object = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ::InterlockedIncrement(&references_); }
    STDMETHODIMP_(ULONG) Release() override {
        LONG remaining = ::InterlockedDecrement(&references_);
        if (remaining == 0) delete this;
        return remaining;
    }

    STDMETHODIMP GetTypeInfoCount(UINT* count) override {
        if (!count) return E_POINTER;
        *count = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
        if (info) *info = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
        static const struct {
            const wchar_t* name;
            DISPID id;
        } kEvents[] = {
            {L"DataEvent", CMsr1::DISPID_DataEvent},
            {L"DirectIOEvent", CMsr1::DISPID_DirectIOEvent},
            {L"ErrorEvent", CMsr1::DISPID_ErrorEvent},
            {L"OutputCompleteEvent", CMsr1::DISPID_OutputCompleteEvent},
            {L"StatusUpdateEvent", CMsr1::DISPID_StatusUpdateEvent},
        };
        if (!names || !ids || count == 0) return E_INVALIDARG;
        HRESULT hr = S_OK;
        ids[0] = DISPID_UNKNOWN;
        for (const auto& event : kEvents) {
            if (names[0] && ::lstrcmpiW(names[0], event.name) == 0) ids[0] = event.id;
        }
        if (ids[0] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
        for (UINT i = 1; i < count; ++i) {  // parameter names are not offered
            ids[i] = DISPID_UNKNOWN;
            hr = DISP_E_UNKNOWNNAME;
        }
        return hr;
    }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                        UINT*) override {
        // Keep this sink alive even if the handler releases the control.
        ComPtr<IDispatch> self(this);
        if (!handler_ || !params) return S_OK;
        switch (id) {
        case CMsr1::DISPID_DataEvent: {
            long status = 0;
            if (params->cArgs < 1 || !Argument(params, 0, status)) return DISP_E_BADPARAMCOUNT;
            handler_->OnDataEvent(status);
            return S_OK;
        }
        case CMsr1::DISPID_ErrorEvent: {
            long resultCode = 0, extended = 0, locus = 0, response = 0;
            if (params->cArgs < 4 || !Argument(params, 0, resultCode) ||
                !Argument(params, 1, extended) || !Argument(params, 2, locus) ||
                !Argument(params, 3, response)) {
                return DISP_E_BADPARAMCOUNT;
            }
            // A by-reference response goes straight to the handler, so what it
            // sets (or leaves) is what the control sees.
            VARIANT& last = params->rgvarg[0];
            long* responseRef = V_VT(&last) == (VT_BYREF | VT_I4) ? V_I4REF(&last) : &response;
            handler_->OnErrorEvent(resultCode, extended, locus, responseRef);
            return S_OK;
        }
        case CMsr1::DISPID_StatusUpdateEvent: {
            long status = 0;
            if (params->cArgs < 1 || !Argument(params, 0, status)) return DISP_E_BADPARAMCOUNT;
            handler_->OnStatusUpdateEvent(status);
            return S_OK;
        }
        default:
            return S_OK;  // the other events are of no interest here
        }
    }

private:
    ~CMsrEventSink() = default;

    // Positional argument `index` (declaration order) as a long.
    static bool Argument(const DISPPARAMS* params, UINT index, long& value) {
        VARIANT converted;
        ::VariantInit(&converted);
        VARIANT* source = &params->rgvarg[params->cArgs - 1 - index];
        if (FAILED(::VariantChangeType(&converted, source, 0, VT_I4))) return false;
        value = V_I4(&converted);
        return true;
    }

    IID eventsIid_;
    IMsrEventHandler* handler_;
    LONG references_ = 1;
};

namespace {

// The default source interface of the control, as its class information
// names it; else its first connection point.
HRESULT FindEventsIid(IDispatch* control, IConnectionPointContainer* container, IID& iid) {
    ComPtr<IProvideClassInfo2> classInfo2;
    if (SUCCEEDED(control->QueryInterface(IID_IProvideClassInfo2, classInfo2.put_void())) &&
        SUCCEEDED(classInfo2->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &iid))) {
        return S_OK;
    }
    ComPtr<IProvideClassInfo> classInfo;
    ComPtr<ITypeInfo> coclass;
    if (SUCCEEDED(control->QueryInterface(IID_IProvideClassInfo, classInfo.put_void())) &&
        SUCCEEDED(classInfo->GetClassInfo(coclass.put()))) {
        TYPEATTR* attributes = nullptr;
        if (SUCCEEDED(coclass->GetTypeAttr(&attributes))) {
            WORD implemented = attributes->cImplTypes;
            coclass->ReleaseTypeAttr(attributes);
            for (UINT i = 0; i < implemented; ++i) {
                INT flags = 0;
                HREFTYPE reference = 0;
                ComPtr<ITypeInfo> source;
                if (FAILED(coclass->GetImplTypeFlags(i, &flags)) ||
                    (flags & (IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE)) !=
                        (IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE) ||
                    FAILED(coclass->GetRefTypeOfImplType(i, &reference)) ||
                    FAILED(coclass->GetRefTypeInfo(reference, source.put())) ||
                    FAILED(source->GetTypeAttr(&attributes))) {
                    continue;
                }
                iid = attributes->guid;
                source->ReleaseTypeAttr(attributes);
                return S_OK;
            }
        }
    }
    ComPtr<IEnumConnectionPoints> points;
    HRESULT hr = container->EnumConnectionPoints(points.put());
    if (FAILED(hr)) return hr;
    for (;;) {
        ComPtr<IConnectionPoint> point;
        ULONG fetched = 0;
        if (points->Next(1, point.put(), &fetched) != S_OK || fetched != 1) break;
        IID candidate;
        if (SUCCEEDED(point->GetConnectionInterface(&candidate)) && candidate != IID_IPropertyNotifySink) {
            iid = candidate;
            return S_OK;
        }
    }
    return CONNECT_E_NOCONNECTION;
}

}  // namespace

CMsr1::CMsr1() = default;
CMsr1::~CMsr1() { Destroy(); }

std::vector<std::wstring> CMsr1::RegisteredProgIds() {
    std::vector<std::wstring> registered;
    for (const wchar_t* progId : {kStandardProgId, kReplacementProgId}) {
        CLSID clsid;
        if (SUCCEEDED(::CLSIDFromProgID(progId, &clsid))) registered.emplace_back(progId);
    }
    return registered;
}

HRESULT CMsr1::CreateRegisteredControl(IDispatch** control) {
    if (!control) return E_POINTER;
    *control = nullptr;
    HRESULT hr = REGDB_E_CLASSNOTREG;
    for (const std::wstring& progId : RegisteredProgIds()) {
        CLSID clsid;
        hr = ::CLSIDFromProgID(progId.c_str(), &clsid);
        if (SUCCEEDED(hr)) {
            hr = ::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                    reinterpret_cast<void**>(control));
        }
        if (SUCCEEDED(hr)) return hr;
    }
    return hr;
}

HRESULT CMsr1::Create(ControlFactory factory, IMsrEventHandler* handler) {
    Destroy();
    IDispatch* created = nullptr;
    HRESULT hr = (factory ? factory : CreateRegisteredControl)(&created);
    if (FAILED(hr)) return hr;
    if (!created) return E_POINTER;
    control_ = ComPtr<IDispatch>::Attach(created);
    // A control without events still serves the method calls.
    return ConnectSink(handler);
}

HRESULT CMsr1::ConnectSink(IMsrEventHandler* handler) {
    ComPtr<IConnectionPointContainer> container;
    HRESULT hr = control_.As(&container);
    if (FAILED(hr)) return hr;
    IID eventsIid;
    hr = FindEventsIid(control_.get(), container.get(), eventsIid);
    if (FAILED(hr)) return hr;
    ComPtr<IConnectionPoint> point;
    hr = container->FindConnectionPoint(eventsIid, point.put());
    if (FAILED(hr)) return hr;
    ComPtr<CMsrEventSink> sink;
    sink = ComPtr<CMsrEventSink>::Attach(new (std::nothrow) CMsrEventSink(eventsIid, handler));
    if (!sink) return E_OUTOFMEMORY;
    DWORD cookie = 0;
    hr = point->Advise(static_cast<IDispatch*>(sink.get()), &cookie);
    if (FAILED(hr)) return hr;
    connectionPoint_ = point;
    cookie_ = cookie;
    sink_ = sink;
    return S_OK;
}

void CMsr1::Destroy() {
    if (sink_) sink_->Disconnect();
    if (connectionPoint_) connectionPoint_->Unadvise(cookie_);
    connectionPoint_.reset();
    cookie_ = 0;
    sink_.reset();
    control_.reset();
}

HRESULT CMsr1::Invoke(DISPID id, WORD flags, VARIANT* arguments, UINT count, VARIANT* result) {
    if (!control_) return E_UNEXPECTED;
    // Keep the control alive should an event handler release it meanwhile.
    ComPtr<IDispatch> control = control_;
    DISPID propertyPut = DISPID_PROPERTYPUT;
    DISPPARAMS params = {arguments, nullptr, count, 0};
    if (flags & DISPATCH_PROPERTYPUT) {
        params.rgdispidNamedArgs = &propertyPut;
        params.cNamedArgs = 1;
    }
    return control->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result, nullptr, nullptr);
}

long CMsr1::CallLong(DISPID id, VARIANT* arguments, UINT count) {
    VARIANT result;
    ::VariantInit(&result);
    HRESULT hr = Invoke(id, DISPATCH_METHOD, arguments, count, &result);
    if (SUCCEEDED(hr)) hr = ::VariantChangeType(&result, &result, 0, VT_I4);
    long value = SUCCEEDED(hr) ? V_I4(&result) : OPOS_E_NOSERVICE;
    ::VariantClear(&result);
    return value;
}

long CMsr1::GetLong(DISPID id, long fallback) {
    VARIANT result;
    ::VariantInit(&result);
    HRESULT hr = Invoke(id, DISPATCH_PROPERTYGET, nullptr, 0, &result);
    if (SUCCEEDED(hr)) hr = ::VariantChangeType(&result, &result, 0, VT_I4);
    long value = SUCCEEDED(hr) ? V_I4(&result) : fallback;
    ::VariantClear(&result);
    return value;
}

void CMsr1::PutBool(DISPID id, bool value) {
    VARIANT argument;
    ::VariantInit(&argument);
    V_VT(&argument) = VT_BOOL;
    V_BOOL(&argument) = value ? VARIANT_TRUE : VARIANT_FALSE;
    Invoke(id, DISPATCH_PROPERTYPUT, &argument, 1, nullptr);
}

std::wstring CMsr1::GetString(DISPID id) {
    VARIANT result;
    ::VariantInit(&result);
    std::wstring text;
    HRESULT hr = Invoke(id, DISPATCH_PROPERTYGET, nullptr, 0, &result);
    if (SUCCEEDED(hr)) hr = ::VariantChangeType(&result, &result, 0, VT_BSTR);
    if (SUCCEEDED(hr) && V_BSTR(&result)) text.assign(V_BSTR(&result), ::SysStringLen(V_BSTR(&result)));
    ::VariantClear(&result);
    return text;
}

long CMsr1::Open(const std::string& deviceName) {
    UniqueBstr name(::SysAllocString(WidenAnsi(deviceName).c_str()));
    if (!name) return OPOS_E_NOSERVICE;
    VARIANT argument;
    ::VariantInit(&argument);
    V_VT(&argument) = VT_BSTR;
    V_BSTR(&argument) = name.get();  // still owned by `name`
    return CallLong(DISPID_Open, &argument, 1);
}

long CMsr1::ClaimDevice(long timeout) {
    VARIANT argument;
    ::VariantInit(&argument);
    V_VT(&argument) = VT_I4;
    V_I4(&argument) = timeout;
    return CallLong(DISPID_ClaimDevice, &argument, 1);
}

long CMsr1::Close() { return CallLong(DISPID_Close, nullptr, 0); }
void CMsr1::SetDeviceEnabled(bool enabled) { PutBool(DISPID_DeviceEnabled, enabled); }
void CMsr1::SetDataEventEnabled(bool enabled) { PutBool(DISPID_DataEventEnabled, enabled); }
long CMsr1::GetResultCode() { return GetLong(DISPID_ResultCode, OPOS_E_NOSERVICE); }
long CMsr1::GetResultCodeExtended() { return GetLong(DISPID_ResultCodeExtended, 0); }

DISPID CMsr1::IdOf(const wchar_t* name) {
    DISPID id = DISPID_UNKNOWN;
    if (!control_) return id;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    if (FAILED(control_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id))) id = DISPID_UNKNOWN;
    return id;
}

long CMsr1::GetNamedLong(const wchar_t* name, long fallback) {
    const DISPID id = IdOf(name);
    return id == DISPID_UNKNOWN ? fallback : GetLong(id, fallback);
}

void CMsr1::SetPowerNotify(long value) {
    const DISPID id = IdOf(L"PowerNotify");
    if (id == DISPID_UNKNOWN) return;
    VARIANT argument;
    ::VariantInit(&argument);
    V_VT(&argument) = VT_I4;
    V_I4(&argument) = value;
    Invoke(id, DISPATCH_PROPERTYPUT, &argument, 1, nullptr);
}

}  // namespace swipebench

#include "PosClient.h"

namespace norvik::pos {

std::string Narrow(BSTR text) {
    if (text == nullptr) return {};
    const int length = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string result(length > 0 ? length - 1 : 0, '\0');
    if (length > 1) WideCharToMultiByte(CP_ACP, 0, text, -1, result.data(), length, nullptr, nullptr);
    return result;
}

UniqueBstr Wide(const std::string& text) {
    const int length = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
    std::wstring wide(length > 0 ? length - 1 : 0, L'\0');
    if (length > 1) MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide.data(), length);
    return UniqueBstr(SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size())));
}

ComPtr<SessionEvents> SessionEvents::Create() {
    return ComPtr<SessionEvents>::Attach(new SessionEvents());
}

STDMETHODIMP SessionEvents::QueryInterface(REFIID riid, void** object) {
    if (object == nullptr) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IDispatch || riid == DIID__INorvikMSRControlEvents) {
        *object = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) SessionEvents::AddRef() { return InterlockedIncrement(&references_); }

STDMETHODIMP_(ULONG) SessionEvents::Release() {
    const LONG left = InterlockedDecrement(&references_);
    if (left == 0) delete this;
    return left;
}

STDMETHODIMP SessionEvents::GetTypeInfoCount(UINT* count) {
    if (count) *count = 0;
    return S_OK;
}

STDMETHODIMP SessionEvents::GetTypeInfo(UINT, LCID, ITypeInfo**) { return E_NOTIMPL; }

STDMETHODIMP SessionEvents::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
    static const struct {
        const wchar_t* name;
        DISPID id;
    } kEvents[] = {{L"DataEvent", DISPID_NORVIKMSR_DATAEVENT},
                   {L"DirectIOEvent", DISPID_NORVIKMSR_DIRECTIOEVENT},
                   {L"ErrorEvent", DISPID_NORVIKMSR_ERROREVENT},
                   {L"StatusUpdateEvent", DISPID_NORVIKMSR_STATUSUPDATEEVENT}};
    if (count != 1 || names == nullptr || ids == nullptr) return E_INVALIDARG;
    for (const auto& event : kEvents) {
        if (lstrcmpiW(names[0], event.name) == 0) {
            ids[0] = event.id;
            return S_OK;
        }
    }
    ids[0] = DISPID_UNKNOWN;
    return DISP_E_UNKNOWNNAME;
}

STDMETHODIMP SessionEvents::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*,
                                   EXCEPINFO*, UINT*) {
    Event event{id, {}, {}};
    // Arguments arrive last first.
    for (UINT i = params ? params->cArgs : 0; i-- > 0;) {
        const VARIANT& arg = params->rgvarg[i];
        if (arg.vt == VT_I4) event.numbers.push_back(arg.lVal);
        if (arg.vt == (VT_I4 | VT_BYREF)) event.numbers.push_back(*arg.plVal);
        if (arg.vt == (VT_BSTR | VT_BYREF)) event.text = Narrow(*arg.pbstrVal);
    }
    if (handler_) handler_(handlerContext_, event, params);
    events_.push_back(event);
    return S_OK;
}

void SessionEvents::SetHandler(void (*handler)(void*, Event&, DISPPARAMS*), void* context) {
    handler_ = handler;
    handlerContext_ = context;
}

bool SessionEvents::WaitFor(DISPID id, Event& out, DWORD timeoutMs) {
    const DWORD deadline = GetTickCount() + timeoutMs;
    for (;;) {
        for (size_t i = 0; i < events_.size(); ++i) {
            if (events_[i].id == id) {
                out = events_[i];
                events_.erase(events_.begin() + static_cast<long>(i));
                return true;
            }
        }
        if (static_cast<LONG>(deadline - GetTickCount()) <= 0) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    }
}

bool MsrControl::Create(const wchar_t* progId) {
    CLSID clsid;
    if (FAILED(CLSIDFromProgID(progId, &clsid))) return false;
    if (FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                control_.put_void()))) {
        return false;
    }
    events_ = SessionEvents::Create();
    ComPtr<IConnectionPointContainer> container;
    if (FAILED(control_->QueryInterface(IID_IConnectionPointContainer, container.put_void())) ||
        FAILED(container->FindConnectionPoint(DIID__INorvikMSRControlEvents, point_.put()))) {
        return false;
    }
    return SUCCEEDED(point_->Advise(events_.get(), &cookie_));
}

MsrControl::~MsrControl() { Release(); }

void MsrControl::Release() {
    if (point_ && cookie_ != 0) point_->Unadvise(cookie_);
    cookie_ = 0;
    point_.reset();
    control_.reset();
}

VARIANT MsrControl::Long(long v) {
    VARIANT value;
    value.vt = VT_I4;
    value.lVal = v;
    return value;
}

VARIANT MsrControl::String(BSTR text) {
    VARIANT value;
    value.vt = VT_BSTR;
    value.bstrVal = text;
    return value;
}

long MsrControl::InvokeRaw(DISPID id, WORD flags, VARIANT* args, UINT count, VARIANT* result) {
    DISPPARAMS params{args, nullptr, count, 0};
    DISPID named = DISPID_PROPERTYPUT;
    if (flags == DISPATCH_PROPERTYPUT) {
        params.rgdispidNamedArgs = &named;
        params.cNamedArgs = 1;
    }
    return control_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result, nullptr, nullptr);
}

long MsrControl::Method(DISPID id, std::vector<VARIANT> args) {
    std::vector<VARIANT> reversed(args.rbegin(), args.rend());
    win32::UniqueVariant result;
    InvokeRaw(id, DISPATCH_METHOD, reversed.data(), static_cast<UINT>(reversed.size()), &result);
    return result.vt == VT_I4 ? result.lVal : -1;
}

long MsrControl::Number(DISPID id) {
    win32::UniqueVariant result;
    InvokeRaw(id, DISPATCH_PROPERTYGET, nullptr, 0, &result);
    VariantChangeType(&result, &result, 0, VT_I4);
    return result.vt == VT_I4 ? result.lVal : -1;
}

std::string MsrControl::Text(DISPID id) {
    win32::UniqueVariant result;
    InvokeRaw(id, DISPATCH_PROPERTYGET, nullptr, 0, &result);
    return result.vt == VT_BSTR ? Narrow(result.bstrVal) : std::string();
}

void MsrControl::Set(DISPID id, VARIANT value) { InvokeRaw(id, DISPATCH_PROPERTYPUT, &value, 1, nullptr); }

void MsrControl::SetFlag(DISPID id, bool on) {
    VARIANT value;
    value.vt = VT_BOOL;
    value.boolVal = on ? VARIANT_TRUE : VARIANT_FALSE;
    Set(id, value);
}

void MsrControl::SetNumber(DISPID id, long value) { Set(id, Long(value)); }

long MsrControl::Open(const std::string& name) {
    UniqueBstr text = Wide(name);
    return Method(DISPID_NORVIKMSR_OPEN, {String(text.get())});
}

long MsrControl::DirectIO(long command, long& data, UniqueBstr& text) {
    VARIANT args[3];
    args[2] = Long(command);
    args[1].vt = VT_I4 | VT_BYREF;
    args[1].plVal = &data;
    args[0].vt = VT_BSTR | VT_BYREF;
    args[0].pbstrVal = text.addressof();
    win32::UniqueVariant result;
    InvokeRaw(DISPID_NORVIKMSR_DIRECTIO, DISPATCH_METHOD, args, 3, &result);
    return result.vt == VT_I4 ? result.lVal : -1;
}

long MsrControl::RetrieveStatistics(UniqueBstr& buffer) {
    VARIANT arg;
    arg.vt = VT_BSTR | VT_BYREF;
    arg.pbstrVal = buffer.addressof();
    win32::UniqueVariant result;
    InvokeRaw(DISPID_NORVIKMSR_RETRIEVESTATISTICS, DISPATCH_METHOD, &arg, 1, &result);
    return result.vt == VT_I4 ? result.lVal : -1;
}

}  // namespace norvik::pos

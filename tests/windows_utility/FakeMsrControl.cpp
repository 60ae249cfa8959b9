#include "FakeMsrControl.h"

#include <ocidl.h>
#include <olectl.h>

#include <memory>

namespace uitest {

namespace {

// Standard identifiers of the OPOS MSR control, as the utility's table gives them.
enum : DISPID {
    kDataEventEnabled = 16,
    kDeviceEnabled = 17,
    kResultCode = 22,
    kResultCodeExtended = 23,
    kClaimDevice = 32,
    kClose = 35,
    kOpen = 37,
};
constexpr long kClosedResult = 101;   // OPOS_E_CLOSED
constexpr long kIllegalResult = 106;  // OPOS_E_ILLEGAL

// {5A0C1B7E-3D52-4B8F-9E0A-6F1D2C3B4A59}
const IID kFakeEventsIid = {0x5a0c1b7e, 0x3d52, 0x4b8f, {0x9e, 0x0a, 0x6f, 0x1d, 0x2c, 0x3b, 0x4a, 0x59}};

constexpr UINT kFireData = WM_APP + 1;
constexpr UINT kFireError = WM_APP + 2;
constexpr UINT kLookUpUnknown = WM_APP + 3;

FakeControlScript* g_script = new FakeControlScript();  // lives for the whole test run

std::string Narrow(const wchar_t* text) {
    std::string narrow;
    for (; text && *text; ++text) narrow.push_back(static_cast<char>(*text));
    return narrow;
}

struct ErrorEventArguments {
    long resultCode, resultCodeExtended, errorLocus, errorResponse;
};

class FakeControl final : public IDispatch, public IConnectionPointContainer, public IConnectionPoint {
public:
    FakeControl() {
        WNDCLASSA windowClass = {};
        windowClass.lpfnWndProc = WindowProc;
        windowClass.hInstance = ::GetModuleHandleA(nullptr);
        windowClass.lpszClassName = "FakeMsrControlEvents";
        ::RegisterClassA(&windowClass);  // a second registration fails harmlessly
        window_ = ::CreateWindowExA(0, windowClass.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                    windowClass.hInstance, nullptr);
        ::SetWindowLongPtrA(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        std::lock_guard<std::mutex> lock(g_script->mutex);
        g_script->created = true;
        g_script->eventWindow = window_;
    }

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override {
        if (!object) return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_IDispatch) *object = static_cast<IDispatch*>(this);
        else if (iid == IID_IConnectionPointContainer) *object = static_cast<IConnectionPointContainer*>(this);
        else {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++references_; }
    STDMETHODIMP_(ULONG) Release() override {
        ULONG remaining = --references_;
        if (remaining == 0) {
            {
                std::lock_guard<std::mutex> lock(g_script->mutex);
                g_script->released = true;
                g_script->eventWindow = nullptr;
            }
            delete this;
        }
        return remaining;
    }

    // IDispatch
    STDMETHODIMP GetTypeInfoCount(UINT* count) override {
        *count = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return DISP_E_UNKNOWNNAME; }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                        UINT*) override {
        if (flags & DISPATCH_PROPERTYPUT) return Put(id, params);
        if (flags & DISPATCH_METHOD) {
            auto it = kMethods.find(id);
            if (it != kMethods.end()) return (this->*(it->second))(params, result);
        }
        if (flags & DISPATCH_PROPERTYGET) return Get(id, result);
        return DISP_E_MEMBERNOTFOUND;
    }

    // IConnectionPointContainer
    STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints** points) override {
        // The wrapper falls back to this when the control offers no class
        // information; a single connection point is enough.
        return CreateSinglePointEnum(points);
    }
    STDMETHODIMP FindConnectionPoint(REFIID iid, IConnectionPoint** point) override {
        if (iid != kFakeEventsIid) return CONNECT_E_NOCONNECTION;
        *point = static_cast<IConnectionPoint*>(this);
        AddRef();
        return S_OK;
    }

    // IConnectionPoint
    STDMETHODIMP GetConnectionInterface(IID* iid) override {
        *iid = kFakeEventsIid;
        return S_OK;
    }
    STDMETHODIMP GetConnectionPointContainer(IConnectionPointContainer** container) override {
        *container = this;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP Advise(IUnknown* sink, DWORD* cookie) override {
        if (sink_) return CONNECT_E_ADVISELIMIT;
        HRESULT hr = sink->QueryInterface(kFakeEventsIid, reinterpret_cast<void**>(&sink_));
        if (FAILED(hr)) return hr;
        *cookie = 1;
        return S_OK;
    }
    STDMETHODIMP Unadvise(DWORD cookie) override {
        if (cookie != 1 || !sink_) return CONNECT_E_NOCONNECTION;
        sink_->Release();
        sink_ = nullptr;
        return S_OK;
    }
    STDMETHODIMP EnumConnections(IEnumConnections**) override { return E_NOTIMPL; }

private:
    using Method = HRESULT (FakeControl::*)(DISPPARAMS*, VARIANT*);
    static const std::map<DISPID, Method> kMethods;

    ~FakeControl() {
        if (sink_) sink_->Release();
        if (window_) {
            ::SetWindowLongPtrA(window_, GWLP_USERDATA, 0);  // no more calls into this object
            ::DestroyWindow(window_);
        }
    }

    static void Record(const std::string& call) {
        std::lock_guard<std::mutex> lock(g_script->mutex);
        g_script->calls.push_back(call);
    }

    static HRESULT ReturnLong(VARIANT* result, long value) {
        if (result) {
            ::VariantInit(result);
            V_VT(result) = VT_I4;
            V_I4(result) = value;
        }
        return S_OK;
    }

    HRESULT Open(DISPPARAMS* params, VARIANT* result) {
        if (params->cArgs != 1 || V_VT(&params->rgvarg[0]) != VT_BSTR) return DISP_E_BADPARAMCOUNT;
        Record("Open(" + Narrow(V_BSTR(&params->rgvarg[0])) + ")");
        resultCode_ = open_ ? kIllegalResult : g_script->openResult;
        if (resultCode_ == 0) open_ = true;
        return ReturnLong(result, resultCode_);
    }
    HRESULT ClaimDevice(DISPPARAMS* params, VARIANT* result) {
        if (params->cArgs != 1 || V_VT(&params->rgvarg[0]) != VT_I4) return DISP_E_BADPARAMCOUNT;
        Record("ClaimDevice(" + std::to_string(V_I4(&params->rgvarg[0])) + ")");
        resultCode_ = open_ ? g_script->claimResult : kClosedResult;
        return ReturnLong(result, resultCode_);
    }
    HRESULT Close(DISPPARAMS* params, VARIANT* result) {
        if (params->cArgs != 0) return DISP_E_BADPARAMCOUNT;
        Record("Close()");
        resultCode_ = open_ ? g_script->closeResult : kClosedResult;
        if (resultCode_ == 0) open_ = false;
        return ReturnLong(result, resultCode_);
    }

    HRESULT Put(DISPID id, DISPPARAMS* params) {
        if (params->cArgs != 1 || params->cNamedArgs != 1 || params->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT ||
            V_VT(&params->rgvarg[0]) != VT_BOOL) {
            return DISP_E_BADPARAMCOUNT;
        }
        std::string value = V_BOOL(&params->rgvarg[0]) == VARIANT_TRUE ? "true" : "false";
        if (id == kDeviceEnabled) {
            Record("DeviceEnabled=" + value);
            resultCode_ = g_script->deviceEnabledResult;
        } else if (id == kDataEventEnabled) {
            Record("DataEventEnabled=" + value);
            resultCode_ = g_script->dataEventEnabledResult;
        } else {
            return DISP_E_MEMBERNOTFOUND;
        }
        return S_OK;
    }

    HRESULT Get(DISPID id, VARIANT* result) {
        if (!result) return E_INVALIDARG;
        if (id == kResultCode) {
            Record("ResultCode?");
            return ReturnLong(result, resultCode_);
        }
        if (id == kResultCodeExtended) {
            Record("ResultCodeExtended?");
            return ReturnLong(result, g_script->resultCodeExtended);
        }
        Record("get " + std::to_string(id));
        std::wstring text;
        {
            std::lock_guard<std::mutex> lock(g_script->mutex);
            auto it = g_script->strings.find(id);
            if (it == g_script->strings.end()) return DISP_E_MEMBERNOTFOUND;
            text = it->second;
        }
        ::VariantInit(result);
        V_VT(result) = VT_BSTR;
        V_BSTR(result) = ::SysAllocString(text.c_str());
        return S_OK;
    }

    // Looks the event up by name, as the real control does, and invokes it.
    void Raise(const wchar_t* name, VARIANT* arguments, UINT count) {
        if (!sink_) return;
        LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
        DISPID id = DISPID_UNKNOWN;
        HRESULT hr = sink_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
        g_script->lastLookup = hr;
        if (FAILED(hr)) return;
        DISPPARAMS params = {arguments, nullptr, count, 0};
        IDispatch* sink = sink_;
        sink->AddRef();
        sink->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
        sink->Release();
    }

    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        auto* self = reinterpret_cast<FakeControl*>(::GetWindowLongPtrA(window, GWLP_USERDATA));
        if (!self) return ::DefWindowProcA(window, message, wParam, lParam);
        self->AddRef();
        LRESULT answer = 0;
        if (message == kFireData) {
            VARIANT status;
            V_VT(&status) = VT_I4;
            V_I4(&status) = static_cast<LONG>(wParam);
            self->Raise(L"DataEvent", &status, 1);
        } else if (message == kFireError) {
            std::unique_ptr<ErrorEventArguments> event(reinterpret_cast<ErrorEventArguments*>(lParam));
            LONG response = event->errorResponse;
            VARIANT arguments[4];  // last parameter first
            V_VT(&arguments[3]) = VT_I4;
            V_I4(&arguments[3]) = event->resultCode;
            V_VT(&arguments[2]) = VT_I4;
            V_I4(&arguments[2]) = event->resultCodeExtended;
            V_VT(&arguments[1]) = VT_I4;
            V_I4(&arguments[1]) = event->errorLocus;
            V_VT(&arguments[0]) = VT_BYREF | VT_I4;
            V_I4REF(&arguments[0]) = &response;
            self->Raise(L"ErrorEvent", arguments, 4);
            std::lock_guard<std::mutex> lock(g_script->mutex);
            g_script->errorResponseAfterEvent = response;
        } else if (message == kLookUpUnknown) {
            LPOLESTR names[] = {const_cast<LPOLESTR>(L"NoSuchEvent")};
            DISPID id = 0;
            answer = self->sink_ ? self->sink_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id)
                                 : E_UNEXPECTED;
        } else {
            answer = ::DefWindowProcA(window, message, wParam, lParam);
        }
        self->Release();
        return answer;
    }

    HRESULT CreateSinglePointEnum(IEnumConnectionPoints** points);

    ULONG references_ = 1;
    HWND window_ = nullptr;
    IDispatch* sink_ = nullptr;
    bool open_ = false;
    long resultCode_ = 0;
};

const std::map<DISPID, FakeControl::Method> FakeControl::kMethods = {
    {kOpen, &FakeControl::Open},
    {kClaimDevice, &FakeControl::ClaimDevice},
    {kClose, &FakeControl::Close},
};

// Enumerates the control's one connection point.
class SinglePointEnum final : public IEnumConnectionPoints {
public:
    explicit SinglePointEnum(IConnectionPoint* point) : point_(point) { point_->AddRef(); }
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override {
        if (iid == IID_IUnknown || iid == IID_IEnumConnectionPoints) {
            *object = this;
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++references_; }
    STDMETHODIMP_(ULONG) Release() override {
        ULONG remaining = --references_;
        if (remaining == 0) delete this;
        return remaining;
    }
    STDMETHODIMP Next(ULONG count, IConnectionPoint** points, ULONG* fetched) override {
        ULONG given = 0;
        if (count > 0 && !done_) {
            points[0] = point_;
            point_->AddRef();
            done_ = true;
            given = 1;
        }
        if (fetched) *fetched = given;
        return given == count ? S_OK : S_FALSE;
    }
    STDMETHODIMP Skip(ULONG) override { return E_NOTIMPL; }
    STDMETHODIMP Reset() override {
        done_ = false;
        return S_OK;
    }
    STDMETHODIMP Clone(IEnumConnectionPoints**) override { return E_NOTIMPL; }

private:
    ~SinglePointEnum() { point_->Release(); }
    IConnectionPoint* point_;
    ULONG references_ = 1;
    bool done_ = false;
};

HRESULT FakeControl::CreateSinglePointEnum(IEnumConnectionPoints** points) {
    *points = new SinglePointEnum(static_cast<IConnectionPoint*>(this));
    return S_OK;
}

}  // namespace

std::vector<std::string> FakeControlScript::Calls() {
    std::lock_guard<std::mutex> lock(mutex);
    return calls;
}

void FakeControlScript::ClearCalls() {
    std::lock_guard<std::mutex> lock(mutex);
    calls.clear();
}

FakeControlScript& Script() { return *g_script; }

void ResetScript() {
    FakeControlScript& script = *g_script;
    std::lock_guard<std::mutex> lock(script.mutex);
    script.openResult = script.claimResult = script.closeResult = 0;
    script.deviceEnabledResult = script.dataEventEnabledResult = 0;
    script.resultCodeExtended = 0;
    script.strings.clear();
    script.calls.clear();
    script.created = script.released = false;
    script.errorResponseAfterEvent = -1;
    script.lastLookup = S_OK;
    script.eventWindow = nullptr;
}

HRESULT CreateFakeControl(IDispatch** control) {
    *control = new FakeControl();
    return S_OK;
}

HRESULT CreateNoControl(IDispatch** control) {
    *control = nullptr;
    return REGDB_E_CLASSNOTREG;
}

void FireDataEvent(long status) {
    ::SendMessageA(Script().eventWindow, kFireData, static_cast<WPARAM>(status), 0);
}

void PostErrorEvent(long resultCode, long resultCodeExtended, long errorLocus, long errorResponse) {
    auto* event = new ErrorEventArguments{resultCode, resultCodeExtended, errorLocus, errorResponse};
    if (!::PostMessageA(Script().eventWindow, kFireError, 0, reinterpret_cast<LPARAM>(event))) delete event;
}

HRESULT LookUpUnknownEvent() {
    return static_cast<HRESULT>(::SendMessageA(Script().eventWindow, kLookUpUnknown, 0, 0));
}

}  // namespace uitest

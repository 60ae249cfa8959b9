#include "FakeServiceObject.h"

#include <shlwapi.h>

#include "ServiceObjectClient.h"

#include <chrono>
#include <new>

namespace norvik::control::test {

const CLSID CLSID_FakeServiceObject = {0xAA1A2B5C, 0x9E43, 0x47E6, {0x9E, 0xB2, 0x7E, 0x2E, 0xAF, 0x50, 0xDA, 0x80}};

namespace {

const wchar_t* const kMethods[] = {
    L"COFreezeEvents",       L"GetPropertyNumber",      L"SetPropertyNumber",
    L"GetPropertyString",    L"SetPropertyString",      L"OpenService",
    L"CheckHealth",          L"ClaimDevice",            L"CloseService",
    L"DirectIO",             L"ReleaseDevice",          L"ClearInput",
    L"ClearInputProperties", L"ResetStatistics",        L"RetrieveStatistics",
    L"UpdateStatistics",     L"CompareFirmwareVersion", L"UpdateFirmware",
    L"WriteTracks",          L"AuthenticateDevice",     L"DeauthenticateDevice",
    L"RetrieveCardProperty", L"RetrieveDeviceAuthenticationData", L"UpdateKey",
};
constexpr int kMethodCount = sizeof(kMethods) / sizeof(kMethods[0]);

// Identifiers unlike any fixed numbering, so that a caller must look them up.
DISPID IdOf(int method) { return 500 + 7 * method; }

FakeSettings g_nextSettings;
int g_created = 0;
int g_alive = 0;
FakeServiceObject* g_latest = nullptr;
std::vector<std::wstring> g_journal;

FakeArgument Capture(const VARIANT& value) {
    FakeArgument argument;
    argument.byRef = (value.vt & VT_BYREF) != 0;
    argument.type = value.vt & ~VT_BYREF;
    switch (argument.type) {
        case VT_I4: argument.number = argument.byRef ? *value.plVal : value.lVal; break;
        case VT_BOOL: argument.number = argument.byRef ? *value.pboolVal : value.boolVal; break;
        case VT_BSTR: {
            BSTR text = argument.byRef ? *value.pbstrVal : value.bstrVal;
            argument.text.assign(text ? text : L"", text ? ::SysStringLen(text) : 0);
            break;
        }
        case VT_DISPATCH: argument.dispatch = argument.byRef ? *value.ppdispVal : value.pdispVal; break;
        default: break;
    }
    return argument;
}

VARIANT& Parameter(DISPPARAMS* parameters, size_t index) {
    return parameters->rgvarg[parameters->cArgs - 1 - index];  // reverse order
}

class FakeClassFactory final : public IClassFactory {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        static const QITAB kInterfaces[] = {QITABENT(FakeClassFactory, IClassFactory), {nullptr, 0}};
        return ::QISearch(this, kInterfaces, riid, ppv);
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }  // static lifetime
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override;
    STDMETHODIMP LockServer(BOOL) override { return S_OK; }
};

FakeClassFactory g_factory;

}  // namespace

// The class factory is a friend in all but name: it lives in this file.
class FakeFactoryAccess {
public:
    static FakeServiceObject* Make(const FakeSettings& settings);
};

STDMETHODIMP FakeClassFactory::CreateInstance(IUnknown* outer, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    FakeServiceObject* object = FakeFactoryAccess::Make(g_nextSettings);
    if (!object) return E_OUTOFMEMORY;
    const HRESULT hr = object->QueryInterface(riid, ppv);
    object->Release();
    return hr;
}

FakeSettings& FakeServiceObject::NextSettings() { return g_nextSettings; }
void FakeServiceObject::ResetAll() {
    g_nextSettings = FakeSettings();
    g_created = 0;
    g_journal.clear();
}
const std::vector<std::wstring>& FakeServiceObject::Journal() { return g_journal; }
int FakeServiceObject::Created() { return g_created; }
int FakeServiceObject::Alive() { return g_alive; }
FakeServiceObject* FakeServiceObject::Latest() { return g_latest; }

HRESULT FakeServiceObject::RegisterClassFactory(DWORD* cookie) {
    return ::CoRegisterClassObject(CLSID_FakeServiceObject, &g_factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE,
                                   cookie);
}

FakeServiceObject::FakeServiceObject(const FakeSettings& settings) : _settings(settings) {
    ++g_created;
    ++g_alive;
    g_latest = this;
}

FakeServiceObject::~FakeServiceObject() {
    JoinEventThread(5000);
    --g_alive;
    if (g_latest == this) g_latest = nullptr;
}

STDMETHODIMP FakeServiceObject::QueryInterface(REFIID riid, void** ppv) {
    static const QITAB kInterfaces[] = {QITABENT(FakeServiceObject, IDispatch), {nullptr, 0}};
    return ::QISearch(this, kInterfaces, riid, ppv);
}

STDMETHODIMP_(ULONG) FakeServiceObject::AddRef() { return ::InterlockedIncrement(&_references); }

STDMETHODIMP_(ULONG) FakeServiceObject::Release() {
    const LONG references = ::InterlockedDecrement(&_references);
    if (references == 0) delete this;
    return references;
}

STDMETHODIMP FakeServiceObject::GetTypeInfoCount(UINT* count) {
    *count = 0;
    return S_OK;
}

STDMETHODIMP FakeServiceObject::GetTypeInfo(UINT, LCID, ITypeInfo**) { return E_NOTIMPL; }

STDMETHODIMP FakeServiceObject::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
    if (count != 1) return E_INVALIDARG;
    for (int i = 0; i < kMethodCount; ++i) {
        if (::lstrcmpiW(names[0], kMethods[i]) == 0 && _settings.refusedName != kMethods[i]) {
            ids[0] = IdOf(i);
            return S_OK;
        }
    }
    ids[0] = DISPID_UNKNOWN;
    return DISP_E_UNKNOWNNAME;
}

STDMETHODIMP FakeServiceObject::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* parameters, VARIANT* result,
                                       EXCEPINFO*, UINT*) {
    if (!(flags & DISPATCH_METHOD)) return DISP_E_MEMBERNOTFOUND;
    int method = 0;
    while (method < kMethodCount && IdOf(method) != id) ++method;
    if (method == kMethodCount) return DISP_E_MEMBERNOTFOUND;

    FakeCall call;
    call.method = kMethods[method];
    for (size_t i = 0; i < parameters->cArgs; ++i) call.arguments.push_back(Capture(Parameter(parameters, i)));
    _calls.push_back(call);
    g_journal.push_back(call.method);

    const LONG answer = Respond(call, parameters);
    if (_hook) _hook(call);
    if (result && call.method != L"GetPropertyString") {
        ::VariantInit(result);
        result->vt = VT_I4;
        result->lVal = answer;
    }
    if (result && call.method == L"GetPropertyString") {
        const long index = call.arguments.at(0).number;
        auto it = _strings.find(index);
        const std::wstring text = it != _strings.end() ? it->second : L"text" + std::to_wstring(index);
        ::VariantInit(result);
        result->vt = VT_BSTR;
        result->bstrVal = ::SysAllocString(text.c_str());
    }
    return S_OK;
}

LONG FakeServiceObject::Respond(const FakeCall& call, DISPPARAMS* parameters) {
    const auto& method = call.method;
    if (method == L"GetPropertyNumber") {
        const long index = call.arguments.at(0).number;
        auto it = _numbers.find(index);
        if (it != _numbers.end()) return it->second;
        return index == 8 ? _settings.version : index * 10 + 3;
    }
    if (method == L"SetPropertyNumber") {
        _numbers[call.arguments.at(0).number] = call.arguments.at(1).number;
        return 0;
    }
    if (method == L"SetPropertyString") {
        _strings[call.arguments.at(0).number] = call.arguments.at(1).text;
        return 0;
    }
    if (method == L"OpenService") {
        _control = call.arguments.at(2).dispatch;
        return _settings.openServiceResult;
    }
    if (method == L"CloseService") {
        JoinEventThread(5000);
        _control = nullptr;
        return _settings.closeServiceResult;
    }
    if (method == L"DirectIO") {
        // Reply through both references: data + 1, and the command text echoed.
        *Parameter(parameters, 1).plVal += 1;
        BSTR* text = Parameter(parameters, 2).pbstrVal;
        const std::wstring reply = L"reply:" + call.arguments.at(2).text;
        ::SysFreeString(*text);
        *text = ::SysAllocString(reply.c_str());
    }
    if (method == L"RetrieveCardProperty") {
        BSTR* value = Parameter(parameters, 1).pbstrVal;
        ::SysFreeString(*value);
        *value = ::SysAllocString((L"value of " + call.arguments.at(0).text).c_str());
    }
    if (method == L"CompareFirmwareVersion") *Parameter(parameters, 1).plVal = 4;
    auto it = _results.find(method);
    return it != _results.end() ? it->second : 0;
}

std::vector<std::wstring> FakeServiceObject::MethodNames() const {
    std::vector<std::wstring> names;
    for (const auto& call : _calls) names.push_back(call.method);
    return names;
}

const FakeCall* FakeServiceObject::LastCall(const wchar_t* method) const {
    for (auto it = _calls.rbegin(); it != _calls.rend(); ++it) {
        if (it->method == method) return &*it;
    }
    return nullptr;
}

RaisedEvent RaiseOn(IDispatch* control, const std::wstring& method, const std::vector<LONG>& values, LONG number,
                    const wchar_t* text) {
    const bool hasText = text != nullptr;
    RaisedEvent raised;
    raised.number = number;
    if (!control) return raised;
    DISPID id = DISPID_UNKNOWN;
    LPOLESTR name = const_cast<LPOLESTR>(method.c_str());
    raised.hr = control->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id);
    if (FAILED(raised.hr)) return raised;

    UniqueBstr string(hasText ? ::SysAllocString(text) : nullptr);
    std::vector<VARIANT> arguments;  // declaration order, reversed below
    for (LONG value : values) arguments.push_back(arg::Long(value));
    if (method == L"SOError" || method == L"SODirectIO") arguments.push_back(arg::LongRef(&raised.number));
    if (method == L"SODirectIO") arguments.push_back(arg::StringRef(string.addressof()));
    std::vector<VARIANT> reversed(arguments.rbegin(), arguments.rend());
    DISPPARAMS parameters = {reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
    raised.hr = control->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &parameters, nullptr, nullptr,
                                nullptr);
    if (string.get()) raised.text.assign(string.get(), ::SysStringLen(string.get()));
    return raised;
}

RaisedEvent FakeServiceObject::Raise(const wchar_t* method, std::vector<LONG> values, LONG number,
                                     const wchar_t* text) {
    return RaiseOn(_control, method, values, number, text);
}

void FakeServiceObject::RaiseFromThread(const wchar_t* method, std::vector<LONG> values, LONG number,
                                        const wchar_t* text) {
    JoinEventThread(5000);
    std::packaged_task<RaisedEvent()> task(
        [control = _control, method = std::wstring(method), values = std::move(values), number,
         text = std::wstring(text ? text : L""), hasText = text != nullptr] {
            return RaiseOn(control, method, values, number, hasText ? text.c_str() : nullptr);
        });
    _eventResult = task.get_future();
    _eventThread = std::thread(std::move(task));
}

bool FakeServiceObject::ThreadReturned() const {
    return _eventResult.valid() && _eventResult.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
}

bool FakeServiceObject::WaitForThread(DWORD timeoutMs) {
    return _eventResult.valid() &&
           _eventResult.wait_for(std::chrono::milliseconds(timeoutMs)) == std::future_status::ready;
}

RaisedEvent FakeServiceObject::ThreadResult() {
    if (!_eventResult.valid()) return {};
    JoinEventThread(5000);
    return _eventResult.get();
}

void FakeServiceObject::JoinEventThread(DWORD timeoutMs) {
    if (!_eventThread.joinable()) return;
    if (WaitForThread(timeoutMs)) {
        _eventThread.join();
    } else {
        _joinTimedOut = true;
        _eventThread.detach();  // keeps a deadlocked test from hanging; the flag reports it
    }
}

FakeServiceObject* FakeFactoryAccess::Make(const FakeSettings& settings) {
    return new (std::nothrow) FakeServiceObject(settings);
}

}  // namespace norvik::control::test

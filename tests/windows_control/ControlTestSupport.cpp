#include "ControlTestSupport.h"

#include <gtest/gtest.h>
#include <ocidl.h>

#include "DeviceRegistry.h"
#include "FakeServiceObject.h"
#include "NorvikMSRControl.h"

namespace norvik::control::test {
namespace {

using RegisterFunction = HRESULT(STDAPICALLTYPE*)();

bool KeyExists(HKEY root, const std::wstring& path) {
    UniqueHkey key;
    return ::RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, key.put()) == ERROR_SUCCESS;
}

// The OPOS keys above the device keys, outermost first. The tests create what is
// missing and the environment removes it again.
const wchar_t* const kOposHierarchy[] = {L"SOFTWARE\\OLEforRetail", L"SOFTWARE\\OLEforRetail\\ServiceOPOS",
                                          kMsrRegistryPath};

// One STA for the whole run, the control registered from the freshly built DLL, and the
// fake service object's class object plus ProgID. The prefix's registry is shared with
// other test programs: what was not there before is gone again afterwards.
class ControlEnvironment : public testing::Environment {
public:
    void SetUp() override {
        ASSERT_HRESULT_SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
        for (const wchar_t* path : kOposHierarchy) {
            if (!_createdOposKey && !KeyExists(HKEY_LOCAL_MACHINE, path)) _createdOposKey = path;
        }
        _wasRegistered = KeyExists(HKEY_CLASSES_ROOT, NORVIKMSR_CONTROL_PROGID);
        _module = ::LoadLibraryW(L"NorvikMSRControl.dll");
        ASSERT_NE(_module, nullptr) << "error " << ::GetLastError();
        ASSERT_HRESULT_SUCCEEDED(Entry("DllRegisterServer")());
        ASSERT_HRESULT_SUCCEEDED(FakeServiceObject::RegisterClassFactory(&_cookie));
        UniqueHkey key;
        const std::wstring path = std::wstring(kFakeProgId) + L"\\CLSID";
        ASSERT_EQ(::RegCreateKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.put(),
                                    nullptr),
                  ERROR_SUCCESS);
        wchar_t clsid[39];
        ::StringFromGUID2(CLSID_FakeServiceObject, clsid, 39);
        ASSERT_EQ(::RegSetValueExW(key.get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(clsid), sizeof(clsid)),
                  ERROR_SUCCESS);
    }

    void TearDown() override {
        ::RegDeleteTreeW(HKEY_CLASSES_ROOT, kFakeProgId);
        if (_cookie) ::CoRevokeClassObject(_cookie);
        if (_module && !_wasRegistered) {
            EXPECT_HRESULT_SUCCEEDED(Entry("DllUnregisterServer")());
        }
        if (_createdOposKey) ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, _createdOposKey);
        ::CoUninitialize();
    }

private:
    RegisterFunction Entry(const char* name) {
        return reinterpret_cast<RegisterFunction>(reinterpret_cast<void*>(::GetProcAddress(_module, name)));
    }

    HMODULE _module = nullptr;
    DWORD _cookie = 0;
    bool _wasRegistered = false;
    const wchar_t* _createdOposKey = nullptr;
};

[[maybe_unused]] testing::Environment* const g_environment = testing::AddGlobalTestEnvironment(new ControlEnvironment);

std::wstring MsrPath(const std::wstring& key) { return std::wstring(kMsrRegistryPath) + L"\\" + key; }

}  // namespace

ComPtr<IDispatch> CreateControl() {
    ComPtr<IDispatch> control;
    const HRESULT hr =
        ::CoCreateInstance(CLSID_NorvikMSRControl, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(control.put()));
    EXPECT_HRESULT_SUCCEEDED(hr);
    return control;
}

DISPID IdOf(IDispatch* target, const wchar_t* name) {
    DISPID id = DISPID_UNKNOWN;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    if (FAILED(target->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id))) return DISPID_UNKNOWN;
    return id;
}

HRESULT CallByName(IDispatch* target, const wchar_t* name, WORD flags, std::initializer_list<VARIANT> arguments,
                   VARIANT* result) {
    const DISPID id = IdOf(target, name);
    if (id == DISPID_UNKNOWN) return DISP_E_UNKNOWNNAME;
    std::vector<VARIANT> reversed(std::rbegin(arguments), std::rend(arguments));
    DISPID put = DISPID_PROPERTYPUT;
    DISPPARAMS parameters = {reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
    if (flags & DISPATCH_PROPERTYPUT) {
        parameters.rgdispidNamedArgs = &put;
        parameters.cNamedArgs = 1;
    }
    return target->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &parameters, result, nullptr, nullptr);
}

LONG CallLong(IDispatch* target, const wchar_t* name, std::initializer_list<VARIANT> arguments) {
    UniqueVariant result;
    EXPECT_HRESULT_SUCCEEDED(CallByName(target, name, DISPATCH_METHOD, arguments, &result)) << name;
    EXPECT_EQ(result.vt, VT_I4) << name;
    return result.lVal;
}

LONG GetLong(IDispatch* target, const wchar_t* name) {
    UniqueVariant result;
    EXPECT_HRESULT_SUCCEEDED(CallByName(target, name, DISPATCH_PROPERTYGET, {}, &result)) << name;
    EXPECT_EQ(result.vt, VT_I4) << name;
    return result.lVal;
}

bool GetBool(IDispatch* target, const wchar_t* name) {
    UniqueVariant result;
    EXPECT_HRESULT_SUCCEEDED(CallByName(target, name, DISPATCH_PROPERTYGET, {}, &result)) << name;
    EXPECT_EQ(result.vt, VT_BOOL) << name;
    EXPECT_TRUE(result.boolVal == VARIANT_TRUE || result.boolVal == VARIANT_FALSE) << name;
    return result.boolVal == VARIANT_TRUE;
}

std::wstring GetString(IDispatch* target, const wchar_t* name) {
    UniqueVariant result;
    EXPECT_HRESULT_SUCCEEDED(CallByName(target, name, DISPATCH_PROPERTYGET, {}, &result)) << name;
    EXPECT_EQ(result.vt, VT_BSTR) << name;
    if (result.vt != VT_BSTR || !result.bstrVal) return {};
    return std::wstring(result.bstrVal, ::SysStringLen(result.bstrVal));
}

void Put(IDispatch* target, const wchar_t* name, const VARIANT& value) {
    EXPECT_HRESULT_SUCCEEDED(CallByName(target, name, DISPATCH_PROPERTYPUT, {value}, nullptr)) << name;
}

VARIANT Bool(bool value) {
    VARIANT v;
    ::VariantInit(&v);
    v.vt = VT_BOOL;
    v.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
    return v;
}

DWORD Advise(IDispatch* control, IUnknown* sink) {
    ComPtr<IConnectionPointContainer> container;
    ComPtr<IConnectionPoint> point;
    DWORD cookie = 0;
    if (FAILED(control->QueryInterface(IID_PPV_ARGS(container.put()))) ||
        FAILED(container->FindConnectionPoint(DIID__INorvikMSRControlEvents, point.put())) ||
        FAILED(point->Advise(sink, &cookie))) {
        return 0;
    }
    return cookie;
}

bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs) {
    const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
    for (;;) {
        MSG message;
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
        if (done()) return true;
        const ULONGLONG now = ::GetTickCount64();
        if (now >= deadline) return false;
        // Wakes on any message, or every few ms to look at `done` again.
        ::MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(std::min<ULONGLONG>(deadline - now, 10)),
                                      QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    }
}

bool WaitForPostedMessage(DWORD timeoutMs) {
    const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
    for (;;) {
        MSG message;
        if (::PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_POSTMESSAGE)) return true;
        const ULONGLONG now = ::GetTickCount64();
        if (now >= deadline) return false;
        ::MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(std::min<ULONGLONG>(deadline - now, 10)),
                                      QS_POSTMESSAGE, MWMO_INPUTAVAILABLE);
    }
}

ScopedMsrDevice::ScopedMsrDevice(std::wstring deviceKey, const wchar_t* progId, std::vector<std::wstring> aliases)
    : _deviceKey(std::move(deviceKey)), _aliases(std::move(aliases)) {
    UniqueHkey key;
    EXPECT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, MsrPath(_deviceKey).c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                                key.put(), nullptr),
              ERROR_SUCCESS);
    if (progId) {
        EXPECT_EQ(::RegSetValueExW(key.get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(progId),
                                   static_cast<DWORD>((wcslen(progId) + 1) * sizeof(wchar_t))),
                  ERROR_SUCCESS);
    }
    for (const auto& alias : _aliases) {
        EXPECT_EQ(::RegSetKeyValueW(HKEY_LOCAL_MACHINE, kMsrRegistryPath, alias.c_str(), REG_SZ, _deviceKey.c_str(),
                                    static_cast<DWORD>((_deviceKey.size() + 1) * sizeof(wchar_t))),
                  ERROR_SUCCESS);
    }
}

ScopedMsrDevice::~ScopedMsrDevice() {
    for (const auto& alias : _aliases) ::RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kMsrRegistryPath, alias.c_str());
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, MsrPath(_deviceKey).c_str());
}

ScopedMsrAlias::ScopedMsrAlias(std::wstring alias, const wchar_t* target) : _alias(std::move(alias)) {
    UniqueHkey key;
    EXPECT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kMsrRegistryPath, 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.put(),
                                nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(::RegSetValueExW(key.get(), _alias.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(target),
                               static_cast<DWORD>((wcslen(target) + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
}

ScopedMsrAlias::~ScopedMsrAlias() { ::RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kMsrRegistryPath, _alias.c_str()); }

void ControlTest::SetUp() {
    FakeServiceObject::ResetAll();
    control = CreateControl();
    ASSERT_TRUE(control);
}

void ControlTest::TearDown() {
    control.reset();
    EXPECT_EQ(FakeServiceObject::Alive(), 0) << "the control must release its service object";
}

LONG ControlTest::Open(const wchar_t* name) {
    UniqueBstr text = UniqueBstr::Copy(name);
    return CallLong(control.get(), L"Open", {Text(text.get())});
}

}  // namespace norvik::control::test

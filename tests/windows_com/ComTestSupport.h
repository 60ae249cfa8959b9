// Shared pieces of the COM server tests: the server module beside the test
// executable, a COM apartment per test, and hand-written COM objects that
// count their references and record what they are asked.
#pragma once

#include <windows.h>
#include <ocidl.h>
#include <olectl.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

// winsvc.h maps OpenService to OpenServiceA; here it is the interface method.
#undef OpenService

#include "NorvikMSRSO_h.h"
#include "com/ComResources.h"

namespace norvik::com::testing {

inline std::wstring ExecutableDirectory() {
    wchar_t path[MAX_PATH];
    const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring result(path, length);
    return result.substr(0, result.find_last_of(L"\\/") + 1);
}

inline std::wstring ServerPath() { return ExecutableDirectory() + L"NorvikMSRSO.dll"; }

// Runs `command` to its end; its exit code, or the creation error with the top bit set.
inline DWORD RunProcess(std::wstring command) {
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, &process)) {
        return ::GetLastError() | 0x80000000u;
    }
    ::WaitForSingleObject(process.hProcess, 120000);
    DWORD code = 0xffffffffu;
    ::GetExitCodeProcess(process.hProcess, &code);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    return code;
}

inline std::string Hex(HRESULT hr) {
    char text[16];
    wsprintfA(text, "0x%08lX", static_cast<unsigned long>(hr));
    return text;
}

// The server DLL, loaded for its four entry points.
class ServerModule {
public:
    ServerModule() : module_(::LoadLibraryW(ServerPath().c_str())) {}
    ~ServerModule() {
        if (module_) ::FreeLibrary(module_);
    }
    ServerModule(const ServerModule&) = delete;
    ServerModule& operator=(const ServerModule&) = delete;

    HMODULE handle() const { return module_; }

    HRESULT GetClassObject(REFCLSID clsid, REFIID riid, void** ppv) const {
        using Function = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
        return Entry<Function>("DllGetClassObject")(clsid, riid, ppv);
    }
    HRESULT CanUnloadNow() const { return Call("DllCanUnloadNow"); }
    HRESULT Register() const { return Call("DllRegisterServer"); }
    HRESULT Unregister() const { return Call("DllUnregisterServer"); }

private:
    template <class Function>
    Function Entry(const char* name) const {
        return reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(module_, name)));
    }
    HRESULT Call(const char* name) const {
        using Function = HRESULT(STDAPICALLTYPE*)();
        return Entry<Function>(name)();
    }

    HMODULE module_;
};

// Arguments for IDispatch::Invoke. Strings and references stay owned by the caller.
inline VARIANTARG Long(LONG value) {
    VARIANTARG v;
    ::VariantInit(&v);
    V_VT(&v) = VT_I4;
    V_I4(&v) = value;
    return v;
}

inline VARIANTARG Text(BSTR value) {
    VARIANTARG v;
    ::VariantInit(&v);
    V_VT(&v) = VT_BSTR;
    V_BSTR(&v) = value;
    return v;
}

inline VARIANTARG LongRef(LONG* value) {
    VARIANTARG v;
    ::VariantInit(&v);
    V_VT(&v) = VT_I4 | VT_BYREF;
    V_I4REF(&v) = value;
    return v;
}

inline VARIANTARG TextRef(BSTR* value) {
    VARIANTARG v;
    ::VariantInit(&v);
    V_VT(&v) = VT_BSTR | VT_BYREF;
    V_BSTRREF(&v) = value;
    return v;
}

inline VARIANTARG Dispatch(IDispatch* value) {
    VARIANTARG v;
    ::VariantInit(&v);
    V_VT(&v) = VT_DISPATCH;
    V_DISPATCH(&v) = value;
    return v;
}

// Invokes a method with its arguments given in declaration order.
inline HRESULT InvokeMethod(IDispatch* object, DISPID dispid, std::vector<VARIANTARG> arguments,
                            VARIANT* result = nullptr) {
    std::vector<VARIANTARG> reversed(arguments.rbegin(), arguments.rend());
    DISPPARAMS params = {reversed.empty() ? nullptr : reversed.data(), nullptr,
                         static_cast<UINT>(reversed.size()), 0};
    return object->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, result,
                          nullptr, nullptr);
}

// One single-threaded apartment per test.
class ComTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server_.handle()) << "cannot load NorvikMSRSO.dll, error " << ::GetLastError();
        ASSERT_EQ(S_OK, apartment_.result());
    }

    // A new instance through the server's class factory.
    ComPtr<INorvikMSRSOImpl> CreateServiceObject() {
        ComPtr<IClassFactory> factory;
        HRESULT hr = server_.GetClassObject(CLSID_NorvikMSRSOImpl, IID_IClassFactory,
                                            factory.put_void());
        EXPECT_EQ(S_OK, hr) << Hex(hr);
        ComPtr<INorvikMSRSOImpl> object;
        if (factory) {
            hr = factory->CreateInstance(nullptr, IID_INorvikMSRSOImpl, object.put_void());
            EXPECT_EQ(S_OK, hr) << Hex(hr);
        }
        return object;
    }

    ServerModule server_;
    CoInitializeScope apartment_{COINIT_APARTMENTTHREADED};
};

// The reference count an object reports, without changing it.
inline ULONG RefCount(IUnknown* object) {
    object->AddRef();
    return object->Release();
}

// Base of the test's own COM objects: they live on the test's stack, count
// their references and never delete themselves, so a test can assert that
// the server gave back every reference it took.
template <class Interface>
class StackObject : public Interface {
public:
    IFACEMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
    IFACEMETHODIMP_(ULONG) Release() override { return --refs_; }
    ULONG refs() const { return refs_; }

protected:
    ULONG refs_ = 1;
};

// An event sink for _INorvikMSRSOImplEvents (or only IDispatch when told to
// refuse it). It counts every call it gets.
class FakeSink final : public StackObject<IDispatch> {
public:
    explicit FakeSink(bool speaksEvents = true) : speaksEvents_(speaksEvents) {}

    IFACEMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (riid == IID_IUnknown || riid == IID_IDispatch ||
            (speaksEvents_ && riid == DIID__INorvikMSRSOImplEvents)) {
            *ppv = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    IFACEMETHODIMP GetTypeInfoCount(UINT* count) override {
        ++calls;
        *count = 0;
        return S_OK;
    }
    IFACEMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override {
        ++calls;
        return E_NOTIMPL;
    }
    IFACEMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        ++calls;
        return DISP_E_UNKNOWNNAME;
    }
    IFACEMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                          UINT*) override {
        ++calls;
        return S_OK;
    }

    int calls = 0;

private:
    bool speaksEvents_;
};

}  // namespace norvik::com::testing

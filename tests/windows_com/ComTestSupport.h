// Shared pieces of the COM server tests: the server module beside the test
// executable, one COM apartment per test, and automation argument helpers.
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
    std::wstring result(path, ::GetModuleFileNameW(nullptr, path, MAX_PATH));
    return result.substr(0, result.find_last_of(L"\\/") + 1);
}

inline std::wstring ServerPath() { return ExecutableDirectory() + L"NorvikMSRSO.dll"; }

inline std::wstring SystemProgram(const wchar_t* name) {
    wchar_t system[MAX_PATH];
    ::GetSystemDirectoryW(system, MAX_PATH);
    return L"\"" + std::wstring(system) + L"\\" + name + L"\"";
}

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

// The reference count an object reports, without changing it.
inline ULONG RefCount(IUnknown* object) {
    object->AddRef();
    return object->Release();
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
    HRESULT CanUnloadNow() const { return Entry<Plain>("DllCanUnloadNow")(); }
    HRESULT Register() const { return Entry<Plain>("DllRegisterServer")(); }
    HRESULT Unregister() const { return Entry<Plain>("DllUnregisterServer")(); }

private:
    using Plain = HRESULT(STDAPICALLTYPE*)();
    template <class Function>
    Function Entry(const char* name) const {
        return reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(module_, name)));
    }
    HMODULE module_;
};

// One single-threaded apartment per test.
class ComTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server_.handle()) << "cannot load NorvikMSRSO.dll, error " << ::GetLastError();
        ASSERT_EQ(S_OK, apartment_.result());
    }

    // A new instance through the server's class factory (no registration needed).
    ComPtr<INorvikMSRSOImpl> CreateServiceObject() {
        ComPtr<IClassFactory> factory;
        ComPtr<INorvikMSRSOImpl> object;
        EXPECT_EQ(S_OK, server_.GetClassObject(CLSID_NorvikMSRSOImpl, IID_IClassFactory,
                                               factory.put_void()));
        if (factory) {
            EXPECT_EQ(S_OK, factory->CreateInstance(nullptr, IID_INorvikMSRSOImpl,
                                                    object.put_void()));
        }
        return object;
    }

    ServerModule server_;
    CoInitializeScope apartment_{COINIT_APARTMENTTHREADED};
};

// Automation arguments; strings and references stay owned by the caller.
inline VARIANTARG Arg(VARTYPE type, void* reference) {
    VARIANTARG v;
    ::VariantInit(&v);
    V_VT(&v) = type;
    V_BYREF(&v) = reference;
    return v;
}
inline VARIANTARG Long(LONG value) {
    VARIANTARG v = Arg(VT_I4, nullptr);
    V_I4(&v) = value;
    return v;
}
inline VARIANTARG Text(BSTR value) { return Arg(VT_BSTR, value); }
inline VARIANTARG Dispatch(IDispatch* value) { return Arg(VT_DISPATCH, value); }
inline VARIANTARG LongRef(LONG* value) { return Arg(VT_I4 | VT_BYREF, value); }
inline VARIANTARG TextRef(BSTR* value) { return Arg(VT_BSTR | VT_BYREF, value); }

// Invokes a method with its arguments in declaration order.
inline HRESULT InvokeMethod(IDispatch* object, DISPID dispid, std::vector<VARIANTARG> arguments,
                            VARIANT* result = nullptr) {
    std::vector<VARIANTARG> reversed(arguments.rbegin(), arguments.rend());
    DISPPARAMS params = {reversed.empty() ? nullptr : reversed.data(), nullptr,
                         static_cast<UINT>(reversed.size()), 0};
    return object->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, result,
                          nullptr, nullptr);
}

}  // namespace norvik::com::testing

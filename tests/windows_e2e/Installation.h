// The installation an end-to-end run needs: both COM servers registered, the
// two device keys and two aliases (E2ELane1, E2ELane2), taken away again at the end.
#pragma once

#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <string>

namespace norvik::e2e {

constexpr char kMsrKey[] = "SOFTWARE\\OLEforRetail\\ServiceOPOS\\MSR";

inline std::wstring ModuleFolder() {
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path);
    return folder.substr(0, folder.find_last_of(L"\\/") + 1);
}

inline bool CallServerEntry(const wchar_t* dll, const char* entry) {
    HMODULE module = LoadLibraryW((ModuleFolder() + dll).c_str());
    if (module == nullptr) return false;
    auto function = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(GetProcAddress(module, entry));
    const bool ok = function != nullptr && SUCCEEDED(function());
    FreeLibrary(module);
    return ok;
}

inline void SetString(HKEY key, const char* name, const char* value) {
    RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                   static_cast<DWORD>(strlen(value) + 1));
}

inline void WriteDeviceKey(const char* device, DWORD kind) {
    HKEY key = nullptr;
    const std::string path = std::string(kMsrKey) + "\\" + device;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &key, nullptr),
              ERROR_SUCCESS);
    SetString(key, nullptr, "NorvikMSR.SO");
    RegSetValueExA(key, "DeviceType", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&kind), sizeof kind);
    SetString(key, "DeviceDesc", "End-to-end reader");
    SetString(key, "DeviceName", "Norvik MSR E2E");
    SetString(key, "Port", "USB");
    RegCloseKey(key);
}

// Registers both servers, the two device keys and two aliases for the run,
// and takes them away again.
class Installation : public ::testing::Environment {
public:
    void SetUp() override {
        ASSERT_TRUE(CallServerEntry(L"NorvikMSRSO.dll", "DllRegisterServer"));
        ASSERT_TRUE(CallServerEntry(L"NorvikMSRControl.dll", "DllRegisterServer"));
        WriteDeviceKey("Norvik_MSR-1", 0);
        WriteDeviceKey("Norvik_MSR-2", 1);
        HKEY msr = nullptr;
        ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kMsrKey, 0, KEY_ALL_ACCESS, &msr), ERROR_SUCCESS);
        SetString(msr, "E2ELane1", "Norvik_MSR-1");
        SetString(msr, "E2ELane2", "Norvik_MSR-2");
        RegCloseKey(msr);
    }
    void TearDown() override {
        HKEY msr = nullptr;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kMsrKey, 0, KEY_ALL_ACCESS, &msr) == ERROR_SUCCESS) {
            RegDeleteValueA(msr, "E2ELane1");
            RegDeleteValueA(msr, "E2ELane2");
            RegDeleteKeyA(msr, "Norvik_MSR-1");
            RegDeleteKeyA(msr, "Norvik_MSR-2");
            RegCloseKey(msr);
        }
        CallServerEntry(L"NorvikMSRControl.dll", "DllUnregisterServer");
        CallServerEntry(L"NorvikMSRSO.dll", "DllUnregisterServer");
    }
};

}  // namespace norvik::e2e

#include "DeviceRegistry.h"

#include "ComResources.h"
#include "NorvikMSRControl.h"
#include "OposCodes.h"

namespace norvik::control {
namespace {

// Reads a REG_SZ value (nullptr: the default value). Any other type counts as missing.
LSTATUS ReadString(HKEY key, const wchar_t* valueName, std::wstring* text) {
    for (;;) {
        DWORD bytes = 0;
        LSTATUS status = ::RegGetValueW(key, nullptr, valueName, RRF_RT_REG_SZ, nullptr, nullptr, &bytes);
        if (status != ERROR_SUCCESS) return status;
        text->resize(bytes / sizeof(wchar_t) + 1);
        status = ::RegGetValueW(key, nullptr, valueName, RRF_RT_REG_SZ, nullptr, &(*text)[0], &bytes);
        if (status == ERROR_MORE_DATA) continue;  // grew in between
        if (status != ERROR_SUCCESS) return status;
        text->resize(bytes / sizeof(wchar_t));
        while (!text->empty() && text->back() == L'\0') text->pop_back();
        return ERROR_SUCCESS;
    }
}

LogicalDevice Fail(long result, long openResult) {
    LogicalDevice device;
    device.result = result;
    device.openResult = openResult;
    return device;
}

}  // namespace

LogicalDevice ResolveLogicalDevice(const wchar_t* name) {
    // An empty name would open the MSR key itself and read its default value.
    if (!name || !*name) return Fail(kOposNoExist, NORVIKMSR_OR_REGBADNAME);

    UniqueHkey msrKey;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kMsrRegistryPath, 0, KEY_READ, msrKey.put()) != ERROR_SUCCESS) {
        return Fail(kOposNoExist, NORVIKMSR_OR_REGBADNAME);
    }

    LogicalDevice device;
    if (ReadString(msrKey.get(), name, &device.deviceKey) != ERROR_SUCCESS) device.deviceKey = name;
    if (device.deviceKey.empty()) return Fail(kOposNoExist, NORVIKMSR_OR_REGBADNAME);

    UniqueHkey deviceKey;
    if (::RegOpenKeyExW(msrKey.get(), device.deviceKey.c_str(), 0, KEY_READ, deviceKey.put()) != ERROR_SUCCESS) {
        return Fail(kOposNoExist, NORVIKMSR_OR_REGBADNAME);
    }
    if (ReadString(deviceKey.get(), nullptr, &device.progId) != ERROR_SUCCESS || device.progId.empty()) {
        return Fail(kOposNoService, NORVIKMSR_OR_REGPROGID);
    }
    return device;
}

}  // namespace norvik::control

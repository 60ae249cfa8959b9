// Finds the service object of a logical device name in the OPOS registry:
// HKLM\SOFTWARE\OLEforRetail\ServiceOPOS\MSR holds device keys (their default value is
// the service object's ProgID) and aliases (string values whose data name a device key).
#pragma once

#include <string>

namespace norvik::control {

constexpr wchar_t kMsrRegistryPath[] = L"SOFTWARE\\OLEforRetail\\ServiceOPOS\\MSR";

struct LogicalDevice {
    long result = 0;      // OPOS result: 0, 109 (no such device) or 104 (no ProgID)
    long openResult = 0;  // NORVIKMSR_OR_* reason when result is not 0
    std::wstring deviceKey;  // the resolved device key, never the alias
    std::wstring progId;
};

// `name` is an alias when the MSR key has a string value of that name; otherwise it is
// the device key itself. Throws std::bad_alloc only.
LogicalDevice ResolveLogicalDevice(const wchar_t* name);

}  // namespace norvik::control

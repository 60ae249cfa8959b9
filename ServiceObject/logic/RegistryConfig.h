// The service object's configuration in the registry: the aliases of
// logical device names under the MSR key, and the values of one device key.
#pragma once

#include <cstdint>
#include <string_view>

#include "common/BoundedText.h"

namespace norvik {

class RegistryView;

inline constexpr const char kOposMsrKey[] = "SOFTWARE\\OLEforRetail\\ServiceOPOS\\MSR";
inline constexpr const char kDeviceKey1[] = "Norvik_MSR-1";
inline constexpr const char kDeviceKey2[] = "Norvik_MSR-2";

struct AliasTable {
    static constexpr int kCapacity = 20;
    struct Entry {
        Text<30> alias;
        Text<30> target;
    };
    int32_t count = 0;
    Entry entries[kCapacity];

    // The target of the first entry whose alias equals `name` exactly; null when none.
    const char* Resolve(std::string_view name) const;
};

struct DeviceConfig {
    int32_t readerKind = 0;
    Text<64> deviceDescription;
    Text<96> deviceName;
    int32_t traceLevel = 0;  // "TraceLevel": 0 off .. 3
    Text<300> traceFile;     // "TraceFile": empty for the default file
    bool powerReporting = false;  // "PowerReporting" REG_DWORD 1: standard power reporting
};

// Rebuilds the alias table from the MSR key: values whose data begins with a
// device key name. Entries beyond the table's capacity are ignored.
void LoadLDNValues(RegistryView& registry, AliasTable& aliases);

// Reads the values of the device key `deviceName`; false when it cannot be opened.
bool LoadRegistryValues(RegistryView& registry, std::string_view deviceName, DeviceConfig& config);

}  // namespace norvik

#include "logic/RegistryConfig.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "seams/RegistryView.h"

namespace norvik {
namespace {

constexpr size_t kDeviceKeyPrefixLength = 12;  // "Norvik_MSR-1" and "Norvik_MSR-2"

// One value as text: strings as they are, numbers with "%ld", anything else "?".
bool ReadValueText(RegistryKey& key, const char* name, std::string& out) {
    RegistryValue value;
    if (!key.QueryValue(name, value)) return false;
    switch (value.type) {
        case RegistryValueType::String:
            out = value.text;
            break;
        case RegistryValueType::Dword: {
            char number[16];
            std::snprintf(number, sizeof number, "%ld", static_cast<long>(static_cast<int32_t>(value.number)));
            out = number;
            break;
        }
        case RegistryValueType::Other:
            out = "?";
            break;
    }
    return true;
}

// The same, into a bounded text; `out` stays untouched when the value cannot be read.
template <size_t N>
bool ReadRegistryLDNValue(RegistryKey& key, const char* name, Text<N>& out) {
    std::string text;
    if (!ReadValueText(key, name, text)) return false;
    out.Assign(text);
    return true;
}

}  // namespace

const char* AliasTable::Resolve(std::string_view name) const {
    for (int32_t i = 0; i < count; ++i) {
        if (entries[i].alias == name) return entries[i].target.c_str();
    }
    return nullptr;
}

void LoadLDNValues(RegistryView& registry, AliasTable& aliases) {
    std::unique_ptr<RegistryKey> key = registry.OpenKeyForRead(kOposMsrKey);
    if (!key) {
        aliases.count = 0;
        return;
    }
    aliases = AliasTable{};
    std::string name;
    for (uint32_t index = 0;; ++index) {
        const ValueNameStatus found = key->EnumValueName(index, name);
        if (found == ValueNameStatus::End) break;
        // A name too long to read is no alias; the ones after it still are.
        if (found == ValueNameStatus::TooLong) continue;
        std::string data;
        if (!ReadValueText(*key, name.c_str(), data)) continue;
        const std::string_view prefix = std::string_view(data).substr(0, kDeviceKeyPrefixLength);
        if (prefix != kDeviceKey1 && prefix != kDeviceKey2) continue;
        // A name longer than an entry holds could never be matched whole; skip it
        // rather than resolve a cut name to the wrong device.
        if (name.size() >= Text<30>::kCapacity || data.size() >= Text<30>::kCapacity) continue;
        if (aliases.count == AliasTable::kCapacity) break;
        AliasTable::Entry& entry = aliases.entries[aliases.count++];
        entry.alias.Assign(name);
        entry.target.Assign(data);
    }
}

bool LoadRegistryValues(RegistryView& registry, std::string_view deviceName, DeviceConfig& config) {
    // An empty name would open the MSR class key itself, as if it were a device.
    if (deviceName.empty()) return false;
    std::string path = kOposMsrKey;
    path += '\\';
    path += deviceName;
    std::unique_ptr<RegistryKey> key = registry.OpenKeyForRead(path);
    if (!key) return false;
    Text<1024> deviceType;
    if (ReadRegistryLDNValue(*key, "DeviceType", deviceType)) {
        config.readerKind = std::atoi(deviceType.c_str());
    }
    ReadRegistryLDNValue(*key, "DeviceDesc", config.deviceDescription);
    ReadRegistryLDNValue(*key, "DeviceName", config.deviceName);
    Text<16> traceLevel;
    if (ReadRegistryLDNValue(*key, "TraceLevel", traceLevel)) config.traceLevel = std::atoi(traceLevel.c_str());
    ReadRegistryLDNValue(*key, "TraceFile", config.traceFile);
    // Only a REG_DWORD 1 turns power reporting on; any other value keeps the
    // behaviour of a device key without it.
    RegistryValue power;
    config.powerReporting = key->QueryValue("PowerReporting", power) && power.type == RegistryValueType::Dword &&
                            power.number == 1;
    return true;
}

}  // namespace norvik

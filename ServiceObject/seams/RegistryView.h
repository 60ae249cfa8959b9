// Read access to the OPOS area of the registry, as the service object needs
// it. The Win32 adapter reads HKEY_LOCAL_MACHINE; the in-memory one serves
// native tests.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace norvik {

enum class RegistryValueType { String, Dword, Other };

// What enumerating one value index found.
enum class ValueNameStatus {
    Found,
    TooLong,  // a value is there, but its name does not fit 128 characters
    End,      // no value is left (or the key cannot be read any more)
};

struct RegistryValue {
    RegistryValueType type = RegistryValueType::Other;
    std::string text;     // String: the data up to its terminator
    uint32_t number = 0;  // Dword
};

// One key opened for reading. Closed when destroyed.
class RegistryKey {
public:
    virtual ~RegistryKey() = default;
    // Name of value `index`; `name` is set only when Found.
    virtual ValueNameStatus EnumValueName(uint32_t index, std::string& name) = 0;
    // Reads one value (at most 1024 bytes of data); false when it cannot be read.
    virtual bool QueryValue(const std::string& name, RegistryValue& value) = 0;
};

class RegistryView {
public:
    virtual ~RegistryView() = default;
    // Opens HKEY_LOCAL_MACHINE\<path> for reading; null when it cannot be opened.
    virtual std::unique_ptr<RegistryKey> OpenKeyForRead(const std::string& path) = 0;
};

}  // namespace norvik

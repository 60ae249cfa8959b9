#include "platform/win32/Win32RegistryView.h"

#include <algorithm>
#include <cstring>

#include "platform/win32/Win32Handles.h"

namespace norvik {
namespace {

constexpr DWORD kValueNameCapacity = 128;
constexpr DWORD kValueDataCapacity = 1024;

class Win32RegistryKey final : public RegistryKey {
public:
    explicit Win32RegistryKey(win32::UniqueRegistryKey key) : key_(std::move(key)) {}

    bool EnumValueName(uint32_t index, std::string& name) override {
        char buffer[kValueNameCapacity];
        DWORD length = kValueNameCapacity;
        if (::RegEnumValueA(key_.get(), index, buffer, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS) {
            return false;
        }
        name.assign(buffer, std::min(length, kValueNameCapacity - 1));
        return true;
    }

    bool QueryValue(const std::string& name, RegistryValue& value) override {
        BYTE data[kValueDataCapacity];
        DWORD type = REG_NONE;
        DWORD size = kValueDataCapacity;
        if (::RegQueryValueExA(key_.get(), name.c_str(), nullptr, &type, data, &size) != ERROR_SUCCESS) {
            return false;
        }
        size = std::min(size, kValueDataCapacity);
        value = RegistryValue{};
        switch (type) {
            case REG_SZ: {
                const char* text = reinterpret_cast<const char*>(data);
                value.type = RegistryValueType::String;
                value.text.assign(text, strnlen(text, size));
                break;
            }
            case REG_DWORD:
                value.type = RegistryValueType::Dword;
                std::memcpy(&value.number, data, std::min<DWORD>(size, sizeof value.number));
                break;
            default:
                value.type = RegistryValueType::Other;
                break;
        }
        return true;
    }

private:
    win32::UniqueRegistryKey key_;
};

}  // namespace

std::unique_ptr<RegistryKey> Win32RegistryView::OpenKeyForRead(const std::string& path) {
    win32::UniqueRegistryKey key;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS) return nullptr;
    return std::make_unique<Win32RegistryKey>(std::move(key));
}

}  // namespace norvik

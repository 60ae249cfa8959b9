#include "LdnRegistry.h"

#include <cstdio>

namespace swipebench {

const char kMsrKeyPath[] = "SOFTWARE\\OLEforRetail\\ServiceOPOS\\MSR";
const char kDeviceKey1[] = "Norvik_MSR-1";
const char kDeviceKey2[] = "Norvik_MSR-2";
const char kMessageCaption[] = "Norvik OPOS MSR Utility";

namespace {
constexpr DWORD kNameCapacity = 128;
constexpr DWORD kDataCapacity = 1024;
}  // namespace

bool IsDeviceKeyName(const std::string& text) {
    return text == kDeviceKey1 || text == kDeviceKey2;
}

LONG OpenMsrKey(UniqueHKey& key, REGSAM access) {
    return ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kMsrKeyPath, 0, access, key.put());
}

bool ReadValueText(HKEY key, const char* name, std::string& text) {
    BYTE data[kDataCapacity + 1] = {};
    DWORD type = 0;
    DWORD size = kDataCapacity;
    if (::RegQueryValueExA(key, name, nullptr, &type, data, &size) != ERROR_SUCCESS) return false;
    if (type == REG_SZ) {
        // The stored data need not carry its terminator; the spare byte holds one.
        text.assign(reinterpret_cast<const char*>(data));
    } else if (type == REG_DWORD && size >= sizeof(DWORD)) {
        long number = 0;
        memcpy(&number, data, sizeof number);
        char digits[16];
        snprintf(digits, sizeof digits, "%ld", number);
        text = digits;
    } else {
        text = "?";
    }
    return true;
}

std::vector<std::string> EnumValueNames(HKEY key) {
    std::vector<std::string> names;
    for (DWORD index = 0;; ++index) {
        char name[kNameCapacity];
        DWORD length = kNameCapacity;
        LONG status = ::RegEnumValueA(key, index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS) break;
        if (status == ERROR_SUCCESS) names.emplace_back(name, length);
        else if (status != ERROR_MORE_DATA) break;
    }
    return names;
}

std::vector<std::string> EnumSubkeyNames(HKEY key) {
    std::vector<std::string> names;
    for (DWORD index = 0;; ++index) {
        char name[kNameCapacity];
        LONG status = ::RegEnumKeyA(key, index, name, kNameCapacity);
        if (status == ERROR_NO_MORE_ITEMS) break;
        if (status == ERROR_SUCCESS) names.emplace_back(name);
        else if (status != ERROR_MORE_DATA) break;
    }
    return names;
}

void ShowRegistryOpenError(HWND owner) {
    ::MessageBoxA(owner, "ERROR: Open-1", "Registry Operation Error", MB_OK);
}

std::vector<std::string> LoadLogicalDeviceNames(HWND owner) {
    std::vector<std::string> names;
    UniqueHKey key;
    if (OpenMsrKey(key) != ERROR_SUCCESS) {
        ShowRegistryOpenError(owner);
        return names;
    }
    for (const std::string& name : EnumValueNames(key.get())) {
        std::string data;  // a value that cannot be read never counts as an alias
        if (ReadValueText(key.get(), name.c_str(), data) && IsDeviceKeyName(data)) {
            names.push_back(name);
        }
    }
    return names;
}

}  // namespace swipebench

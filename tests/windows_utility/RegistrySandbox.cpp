#include "RegistrySandbox.h"

#include <cstdio>

namespace uitest {

namespace {

class Key {
public:
    Key() = default;
    ~Key() {
        if (key_) ::RegCloseKey(key_);
    }
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    HKEY* put() {
        if (key_) ::RegCloseKey(key_);
        key_ = nullptr;
        return &key_;
    }
    HKEY get() const { return key_; }

private:
    HKEY key_ = nullptr;
};

RegistryTreeCopy SaveTree(HKEY key, const std::string& name) {
    RegistryTreeCopy tree;
    tree.name = name;
    for (DWORD index = 0;; ++index) {
        char valueName[16384];
        DWORD nameLength = sizeof valueName;
        DWORD type = 0;
        DWORD size = 0;
        if (::RegEnumValueA(key, index, valueName, &nameLength, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) {
            break;
        }
        RegistryValueCopy value{valueName, type, std::vector<BYTE>(size)};
        DWORD read = size;
        ::RegQueryValueExA(key, valueName, nullptr, nullptr, value.data.empty() ? nullptr : value.data.data(), &read);
        tree.values.push_back(std::move(value));
    }
    for (DWORD index = 0;; ++index) {
        char subkeyName[256];
        if (::RegEnumKeyA(key, index, subkeyName, sizeof subkeyName) != ERROR_SUCCESS) break;
        Key subkey;
        if (::RegOpenKeyExA(key, subkeyName, 0, KEY_READ, subkey.put()) == ERROR_SUCCESS) {
            tree.subkeys.push_back(SaveTree(subkey.get(), subkeyName));
        }
    }
    return tree;
}

void RestoreTree(HKEY parent, const RegistryTreeCopy& tree) {
    Key key;
    if (::RegCreateKeyExA(parent, tree.name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(), nullptr) !=
        ERROR_SUCCESS) {
        return;
    }
    for (const RegistryValueCopy& value : tree.values) {
        ::RegSetValueExA(key.get(), value.name.c_str(), 0, value.type, value.data.data(),
                         static_cast<DWORD>(value.data.size()));
    }
    for (const RegistryTreeCopy& subkey : tree.subkeys) RestoreTree(key.get(), subkey);
}

}  // namespace

RegistrySandbox::RegistrySandbox(const char* path) : path_(path) {
    Key key;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, path_.c_str(), 0, KEY_READ, key.put()) == ERROR_SUCCESS) {
        saved_ = std::make_unique<RegistryTreeCopy>(SaveTree(key.get(), path_));
    }
}

RegistrySandbox::~RegistrySandbox() {
    DeleteKey();
    if (saved_) RestoreTree(HKEY_LOCAL_MACHINE, *saved_);
}

void RegistrySandbox::DeleteKey() { ::RegDeleteTreeA(HKEY_LOCAL_MACHINE, path_.c_str()); }

void RegistrySandbox::Reset(const std::vector<std::string>& deviceKeys) {
    DeleteKey();
    Key key;
    ::RegCreateKeyExA(HKEY_LOCAL_MACHINE, path_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(), nullptr);
    for (const std::string& name : deviceKeys) {
        Key device;
        ::RegCreateKeyExA(key.get(), name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, device.put(), nullptr);
    }
}

void RegistrySandbox::SetString(const std::string& name, const std::string& data) {
    Key key;
    ::RegCreateKeyExA(HKEY_LOCAL_MACHINE, path_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(), nullptr);
    ::RegSetValueExA(key.get(), name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                     static_cast<DWORD>(data.size() + 1));
}

void RegistrySandbox::SetDword(const std::string& name, DWORD value) {
    Key key;
    ::RegCreateKeyExA(HKEY_LOCAL_MACHINE, path_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(), nullptr);
    ::RegSetValueExA(key.get(), name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}

std::vector<std::pair<std::string, std::string>> RegistrySandbox::Values() const {
    std::vector<std::pair<std::string, std::string>> values;
    Key key;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, path_.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS) return values;
    for (const RegistryValueCopy& value : SaveTree(key.get(), "").values) {
        std::string text;
        if (value.type == REG_DWORD && value.data.size() == sizeof(DWORD)) {
            DWORD number;
            memcpy(&number, value.data.data(), sizeof number);
            text = "dword:" + std::to_string(number);
        } else {
            text.assign(value.data.begin(), value.data.end());
            text.resize(strnlen(text.c_str(), text.size()));
        }
        values.emplace_back(value.name, text);
    }
    return values;
}

bool RegistrySandbox::HasValue(const std::string& name) const {
    Key key;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, path_.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS) return false;
    return ::RegQueryValueExA(key.get(), name.c_str(), nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

std::string RegistrySandbox::StringValue(const std::string& name) const {
    for (const auto& value : Values()) {
        if (value.first == name) return value.second;
    }
    return "<missing>";
}

}  // namespace uitest

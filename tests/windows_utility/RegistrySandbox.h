// Gives a test a key below HKEY_LOCAL_MACHINE (by default the MSR key of the
// OPOS area) to itself: the key's whole tree is saved when the sandbox is
// made and put back as it was when it goes.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace uitest {

struct RegistryValueCopy {
    std::string name;
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};

struct RegistryTreeCopy {
    std::string name;
    std::vector<RegistryValueCopy> values;
    std::vector<RegistryTreeCopy> subkeys;
};

class RegistrySandbox {
public:
    static constexpr const char* kMsrPath = "SOFTWARE\\OLEforRetail\\ServiceOPOS\\MSR";

    explicit RegistrySandbox(const char* path = kMsrPath);
    ~RegistrySandbox();
    RegistrySandbox(const RegistrySandbox&) = delete;
    RegistrySandbox& operator=(const RegistrySandbox&) = delete;

    // Removes the key with everything below it.
    void DeleteKey();
    // Empties the key and creates the given subkeys (device keys), in order.
    void Reset(const std::vector<std::string>& deviceKeys);
    void SetString(const std::string& name, const std::string& data);
    void SetDword(const std::string& name, DWORD value);
    // The key's values in enumeration order: (name, data as text) with
    // numbers as "dword:N".
    std::vector<std::pair<std::string, std::string>> Values() const;
    bool HasValue(const std::string& name) const;
    std::string StringValue(const std::string& name) const;

private:
    std::string path_;
    std::unique_ptr<RegistryTreeCopy> saved_;
};

}  // namespace uitest

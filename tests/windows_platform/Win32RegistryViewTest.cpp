#include "platform/win32/Win32RegistryView.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace norvik {
namespace {

const std::string kMsrKey = "SOFTWARE\\OLEforRetail\\ServiceOPOS\\MSR";
const std::string kTestKey = kMsrKey + "\\NorvikPlatformTest";
const char* const kRootWeMayCreate = "SOFTWARE\\OLEforRetail";

bool KeyExists(const std::string& path) {
    HKEY key = nullptr;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    ::RegCloseKey(key);
    return true;
}

// Writes the test key under the MSR key and removes all it created.
class Win32RegistryViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        createdRoot_ = !KeyExists(kRootWeMayCreate);
        ::RegDeleteTreeA(HKEY_LOCAL_MACHINE, kTestKey.c_str());
        ASSERT_EQ(::RegCreateKeyExA(HKEY_LOCAL_MACHINE, kTestKey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                    &key_, nullptr),
                  ERROR_SUCCESS);
    }
    void TearDown() override {
        if (key_ != nullptr) ::RegCloseKey(key_);
        ::RegDeleteTreeA(HKEY_LOCAL_MACHINE, kTestKey.c_str());
        if (createdRoot_) ::RegDeleteTreeA(HKEY_LOCAL_MACHINE, kRootWeMayCreate);
        EXPECT_FALSE(KeyExists(kTestKey));
    }

    void Set(const std::string& name, DWORD type, const void* data, DWORD size) {
        ASSERT_EQ(::RegSetValueExA(key_, name.c_str(), 0, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS);
    }
    void SetString(const std::string& name, const std::string& text) {
        Set(name, REG_SZ, text.c_str(), static_cast<DWORD>(text.size() + 1));
    }
    void SetDword(const std::string& name, DWORD number) { Set(name, REG_DWORD, &number, sizeof number); }

    Win32RegistryView view_;
    HKEY key_ = nullptr;
    bool createdRoot_ = false;
};

TEST_F(Win32RegistryViewTest, ReadsStringsNumbersAndOtherTypes) {
    SetString("DeviceDesc", "Norvik swipe reader");
    SetDword("DeviceType", 1);
    SetDword("Negative", 0xFFFFFFFEu);
    const BYTE blob[] = {1, 2, 3};
    Set("Blob", REG_BINARY, blob, sizeof blob);
    Set("Expand", REG_EXPAND_SZ, "%TEMP%", 7);

    auto key = view_.OpenKeyForRead(kTestKey);
    ASSERT_NE(key, nullptr);
    RegistryValue value;
    ASSERT_TRUE(key->QueryValue("DeviceDesc", value));
    EXPECT_EQ(value.type, RegistryValueType::String);
    EXPECT_EQ(value.text, "Norvik swipe reader");
    ASSERT_TRUE(key->QueryValue("devicetype", value));  // names are not case-sensitive
    EXPECT_EQ(value.type, RegistryValueType::Dword);
    EXPECT_EQ(value.number, 1u);
    ASSERT_TRUE(key->QueryValue("Negative", value));
    EXPECT_EQ(static_cast<int32_t>(value.number), -2);
    ASSERT_TRUE(key->QueryValue("Blob", value));
    EXPECT_EQ(value.type, RegistryValueType::Other);
    ASSERT_TRUE(key->QueryValue("Expand", value));
    EXPECT_EQ(value.type, RegistryValueType::Other);

    value.text = "untouched";
    EXPECT_FALSE(key->QueryValue("Port", value));
    EXPECT_EQ(value.text, "untouched");
}

TEST_F(Win32RegistryViewTest, EnumeratesEveryValueName) {
    SetString("Alias-B", "Norvik_MSR-2");
    SetString("Alias-A", "Norvik_MSR-1");
    SetDword("DeviceType", 0);

    auto key = view_.OpenKeyForRead(kTestKey);
    ASSERT_NE(key, nullptr);
    std::vector<std::string> names;
    std::string name;
    for (uint32_t index = 0; key->EnumValueName(index, name) == ValueNameStatus::Found; ++index) names.push_back(name);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"Alias-A", "Alias-B", "DeviceType"}));
}

TEST_F(Win32RegistryViewTest, AMissingKeyCannotBeOpened) {
    EXPECT_EQ(view_.OpenKeyForRead(kTestKey + "\\Missing"), nullptr);
    EXPECT_NE(view_.OpenKeyForRead(kMsrKey), nullptr);
}

TEST_F(Win32RegistryViewTest, StringDataIsBoundedByItsSizeAndTheBuffer) {
    Set("Unterminated", REG_SZ, "ABCDEF", 3);
    SetString("Fits", std::string(1023, 'd'));  // 1024 bytes with the terminator
    SetString("TooLong", std::string(1024, 'd'));

    auto key = view_.OpenKeyForRead(kTestKey);
    ASSERT_NE(key, nullptr);
    RegistryValue value;
    ASSERT_TRUE(key->QueryValue("Unterminated", value));
    EXPECT_EQ(value.text, "ABC");
    ASSERT_TRUE(key->QueryValue("Fits", value));
    EXPECT_EQ(value.text.size(), 1023u);
    EXPECT_FALSE(key->QueryValue("TooLong", value));
}

TEST_F(Win32RegistryViewTest, AValueNameLongerThanTheBufferEnumeratesAsTooLong) {
    SetString(std::string(127, 'n'), "Norvik_MSR-1");
    {
        auto key = view_.OpenKeyForRead(kTestKey);
        ASSERT_NE(key, nullptr);
        std::string name;
        ASSERT_EQ(key->EnumValueName(0, name), ValueNameStatus::Found);
        EXPECT_EQ(name, std::string(127, 'n'));
        EXPECT_EQ(key->EnumValueName(1, name), ValueNameStatus::End);
    }
    ASSERT_EQ(::RegDeleteValueA(key_, std::string(127, 'n').c_str()), ERROR_SUCCESS);
    SetString(std::string(128, 'n'), "Norvik_MSR-1");
    auto key = view_.OpenKeyForRead(kTestKey);
    ASSERT_NE(key, nullptr);
    std::string name = "untouched";
    EXPECT_EQ(key->EnumValueName(0, name), ValueNameStatus::TooLong);
}

TEST_F(Win32RegistryViewTest, AKeyDeletedWhileOpenReadsAsFailed) {
    SetString("DeviceName", "Reader");
    auto key = view_.OpenKeyForRead(kTestKey);
    ASSERT_NE(key, nullptr);
    ::RegCloseKey(key_);
    key_ = nullptr;
    ASSERT_EQ(::RegDeleteTreeA(HKEY_LOCAL_MACHINE, kTestKey.c_str()), ERROR_SUCCESS);
    RegistryValue value;
    EXPECT_FALSE(key->QueryValue("DeviceName", value));
    std::string name;
    EXPECT_EQ(key->EnumValueName(0, name), ValueNameStatus::End);
}

}  // namespace
}  // namespace norvik

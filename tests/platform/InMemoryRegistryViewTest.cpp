#include "platform/memory/InMemoryRegistryView.h"

#include <gtest/gtest.h>

#include "composition/DefaultEnvironment.h"

namespace norvik {
namespace {

const std::string kMsrKey = "SOFTWARE\\OLEforRetail\\ServiceOPOS\\MSR";
const std::string kDeviceKey = kMsrKey + "\\Norvik_MSR-1";

std::vector<std::string> ValueNames(RegistryKey& key) {
    std::vector<std::string> names;
    std::string name;
    for (uint32_t index = 0; key.EnumValueName(index, name) == ValueNameStatus::Found; ++index) names.push_back(name);
    return names;
}

TEST(InMemoryRegistryView, EnumeratesValuesInTheOrderTheyWereFirstSet) {
    InMemoryRegistryView registry;
    registry.SetString(kMsrKey, "Zeta", "Norvik_MSR-1");
    registry.SetDword(kMsrKey, "alpha", 7);
    registry.SetString(kMsrKey, "Mid", "x");
    registry.SetString(kMsrKey, "ZETA", "Norvik_MSR-2");  // replaces, keeps its place

    auto key = registry.OpenKeyForRead(kMsrKey);
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(ValueNames(*key), (std::vector<std::string>{"Zeta", "alpha", "Mid"}));

    RegistryValue value;
    ASSERT_TRUE(key->QueryValue("zeta", value));
    EXPECT_EQ(value.type, RegistryValueType::String);
    EXPECT_EQ(value.text, "Norvik_MSR-2");
}

TEST(InMemoryRegistryView, ReadsEachTypeAsTheWin32AdapterDoes) {
    InMemoryRegistryView registry;
    registry.SetString(kDeviceKey, "DeviceDesc", std::string("Swipe\0hidden", 12));
    registry.SetDword(kDeviceKey, "DeviceType", 0xFFFFFFFFu);
    registry.SetBinary(kDeviceKey, "Blob", {1, 2, 3});

    auto key = registry.OpenKeyForRead(kDeviceKey);
    ASSERT_NE(key, nullptr);
    RegistryValue value;
    ASSERT_TRUE(key->QueryValue("DeviceDesc", value));
    EXPECT_EQ(value.type, RegistryValueType::String);
    EXPECT_EQ(value.text, "Swipe");  // up to the terminator
    ASSERT_TRUE(key->QueryValue("DeviceType", value));
    EXPECT_EQ(value.type, RegistryValueType::Dword);
    EXPECT_EQ(value.number, 0xFFFFFFFFu);
    ASSERT_TRUE(key->QueryValue("Blob", value));
    EXPECT_EQ(value.type, RegistryValueType::Other);
    EXPECT_FALSE(key->QueryValue("Port", value));
}

TEST(InMemoryRegistryView, KeysAreFoundWithoutRegardToCaseAndParentsAreCreated) {
    InMemoryRegistryView registry;
    registry.SetDword(kDeviceKey, "DeviceType", 1);
    EXPECT_NE(registry.OpenKeyForRead("software\\oleforretail\\serviceopos\\msr\\NORVIK_MSR-1"), nullptr);
    auto parent = registry.OpenKeyForRead(kMsrKey);
    ASSERT_NE(parent, nullptr);
    EXPECT_TRUE(ValueNames(*parent).empty());
    EXPECT_EQ(registry.OpenKeyForRead(kMsrKey + "\\Norvik_MSR-2"), nullptr);

    registry.CreateKey(kMsrKey + "\\Empty");
    auto empty = registry.OpenKeyForRead(kMsrKey + "\\Empty");
    ASSERT_NE(empty, nullptr);
    EXPECT_TRUE(ValueNames(*empty).empty());
}

TEST(InMemoryRegistryView, ValuesBeyondTheAdapterBuffersReadAsFailed) {
    InMemoryRegistryView registry;
    registry.SetString(kMsrKey, std::string(127, 'n'), "Norvik_MSR-1");
    registry.SetString(kMsrKey, std::string(128, 'n'), "Norvik_MSR-1");
    registry.SetString(kMsrKey, "Fits", std::string(1023, 'd'));  // 1024 bytes with its terminator
    registry.SetString(kMsrKey, "TooLong", std::string(1024, 'd'));
    registry.SetBinary(kMsrKey, "BinaryFits", std::vector<uint8_t>(1024));
    registry.SetBinary(kMsrKey, "BinaryTooLong", std::vector<uint8_t>(1025));

    auto key = registry.OpenKeyForRead(kMsrKey);
    ASSERT_NE(key, nullptr);
    std::string name;
    EXPECT_EQ(key->EnumValueName(0, name), ValueNameStatus::Found);
    EXPECT_EQ(name.size(), 127u);
    EXPECT_EQ(key->EnumValueName(1, name), ValueNameStatus::TooLong);
    RegistryValue value;
    EXPECT_TRUE(key->QueryValue("Fits", value));
    EXPECT_EQ(value.text.size(), 1023u);
    EXPECT_FALSE(key->QueryValue("TooLong", value));
    EXPECT_TRUE(key->QueryValue("BinaryFits", value));
    EXPECT_FALSE(key->QueryValue("BinaryTooLong", value));
}

TEST(InMemoryRegistryView, AnOpenedKeySeesLaterChangesAndFailsOnceDeleted) {
    InMemoryRegistryView registry;
    registry.SetString(kDeviceKey, "DeviceName", "Reader");
    registry.SetString(kDeviceKey + "\\Sub", "Inner", "x");
    auto key = registry.OpenKeyForRead(kDeviceKey);
    auto sub = registry.OpenKeyForRead(kDeviceKey + "\\Sub");
    ASSERT_NE(key, nullptr);
    ASSERT_NE(sub, nullptr);

    registry.SetString(kDeviceKey, "Port", "USB");
    EXPECT_EQ(ValueNames(*key), (std::vector<std::string>{"DeviceName", "Port"}));
    EXPECT_TRUE(registry.DeleteValue(kDeviceKey, "devicename"));
    EXPECT_FALSE(registry.DeleteValue(kDeviceKey, "DeviceName"));
    EXPECT_EQ(ValueNames(*key), (std::vector<std::string>{"Port"}));

    EXPECT_TRUE(registry.DeleteKey(kDeviceKey));
    EXPECT_FALSE(registry.DeleteKey(kDeviceKey));
    RegistryValue value;
    EXPECT_FALSE(key->QueryValue("Port", value));
    EXPECT_TRUE(ValueNames(*key).empty());
    EXPECT_FALSE(sub->QueryValue("Inner", value));
    EXPECT_EQ(registry.OpenKeyForRead(kDeviceKey), nullptr);
    EXPECT_NE(registry.OpenKeyForRead(kMsrKey), nullptr);

    registry.Clear();
    EXPECT_EQ(registry.OpenKeyForRead(kMsrKey), nullptr);
}

TEST(NativePlatform, TheDefaultRegistryIsTheOneTestsFill) {
    NativeRegistry().SetDword(kDeviceKey, "DeviceType", 1);
    auto key = DefaultRegistryView().OpenKeyForRead(kDeviceKey);
    NativeRegistry().Clear();
    ASSERT_NE(key, nullptr);
    RegistryValue value;
    EXPECT_FALSE(key->QueryValue("DeviceType", value));  // cleared since
    EXPECT_EQ(DefaultRegistryView().OpenKeyForRead(kDeviceKey), nullptr);
}

}  // namespace
}  // namespace norvik

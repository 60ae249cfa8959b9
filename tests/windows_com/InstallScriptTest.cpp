// install.cmd and uninstall.cmd, run through cmd from the folder of the
// server: the COM registration and the two OPOS device keys come and go.
#include "ComTestSupport.h"

namespace norvik::com::testing {
namespace {

const std::wstring kMsrKey = L"SOFTWARE\\OLEforRetail\\ServiceOPOS\\MSR\\";
const std::pair<const wchar_t*, DWORD> kDevices[] = {{L"Norvik_MSR-1", 0}, {L"Norvik_MSR-2", 1}};

bool Open(HKEY root, const std::wstring& path, UniqueHKey& key) {
    return ::RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, key.put()) == ERROR_SUCCESS;
}

const wchar_t* const kOwnBits = sizeof(void*) == 8 ? L"64" : L"32";
const wchar_t* const kOtherBits = sizeof(void*) == 8 ? L"32" : L"64";

// The DLL beside the scripts has our bitness; without an argument they know it.
DWORD RunScript(const wchar_t* script, const wchar_t* bits = L"") {
    return RunProcess(SystemProgram(L"cmd.exe") + L" /c \"\"" + ExecutableDirectory() + script + L"\" " + bits +
                      L"\"");
}

class InstallScriptTest : public ComTest {
protected:
    void SetUp() override {
        ComTest::SetUp();
        UniqueHKey key;
        for (const auto& device : kDevices) {
            if (Open(HKEY_LOCAL_MACHINE, kMsrKey + device.first, key)) {
                GTEST_SKIP() << "OPOS device keys already present; not touching them";
            }
        }
    }
    void TearDown() override {
        if (!IsSkipped()) RunScript(L"uninstall.cmd");  // also after a failure half-way
    }
};

TEST_F(InstallScriptTest, InstallRegistersAndWritesTheDeviceKeysUninstallTakesThemAway) {
    wchar_t clsid[39];
    ::StringFromGUID2(CLSID_NorvikMSRSOImpl, clsid, ARRAYSIZE(clsid));
    const std::wstring classKey = std::wstring(L"CLSID\\") + clsid;
    UniqueHKey key;

    // Told the wrong bitness, it refuses and registers nothing.
    EXPECT_EQ(2u, RunScript(L"install.cmd", kOtherBits));
    EXPECT_FALSE(Open(HKEY_CLASSES_ROOT, classKey, key));
    EXPECT_FALSE(Open(HKEY_LOCAL_MACHINE, kMsrKey + kDevices[0].first, key));

    ASSERT_EQ(0u, RunScript(L"install.cmd"));
    EXPECT_TRUE(Open(HKEY_CLASSES_ROOT, classKey, key));
    for (const auto& [name, kind] : kDevices) {
        ASSERT_TRUE(Open(HKEY_LOCAL_MACHINE, kMsrKey + name, key));
        wchar_t text[128];
        DWORD number = 0xdeadbeef, bytes = sizeof number, type = 0;
        EXPECT_EQ(ERROR_SUCCESS, ::RegQueryValueExW(key.get(), L"DeviceType", nullptr, &type,
                                                    reinterpret_cast<BYTE*>(&number), &bytes));
        EXPECT_EQ(static_cast<DWORD>(REG_DWORD), type);
        EXPECT_EQ(kind, number);
        for (const wchar_t* value : {L"", L"DeviceDesc", L"DeviceName", L"Port"}) {
            bytes = sizeof text;
            EXPECT_EQ(ERROR_SUCCESS, ::RegQueryValueExW(key.get(), value, nullptr, &type,
                                                        reinterpret_cast<BYTE*>(text), &bytes));
            EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
            if (!*value) {
                EXPECT_STREQ(L"NorvikMSR.SO", text);  // the service object's ProgID
            }
        }
    }

    EXPECT_EQ(2u, RunScript(L"uninstall.cmd", kOtherBits));
    EXPECT_TRUE(Open(HKEY_CLASSES_ROOT, classKey, key));
    ASSERT_EQ(0u, RunScript(L"uninstall.cmd", kOwnBits));
    EXPECT_FALSE(Open(HKEY_CLASSES_ROOT, classKey, key));
    for (const auto& device : kDevices) EXPECT_FALSE(Open(HKEY_LOCAL_MACHINE, kMsrKey + device.first, key));
    EXPECT_EQ(0u, RunScript(L"uninstall.cmd"));  // twice is harmless
}

}  // namespace
}  // namespace norvik::com::testing

// install.cmd and uninstall.cmd, run through cmd from the folder of the
// server: the COM registration and the two OPOS device keys come and go.
#include "ComTestSupport.h"

namespace norvik::com::testing {
namespace {

constexpr wchar_t kMsrKey[] = L"SOFTWARE\\OLEforRetail\\ServiceOPOS\\MSR\\";

struct DeviceKey {
    const wchar_t* name;
    DWORD kind;
};
const DeviceKey kDevices[] = {{L"Norvik_MSR-1", 0}, {L"Norvik_MSR-2", 1}};

bool DeviceKeyExists(const wchar_t* name) {
    UniqueHKey key;
    return ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, (std::wstring(kMsrKey) + name).c_str(), 0, KEY_READ,
                           key.put()) == ERROR_SUCCESS;
}

bool ServerRegistered() {
    wchar_t clsid[39];
    ::StringFromGUID2(CLSID_NorvikMSRSOImpl, clsid, ARRAYSIZE(clsid));
    UniqueHKey key;
    return ::RegOpenKeyExW(HKEY_CLASSES_ROOT, (std::wstring(L"CLSID\\") + clsid).c_str(), 0,
                           KEY_READ, key.put()) == ERROR_SUCCESS;
}

// The scripts take the bitness of the DLL beside them, which is ours.
DWORD RunScript(const wchar_t* script) {
    wchar_t system[MAX_PATH];
    ::GetSystemDirectoryW(system, MAX_PATH);
    const wchar_t* bits = sizeof(void*) == 8 ? L" 64" : L" 32";
    return RunProcess(L"\"" + std::wstring(system) + L"\\cmd.exe\" /c \"\"" + ExecutableDirectory() +
                      script + L"\"" + bits + L"\"");
}

std::wstring StringValue(HKEY key, const wchar_t* name) {
    wchar_t data[256] = {};
    DWORD bytes = sizeof(data) - sizeof(wchar_t);
    DWORD type = 0;
    if (::RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(data), &bytes) !=
            ERROR_SUCCESS ||
        type != REG_SZ) {
        return L"<missing>";
    }
    return data;
}

class InstallScriptTest : public ComTest {
protected:
    void SetUp() override {
        ComTest::SetUp();
        for (const DeviceKey& device : kDevices) {
            if (DeviceKeyExists(device.name)) GTEST_SKIP() << "OPOS device keys already present";
        }
        ASSERT_EQ(S_OK, server_.Unregister());
    }
    void TearDown() override {
        if (IsSkipped()) return;
        RunScript(L"uninstall.cmd");
        EXPECT_EQ(S_OK, server_.Unregister());
    }
};

TEST_F(InstallScriptTest, InstallRegistersAndWritesTheDeviceKeysUninstallTakesThemAway) {
    ASSERT_EQ(0u, RunScript(L"install.cmd"));
    EXPECT_TRUE(ServerRegistered());
    for (const DeviceKey& device : kDevices) {
        SCOPED_TRACE(::testing::Message() << device.kind);
        UniqueHKey key;
        ASSERT_EQ(ERROR_SUCCESS,
                  ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, (std::wstring(kMsrKey) + device.name).c_str(),
                                  0, KEY_READ, key.put()));
        EXPECT_EQ(L"NorvikMSR.SO", StringValue(key.get(), nullptr));
        DWORD kind = 0xdeadbeef;
        DWORD bytes = sizeof kind;
        DWORD type = 0;
        EXPECT_EQ(ERROR_SUCCESS, ::RegQueryValueExW(key.get(), L"DeviceType", nullptr, &type,
                                                    reinterpret_cast<BYTE*>(&kind), &bytes));
        EXPECT_EQ(static_cast<DWORD>(REG_DWORD), type);
        EXPECT_EQ(device.kind, kind);
        for (const wchar_t* text : {L"DeviceDesc", L"DeviceName", L"Port"}) {
            const std::wstring value = StringValue(key.get(), text);
            EXPECT_NE(L"<missing>", value);
            EXPECT_FALSE(value.empty());
        }
    }

    ASSERT_EQ(0u, RunScript(L"uninstall.cmd"));
    EXPECT_FALSE(ServerRegistered());
    for (const DeviceKey& device : kDevices) EXPECT_FALSE(DeviceKeyExists(device.name));

    // Twice is harmless.
    EXPECT_EQ(0u, RunScript(L"uninstall.cmd"));
}

TEST_F(InstallScriptTest, ScriptsRefuseAnUnknownBitness) {
    wchar_t system[MAX_PATH];
    ::GetSystemDirectoryW(system, MAX_PATH);
    const std::wstring cmd = L"\"" + std::wstring(system) + L"\\cmd.exe\" /c \"\"";
    EXPECT_EQ(2u, RunProcess(cmd + ExecutableDirectory() + L"install.cmd\" 16\""));
    EXPECT_EQ(2u, RunProcess(cmd + ExecutableDirectory() + L"uninstall.cmd\" 128\""));
    EXPECT_FALSE(ServerRegistered());
    for (const DeviceKey& device : kDevices) EXPECT_FALSE(DeviceKeyExists(device.name));
}

}  // namespace
}  // namespace norvik::com::testing

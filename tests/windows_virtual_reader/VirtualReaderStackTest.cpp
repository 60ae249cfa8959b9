// The whole stack over the virtual reader: a POS client, our control object,
// NorvikMSRSO.dll and Vorlex.dll with the simulator off, reading a virtual
// reader through the system's HID stack.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "PosClient.h"
#include "Vorlex.h"
#include "VorlexSimulator.h"
#include "VirtualReaderTestSupport.h"

namespace {

using norvik::pos::Event;
using norvik::pos::MsrControl;
namespace vr = vorlex::virtual_reader;

constexpr char kMsrKey[] = "SOFTWARE\\OLEforRetail\\ServiceOPOS\\MSR";
constexpr char kDeviceKey[] = "SOFTWARE\\OLEforRetail\\ServiceOPOS\\MSR\\Norvik_VR-1";
constexpr char kAlias[] = "VirtualLane";

bool CallServerEntry(const char* dll, const char* entry) {
    char path[MAX_PATH] = {};
    const DWORD length = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path, length);
    folder = folder.substr(0, folder.find_last_of("\\/") + 1);
    HMODULE module = ::LoadLibraryA((folder + dll).c_str());
    if (module == nullptr) return false;
    auto function = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(reinterpret_cast<void (*)()>(::GetProcAddress(module, entry)));
    const bool ok = function != nullptr && SUCCEEDED(function());
    ::FreeLibrary(module);
    return ok;
}

void SetString(HKEY key, const char* name, const char* value) {
    ::RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value), static_cast<DWORD>(strlen(value) + 1));
}

class VirtualReaderStackTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(vr::testing::VirtualBus::Install());
        ASSERT_EQ(bus_.Open(), vr::Outcome::Ok);
        bus_.UnplugAll();
        VorlexSimEnable(0);
        ASSERT_TRUE(CallServerEntry("NorvikMSRSO.dll", "DllRegisterServer"));
        ASSERT_TRUE(CallServerEntry("NorvikMSRControl.dll", "DllRegisterServer"));
        HKEY key = nullptr;
        ASSERT_EQ(::RegCreateKeyExA(HKEY_LOCAL_MACHINE, kDeviceKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                                    nullptr),
                  ERROR_SUCCESS);
        const DWORD basicReader = 0;
        SetString(key, nullptr, "NorvikMSR.SO");
        ::RegSetValueExA(key, "DeviceType", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&basicReader), sizeof basicReader);
        SetString(key, "DeviceDesc", "Virtual reader lane");
        ::RegCloseKey(key);
        ASSERT_EQ(::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kMsrKey, 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
        SetString(key, kAlias, "Norvik_VR-1");
        ::RegCloseKey(key);
        ASSERT_TRUE(SUCCEEDED(com_.result()));
        ASSERT_TRUE(msr_.Create());
    }
    void TearDown() override {
        msr_.Release();
        HKEY key = nullptr;
        if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kMsrKey, 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS) {
            ::RegDeleteValueA(key, kAlias);
            ::RegDeleteKeyA(key, "Norvik_VR-1");
            ::RegCloseKey(key);
        }
        CallServerEntry("NorvikMSRControl.dll", "DllUnregisterServer");
        CallServerEntry("NorvikMSRSO.dll", "DllUnregisterServer");
        bus_.UnplugAll();
    }

    static void SetPowerReporting(DWORD value) {
        HKEY key = nullptr;
        ASSERT_EQ(::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kDeviceKey, 0, KEY_SET_VALUE, &key), ERROR_SUCCESS);
        ::RegSetValueExA(key, "PowerReporting", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
        ::RegCloseKey(key);
    }
    long StatusUpdate() {
        const Event event = Wait(DISPID_NORVIKMSR_STATUSUPDATEEVENT);
        return event.numbers.empty() ? -1 : event.numbers[0];
    }
    void SwipeForData() {
        msr_.SetFlag(DISPID_NORVIKMSR_DATAEVENTENABLED, true);
        ASSERT_EQ(vr::testing::RunTool("swipe \"%B4111111111111111^DOE/JOHN Q^2512101123456789?\" "
                                       "\";4111111111111111=25121011234567890?\" \"\""),
                  0);
        Wait(DISPID_NORVIKMSR_DATAEVENT);
        EXPECT_EQ(msr_.Text(DISPID_NORVIKMSR_ACCOUNTNUMBER), "4111111111111111");
    }

    Event Wait(DISPID id) {
        Event event{};
        EXPECT_TRUE(msr_.Events().WaitFor(id, event, 10000)) << "event " << id;
        return event;
    }

    vr::testing::VirtualBus bus_;
    norvik::win32::CoInitializeScope com_{COINIT_APARTMENTTHREADED};
    MsrControl msr_;
};

TEST_F(VirtualReaderStackTest, ClaimEnableSwipeErrorAndUnplug) {
    bus_.Plug("basic-swipe");
    ASSERT_EQ(msr_.Open(kAlias), 0);
    ASSERT_EQ(msr_.Method(DISPID_NORVIKMSR_CLAIMDEVICE, {MsrControl::Long(1000)}), 0);
    msr_.SetFlag(DISPID_NORVIKMSR_DEVICEENABLED, true);
    ASSERT_EQ(msr_.Number(DISPID_NORVIKMSR_RESULTCODE), 0);
    EXPECT_EQ(msr_.Number(DISPID_NORVIKMSR_STATE), 2);

    SwipeForData();
    EXPECT_EQ(msr_.Text(DISPID_NORVIKMSR_SURNAME), "DOE");

    // A track that failed to decode is an error event, as with hardware.
    msr_.SetFlag(DISPID_NORVIKMSR_DATAEVENTENABLED, true);
    ASSERT_EQ(vr::testing::RunTool("swipe \"%B4111111111111111^DOE/JOHN Q^2512101123456789?\" \";4111\" \"\" "
                                   "--status 0,1,0"),
              0);
    const Event error = Wait(DISPID_NORVIKMSR_ERROREVENT);
    ASSERT_FALSE(error.numbers.empty());
    EXPECT_EQ(error.numbers[0], 111);

    // Unplugged while enabled: the service object learns it from Vorlex.
    ASSERT_EQ(vr::testing::RunTool("unplug"), 0);
    for (int i = 0; i < 500 && msr_.Number(DISPID_NORVIKMSR_STATE) != 4; ++i) ::Sleep(10);
    EXPECT_EQ(msr_.Number(DISPID_NORVIKMSR_STATE), 4);
    EXPECT_EQ(msr_.Method(DISPID_NORVIKMSR_CHECKHEALTH, {MsrControl::Long(1)}), 0);
    EXPECT_EQ(msr_.Text(DISPID_NORVIKMSR_CHECKHEALTHTEXT), "MSR CheckHealth INTERNAL: No Hardware");
    EXPECT_EQ(msr_.Method(DISPID_NORVIKMSR_CLOSE), 0);
}

// Power reporting on: the application never disables or enables again, and
// is told of each change; with the reader there at enable, or plugged later.
class PowerReportingStackTest : public VirtualReaderStackTest, public ::testing::WithParamInterface<bool> {};

TEST_P(PowerReportingStackTest, AReaderPluggedBackInReadsAgainAndTheApplicationIsTold) {
    const bool presentAtEnable = GetParam();
    SetPowerReporting(1);
    if (presentAtEnable) bus_.Plug("basic-swipe");
    ASSERT_EQ(msr_.Open(kAlias), 0);
    ASSERT_EQ(msr_.Method(DISPID_NORVIKMSR_CLAIMDEVICE, {MsrControl::Long(1000)}), 0);
    EXPECT_EQ(msr_.Number(DISPID_NORVIKMSR_CAPPOWERREPORTING), 1);
    msr_.SetNumber(DISPID_NORVIKMSR_POWERNOTIFY, 1);
    msr_.SetFlag(DISPID_NORVIKMSR_DEVICEENABLED, true);
    ASSERT_EQ(msr_.Number(DISPID_NORVIKMSR_RESULTCODE), 0);
    if (!presentAtEnable) {
        EXPECT_EQ(StatusUpdate(), 2004);
        bus_.Plug("basic-swipe");
        EXPECT_EQ(StatusUpdate(), 2001);
    }
    EXPECT_EQ(msr_.Number(DISPID_NORVIKMSR_POWERSTATE), 2001);
    SwipeForData();

    ASSERT_EQ(vr::testing::RunTool("unplug"), 0);
    EXPECT_EQ(StatusUpdate(), 2004);
    EXPECT_EQ(msr_.Number(DISPID_NORVIKMSR_POWERSTATE), 2004);
    bus_.Plug("basic-swipe");
    EXPECT_EQ(StatusUpdate(), 2001);
    EXPECT_EQ(msr_.Number(DISPID_NORVIKMSR_STATE), 2);
    SwipeForData();
    EXPECT_EQ(msr_.Method(DISPID_NORVIKMSR_CLOSE), 0);
}

INSTANTIATE_TEST_SUITE_P(ReaderAtEnable, PowerReportingStackTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? "Present" : "Absent";
                         });

}  // namespace

// Vorlex.dll with the simulator off, reading virtual readers through the
// system's HID stack: detection, decoding, commands, unplug and close while
// a read is pending, and the control device's refusals.
#include <gtest/gtest.h>

#include <windows.h>
#include <setupapi.h>
#include <tlhelp32.h>

#include <cstdio>
#include <string>
#include <vector>

#include "CallbackLog.h"
#include "MaskedAccount.h"
#include "Vorlex.h"
#include "VorlexSimulator.h"
#include "VirtualReaderTestSupport.h"
#include "core/ModelTable.h"
#include "sim/SwipeReportBuilder.h"

namespace {

using vorlex::testing::CallbackEvent;
using vorlex::testing::CallbackLog;
namespace vr = vorlex::virtual_reader;
using vr::testing::RunTool;

const char kTrack1[] = "%B4111111111111111^DOE/JOHN Q^2512101123456789?";
const char kTrack2[] = ";4111111111111111=25121011234567890?";

// Disables or enables a plugged device through SetupAPI, as Device
// Manager does. False when the system cannot (the error says why).
bool ChangeDeviceState(const VR_DEVICE_INFO& device, DWORD state, DWORD& error) {
    char instanceId[64];
    std::snprintf(instanceId, sizeof instanceId, VR_CHILD_BUS_NAME "\\VID_%04X&PID_%04X\\%u", device.vendorId,
                  device.productId, device.serial);
    HDEVINFO set = ::SetupDiCreateDeviceInfoList(nullptr, nullptr);
    SP_DEVINFO_DATA info{};
    info.cbSize = sizeof info;
    SP_PROPCHANGE_PARAMS change{};
    change.ClassInstallHeader.cbSize = sizeof change.ClassInstallHeader;
    change.ClassInstallHeader.InstallFunction = DIF_PROPERTYCHANGE;
    change.StateChange = state;
    change.Scope = DICS_FLAG_GLOBAL;
    const bool changed = set != INVALID_HANDLE_VALUE && ::SetupDiOpenDeviceInfoA(set, instanceId, nullptr, 0, &info) &&
                         ::SetupDiSetClassInstallParamsA(set, &info, &change.ClassInstallHeader, sizeof change) &&
                         ::SetupDiChangeState(set, &info);
    error = ::GetLastError();
    if (set != INVALID_HANDLE_VALUE) ::SetupDiDestroyDeviceInfoList(set);
    return changed;
}

size_t RunningControlTools() {
    norvik::win32::UniqueKernelHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof entry;
    size_t count = 0;
    for (BOOL more = ::Process32First(snapshot.get(), &entry); more; more = ::Process32Next(snapshot.get(), &entry)) {
        if (_stricmp(entry.szExeFile, "VirtualReader.exe") == 0) ++count;
    }
    return count;
}

ULONGLONG ProcessCpuMilliseconds() {
    FILETIME created, exited, kernel, user;
    ::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user);
    const auto ticks = [](const FILETIME& t) { return (ULONGLONG(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
    return (ticks(kernel) + ticks(user)) / 10000;
}

class VirtualReaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(vr::testing::VirtualBus::Install()) << "VirtualReader install failed; see its stderr above";
        ASSERT_EQ(bus_.Open(), vr::Outcome::Ok);
        UnplugAll();
        VorlexCloseDevice();
        VorlexSimEnable(0);
        Log().Reset();
        VorlexCardDataStateChangedNotify(&CallbackLog::CardDataCallback);
        VorlexDeviceStateChangedNotify(&CallbackLog::DeviceStateCallback);
    }
    void TearDown() override {
        VorlexCloseDevice();
        VorlexCardDataStateChangedNotify(nullptr);
        VorlexDeviceStateChangedNotify(nullptr);
        UnplugAll();
    }

    static CallbackLog& Log() { return CallbackLog::Instance(); }

    void UnplugAll() { bus_.UnplugAll(); }
    VR_DEVICE_INFO Plug(const char* modelName, uint16_t vendorId = VORLEX_VENDOR_ID, uint16_t productId = 0) {
        return bus_.Plug(modelName, vendorId, productId);
    }

    // The card data text of one swipe of the open reader, delivered by `swipe`.
    template <typename Swipe>
    std::string TextOfOneSwipe(Swipe swipe) {
        const size_t before = Log().Count(CallbackEvent::CardData, 1);
        swipe();
        EXPECT_TRUE(Log().WaitFor(CallbackEvent::CardData, 1, before + 1));
        std::vector<char> text(VORLEX_CARD_DATA_TEXT_SIZE, 0);
        EXPECT_EQ(VorlexGetCardDataStr(text.data(), "|"), 0);
        return text.data();
    }

    vr::testing::VirtualBus bus_;
    vr::ControlDevice& control_ = bus_.control;
};

// Both report layouts decode exactly as the simulated bus decodes them, and
// the swipe goes through the tool's command line.
TEST_F(VirtualReaderTest, BasicAndSecureModelsAreFoundAndDecoded) {
    for (const char* modelName : {"basic-swipe", "secure-swipe"}) {
        const vr::PluggableModel* model = vr::FindPluggableModel(modelName);
        VorlexSimReset();
        VorlexSimEnable(1);
        VorlexSimAttach(VORLEX_VENDOR_ID, model->productId, model->inputReportLength, model->featureReportLength);
        ASSERT_EQ(VorlexOpenDevice(""), 0);
        const std::string simulated = TextOfOneSwipe([&] { VorlexSimSwipeTracks(kTrack1, kTrack2, "", 0, 0, 0, 0); });
        VorlexCloseDevice();
        VorlexSimEnable(0);

        Plug(modelName);
        ASSERT_EQ(VorlexOpenDevice(""), 0) << modelName;
        int32_t pid = 0;
        EXPECT_EQ(VorlexGetPID(&pid), model->productId);
        const std::string real = TextOfOneSwipe([&] {
            EXPECT_EQ(RunTool(std::string("swipe \"") + kTrack1 + "\" \"" + kTrack2 + "\" \"\""), 0);
        });
        EXPECT_EQ(real, simulated) << modelName;
        EXPECT_NE(real.find("4111"), std::string::npos);
        VorlexCloseDevice();
        UnplugAll();
    }
}

// The real Win32 path keeps no card: after the application has taken the
// record and cleared the reader, the card is nowhere in this process's
// memory (the transport's read buffer included).
TEST_F(VirtualReaderTest, NoCopyOfACardStaysBehindTheRealHidPath) {
    const VR_DEVICE_INFO device = Plug("basic-swipe");
    ASSERT_EQ(VorlexOpenDevice(""), 0);
    const norvik::testing::MaskedAccount card(::GetTickCount() * 7u | 1u);
    const size_t before = Log().Count(CallbackEvent::CardData, 1);
    ASSERT_TRUE(card.Swipe([&](const char* track1, const char* track2) {
        vorlex::SwipeTracks tracks;
        tracks.track[0] = track1;
        tracks.track[1] = track2;
        std::vector<uint8_t> report(device.inputReportLength);
        vorlex::BuildSwipeReport(vorlex::FindReaderModel(VORLEX_PID_BASIC_SWIPE)->switches, tracks, report.size(),
                                 report.data(), report.size());
        const bool injected = control_.InjectInput(device.serial, report) == vr::Outcome::Ok;
        ::SecureZeroMemory(report.data(), report.size());
        return injected;
    }));
    ASSERT_TRUE(Log().WaitFor(CallbackEvent::CardData, 1, before + 1));
    EXPECT_FALSE(card.Hits().empty()) << "the scan cannot see the card in the reader's store";
    VorlexCardData record{};
    ASSERT_EQ(VorlexGetCardData(&record), 0);
    // Looked at in place: a copy made here would leave the card in this
    // thread's registers, and the scan would see the test's copy, not ours.
    EXPECT_EQ(record.Track2Text[0], ';');
    ::SecureZeroMemory(&record, sizeof record);
    VorlexClearBuffer();
    EXPECT_EQ(std::vector<std::string>{}, card.Hits()) << "after the record was taken and the reader cleared";
    VorlexCloseDevice();
    EXPECT_EQ(std::vector<std::string>{}, card.Hits()) << "after the reader was closed";
}

TEST_F(VirtualReaderTest, ReaderBehindAForeignDeviceIsFound) {
    Plug("foreign", 0x1234, 0x5678);
    Plug("basic-swipe");
    ASSERT_EQ(VorlexOpenDevice(""), 0);
    int32_t pid = 0;
    EXPECT_EQ(VorlexGetPID(&pid), VORLEX_PID_BASIC_SWIPE);
}

TEST_F(VirtualReaderTest, CommandsRoundTripAsFeatureReports) {
    const VR_DEVICE_INFO device = Plug("basic-swipe");
    ASSERT_EQ(VorlexOpenDevice(""), 0);
    ASSERT_EQ(control_.SetFeatureReply(device.serial, {0x00, 0x00, 0x03, 0x90, 0x00, 0x1F}), vr::Outcome::Ok);
    char reply[64] = {};
    ASSERT_EQ(VorlexSendCommand("02 01 03", 0, reply, sizeof reply), 0);
    EXPECT_STREQ(reply, "90001F");
    std::vector<uint8_t> request;
    ASSERT_EQ(control_.LastFeature(device.serial, request), vr::Outcome::Ok);
    ASSERT_EQ(request.size(), device.featureReportLength);
    EXPECT_EQ(std::vector<uint8_t>(request.begin(), request.begin() + 6),
              (std::vector<uint8_t>{0x00, 0x02, 0x02, 0x01, 0x03, 0x00}));
    // The reader stays open: a second command and a swipe still work.
    ASSERT_EQ(control_.SetFeatureReply(device.serial, {0x00, 0x00, 0x00}), vr::Outcome::Ok);
    ASSERT_EQ(VorlexSendCommand("0101", 1, reply, sizeof reply), 0);
    EXPECT_STREQ(reply, "");
    EXPECT_EQ(Log().Count(CallbackEvent::DeviceState, 0), 0u);
}

TEST_F(VirtualReaderTest, UnplugDuringAPendingReadIsARemovalAndReplugIsFound) {
    VR_DEVICE_INFO device = Plug("basic-swipe");
    ASSERT_EQ(VorlexOpenDevice(""), 0);
    ::Sleep(100);  // the read thread's read is now pending in the driver
    ASSERT_EQ(control_.Unplug(device.serial), vr::Outcome::Ok);
    ASSERT_TRUE(Log().WaitFor(CallbackEvent::DeviceState, 0));
    EXPECT_EQ(Log().States(CallbackEvent::DeviceState), (std::vector<int32_t>{1, 2, 0}));
    EXPECT_FALSE(Log().RemovalReportedOn(std::this_thread::get_id()));
    int32_t state = -1;
    EXPECT_EQ(VorlexGetDeviceState(&state), 0);

    // Nothing keeps reading (or spinning) after the removal.
    const ULONGLONG cpuBefore = ProcessCpuMilliseconds();
    ::Sleep(1000);
    EXPECT_LT(ProcessCpuMilliseconds() - cpuBefore, 200u);
    EXPECT_EQ(Log().Count(CallbackEvent::DeviceState, 2), 1u);

    ASSERT_TRUE(vr::WaitForInterface(device, false, vr::kTimeoutMilliseconds));
    EXPECT_EQ(VorlexOpenDevice(""), 1);  // nothing to find
    device = Plug("basic-swipe");
    ASSERT_EQ(VorlexOpenDevice(""), 0);
    EXPECT_NE(TextOfOneSwipe([&] { EXPECT_EQ(RunTool("swipe \"\" \";1234=2512?\" \"\""), 0); }).find("1234"),
              std::string::npos);
}

TEST_F(VirtualReaderTest, CloseWhileAReadIsPendingReleasesOnce) {
    Plug("secure-swipe");
    for (int cycle = 0; cycle < 3; ++cycle) {
        ASSERT_EQ(VorlexOpenDevice(""), 0);
        ::Sleep(50);
        EXPECT_EQ(VorlexCloseDevice(), 0);
    }
    EXPECT_EQ(Log().States(CallbackEvent::DeviceState), (std::vector<int32_t>{1, 0, 1, 0, 1, 0}));
}

TEST_F(VirtualReaderTest, ControlDeviceRefusesMalformedRequests) {
    const VR_DEVICE_INFO device = Plug("basic-swipe");
    DWORD returned = 0;
    uint8_t out[sizeof(VR_STATUS)] = {};
    // Unknown code, wrong sizes, impossible lengths.
    EXPECT_NE(control_.Raw(VR_CTL(40), nullptr, 0, nullptr, 0, returned), 0u);
    const VR_PLUG_REQUEST tooLong{VORLEX_VENDOR_ID, VORLEX_PID_BASIC_SWIPE, VR_MAX_INPUT_REPORT_LENGTH + 1, 64};
    EXPECT_NE(control_.Raw(IOCTL_VR_PLUG, &tooLong, sizeof tooLong, out, sizeof(VR_DEVICE_INFO), returned), 0u);
    EXPECT_NE(control_.Raw(IOCTL_VR_PLUG, &tooLong, sizeof tooLong - 1, out, sizeof(VR_DEVICE_INFO), returned), 0u);
    EXPECT_NE(control_.Raw(IOCTL_VR_STATUS, nullptr, 0, out, sizeof out - 1, returned), 0u);
    const VR_REPORT_REQUEST lying{device.serial, 100};  // says 100 bytes, brings none
    EXPECT_NE(control_.Raw(IOCTL_VR_INJECT_INPUT, &lying, sizeof lying, nullptr, 0, returned), 0u);
    // A report longer than the model's, one with a report ID, one for nobody.
    EXPECT_EQ(control_.InjectInput(device.serial, std::vector<uint8_t>(device.inputReportLength + 1)),
              vr::Outcome::Failed);
    EXPECT_EQ(control_.InjectInput(device.serial, {0x05, 0x01}), vr::Outcome::Failed);
    EXPECT_EQ(control_.InjectInput(device.serial + 100, {0x00, 0x01}), vr::Outcome::NoSuchDevice);
    // More devices than the bus holds.
    for (int i = 1; i < VR_MAX_DEVICES; ++i) Plug("foreign", 0x1234, static_cast<uint16_t>(0x100 + i));
    VR_DEVICE_INFO extra{};
    const VR_PLUG_REQUEST one{0x1234, 0x200, 338, 64};
    EXPECT_EQ(control_.Plug(one, extra), vr::Outcome::Failed);
    // Nothing of that disturbed the bus.
    std::vector<VR_DEVICE_INFO> devices;
    ASSERT_EQ(control_.Status(devices), vr::Outcome::Ok);
    EXPECT_EQ(devices.size(), static_cast<size_t>(VR_MAX_DEVICES));
    // The command line's contract: usage and no-such-device exit codes.
    EXPECT_EQ(RunTool("plug no-such-model"), 2);
    EXPECT_EQ(RunTool("plug foreign"), 2);
    UnplugAll();
    EXPECT_EQ(RunTool("last-feature"), 4);
}

// A device that PnP stops and starts again (disabled and enabled, or a
// driver update) reads again.
TEST_F(VirtualReaderTest, ADisabledAndEnabledReaderReadsAgain) {
    if (::GetProcAddress(::GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr) {
        // Its SetupDiSetClassInstallParams fails and SetupDiChangeState ends the process.
        GTEST_SKIP() << "Wine cannot disable or enable a device through SetupAPI";
    }
    const VR_DEVICE_INFO device = Plug("basic-swipe");
    DWORD error = 0;
    ASSERT_TRUE(ChangeDeviceState(device, DICS_DISABLE, error)) << "error " << error;
    ASSERT_TRUE(vr::WaitForInterface(device, false, vr::kTimeoutMilliseconds));
    ASSERT_TRUE(ChangeDeviceState(device, DICS_ENABLE, error)) << "error " << error;
    ASSERT_TRUE(vr::WaitForInterface(device, true, vr::kTimeoutMilliseconds));
    ASSERT_EQ(VorlexOpenDevice(""), 0);
    EXPECT_NE(TextOfOneSwipe([&] { EXPECT_EQ(RunTool("swipe \"\" \";1234=2512?\" \"\""), 0); }).find("1234"),
              std::string::npos);
}

bool ControlDeviceGoesWithin(DWORD milliseconds) {
    const ULONGLONG deadline = ::GetTickCount64() + milliseconds;
    for (vr::ControlDevice other; other.Open() == vr::Outcome::Ok; ::Sleep(20)) {
        if (::GetTickCount64() >= deadline) return false;
    }
    return true;
}

// Uninstalling while this process holds the control device open: the handle
// answers with an error, and installing again at once (no restart) gives a
// bus that reads.
TEST_F(VirtualReaderTest, UninstallWithAControlHandleOpenElsewhereThenInstallAgainReads) {
    Plug("basic-swipe");
    ASSERT_EQ(RunTool("uninstall"), 0);
    ASSERT_TRUE(ControlDeviceGoesWithin(vr::kTimeoutMilliseconds)) << "the control device is still there";
    DWORD returned = 0;
    VR_STATUS status{};
    EXPECT_NE(control_.Raw(IOCTL_VR_STATUS, nullptr, 0, &status, sizeof status, returned), 0u);
    VR_DEVICE_INFO ignored{};
    const VR_PLUG_REQUEST plug{VORLEX_VENDOR_ID, VORLEX_PID_BASIC_SWIPE, 338, 64};
    EXPECT_NE(control_.Raw(IOCTL_VR_PLUG, &plug, sizeof plug, &ignored, sizeof ignored, returned), 0u);

    ASSERT_EQ(RunTool("install"), 0);
    ASSERT_EQ(bus_.Open(), vr::Outcome::Ok);
    Plug("basic-swipe");
    ASSERT_EQ(VorlexOpenDevice(""), 0);
    EXPECT_NE(TextOfOneSwipe([&] { EXPECT_EQ(RunTool("swipe \"\" \";1234=2512?\" \"\""), 0); }).find("1234"),
              std::string::npos);
}

// A control tool that does not end in time is ended, and says so.
TEST_F(VirtualReaderTest, AControlToolThatOverrunsIsEndedAndReportedAsTimedOut) {
    EXPECT_EQ(vr::RunControlTool("status", 1), vr::kControlToolTimedOut);
    EXPECT_EQ(RunningControlTools(), 0u);
}

// Only administrators and SYSTEM may open the control device. Wine keeps no
// security on device objects (and runs everything as an administrator), so
// there the platform cannot express the check.
TEST_F(VirtualReaderTest, NonAdministratorsCannotOpenTheControlDevice) {
    if (::GetProcAddress(::GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr) {
        GTEST_SKIP() << "Wine keeps no security on device objects";
    }
    using norvik::win32::UniqueKernelHandle;
    UniqueKernelHandle token;
    ASSERT_TRUE(::OpenProcessToken(::GetCurrentProcess(), TOKEN_DUPLICATE | TOKEN_QUERY, token.put()));
    // The same user with Administrators for deny only: a non-administrator.
    BYTE administrators[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof administrators;
    ASSERT_TRUE(::CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &size));
    SID_AND_ATTRIBUTES denyOnly{administrators, 0};
    UniqueKernelHandle restricted;
    ASSERT_TRUE(::CreateRestrictedToken(token.get(), DISABLE_MAX_PRIVILEGE, 1, &denyOnly, 0, nullptr, 0, nullptr,
                                        restricted.put()));
    UniqueKernelHandle impersonation;
    ASSERT_TRUE(::DuplicateToken(restricted.get(), SecurityImpersonation, impersonation.put()));
    ASSERT_TRUE(::SetThreadToken(nullptr, impersonation.get()));
    norvik::win32::UniqueFile control(::CreateFileA(VR_CONTROL_USER_PATH, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                                    OPEN_EXISTING, 0, nullptr));
    const DWORD error = ::GetLastError();
    ::RevertToSelf();
    EXPECT_FALSE(control);
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

}  // namespace

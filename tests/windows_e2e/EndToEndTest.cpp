// A POS application's view of the whole stack under Wine: the control object
// creates NorvikMSRSO.dll through COM by the ProgID of the device key, which
// opens the simulated reader through Vorlex.dll in this process.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include <string>
#include <vector>

#include "Installation.h"
#include "PosClient.h"
#include "Vorlex.h"
#include "VorlexSimulator.h"

namespace {

using norvik::pos::Event;
using norvik::pos::MsrControl;
using norvik::pos::Narrow;
using norvik::pos::UniqueBstr;
using norvik::pos::Wide;

constexpr char kCard1[] = "%B4111111111111111^DOE/JOHN Q^2512101123456789?";
constexpr char kCard2[] = ";4111111111111111=25121011234567890?";

using norvik::e2e::Installation;
using norvik::e2e::kMsrKey;
using norvik::e2e::ModuleFolder;
using norvik::e2e::SetString;

const auto* const installation = ::testing::AddGlobalTestEnvironment(new Installation);

class EndToEndTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(com_.result()));
        VorlexSimEnable(1);
        VorlexSimReset();
        ASSERT_TRUE(msr_.Create());
    }
    void TearDown() override {
        msr_.Release();
        VorlexSimReset();
    }

    // Open, claim, enable and arm data events on a reader of the given kind.
    void Ready(const char* alias, unsigned short productId, unsigned short inputLength) {
        VorlexSimAttach(VORLEX_VENDOR_ID, productId, inputLength, 64);
        ASSERT_EQ(msr_.Open(alias), 0);
        ASSERT_EQ(msr_.Method(DISPID_NORVIKMSR_CLAIMDEVICE, {MsrControl::Long(1000)}), 0);
        msr_.SetFlag(DISPID_NORVIKMSR_DEVICEENABLED, true);
        ASSERT_EQ(msr_.Number(DISPID_NORVIKMSR_RESULTCODE), 0);
        msr_.SetFlag(DISPID_NORVIKMSR_DATAEVENTENABLED, true);
    }
    Event Wait(DISPID id) {
        Event event{};
        EXPECT_TRUE(msr_.Events().WaitFor(id, event)) << "event " << id;
        return event;
    }

    norvik::win32::CoInitializeScope com_{COINIT_APARTMENTTHREADED};
    MsrControl msr_;
};

TEST_F(EndToEndTest, LifeCycleThroughTheControlObject) {
    EXPECT_EQ(msr_.Open("NoSuchDevice"), 109);
    VorlexSimAttach(VORLEX_VENDOR_ID, VORLEX_PID_BASIC_SWIPE, 338, 64);
    ASSERT_EQ(msr_.Open("E2ELane1"), 0);
    EXPECT_EQ(msr_.Text(DISPID_NORVIKMSR_DEVICEDESCRIPTION), "End-to-end reader");
    EXPECT_EQ(msr_.Number(DISPID_NORVIKMSR_SERVICEOBJECTVERSION), 1013004);
    msr_.SetFlag(DISPID_NORVIKMSR_DEVICEENABLED, true);
    EXPECT_EQ(msr_.Number(DISPID_NORVIKMSR_RESULTCODE), 103);  // not claimed
    ASSERT_EQ(msr_.Method(DISPID_NORVIKMSR_CLAIMDEVICE, {MsrControl::Long(1000)}), 0);
    msr_.SetFlag(DISPID_NORVIKMSR_DEVICEENABLED, true);
    EXPECT_EQ(msr_.Number(DISPID_NORVIKMSR_RESULTCODE), 0);
    EXPECT_EQ(msr_.Number(DISPID_NORVIKMSR_STATE), 2);
    EXPECT_EQ(msr_.Method(DISPID_NORVIKMSR_CHECKHEALTH, {MsrControl::Long(1)}), 0);
    EXPECT_EQ(msr_.Text(DISPID_NORVIKMSR_CHECKHEALTHTEXT), "MSR CheckHealth INTERNAL: Successful");

    ASSERT_EQ(VorlexSimDetach(), 0);  // unplugged while enabled
    for (int i = 0; i < 200 && msr_.Number(DISPID_NORVIKMSR_STATE) != 4; ++i) Sleep(10);
    EXPECT_EQ(msr_.Number(DISPID_NORVIKMSR_STATE), 4);
    EXPECT_EQ(msr_.Method(DISPID_NORVIKMSR_CHECKHEALTH, {MsrControl::Long(1)}), 0);
    EXPECT_EQ(msr_.Text(DISPID_NORVIKMSR_CHECKHEALTHTEXT), "MSR CheckHealth INTERNAL: No Hardware");
    EXPECT_EQ(msr_.Method(DISPID_NORVIKMSR_CLOSE), 0);
}

TEST_F(EndToEndTest, ReaderKindReadsTheSameAsANumberOrAString) {
    for (const bool asString : {false, true}) {
        HKEY key = nullptr;
        const std::string path = std::string(kMsrKey) + "\\Norvik_MSR-2";
        ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
        if (asString) {
            SetString(key, "DeviceType", "1");
        } else {
            const DWORD kind = 1;
            RegSetValueExA(key, "DeviceType", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&kind), sizeof kind);
        }
        RegCloseKey(key);
        ASSERT_EQ(msr_.Open("E2ELane2"), 0) << (asString ? "string" : "number");
        EXPECT_EQ(msr_.Number(DISPID_NORVIKMSR_CAPDATAENCRYPTION), 2);  // an encrypting reader
        EXPECT_NE(msr_.Number(DISPID_NORVIKMSR_CAPTRACKDATAMASKING), 0);
        EXPECT_EQ(msr_.Method(DISPID_NORVIKMSR_CLOSE), 0);
    }
}

TEST_F(EndToEndTest, CardModeDataAndErrorEvents) {
    Ready("E2ELane1", VORLEX_PID_BASIC_SWIPE, 338);
    ASSERT_EQ(VorlexSimSwipeTracks(kCard1, kCard2, "", 0, 0, 0, 0), 0);
    const Event data = Wait(DISPID_NORVIKMSR_DATAEVENT);
    ASSERT_EQ(data.numbers.size(), 1u);
    EXPECT_EQ(data.numbers[0], 45 + 34 * 256);
    EXPECT_EQ(msr_.Text(DISPID_NORVIKMSR_TRACK1DATA), "B4111111111111111^DOE/JOHN Q^2512101123456789");
    EXPECT_EQ(msr_.Text(DISPID_NORVIKMSR_ACCOUNTNUMBER), "4111111111111111");
    EXPECT_EQ(msr_.Text(DISPID_NORVIKMSR_SURNAME), "DOE");
    EXPECT_EQ(msr_.Number(DISPID_NORVIKMSR_DATAEVENTENABLED), 0);  // cleared before the event

    msr_.SetFlag(DISPID_NORVIKMSR_DATAEVENTENABLED, true);
    ASSERT_EQ(VorlexSimSwipeTracks(kCard1, ";4111", "", 0, 1, 0, 0), 0);
    const Event error = Wait(DISPID_NORVIKMSR_ERROREVENT);
    EXPECT_EQ(error.numbers, (std::vector<long>{111, 0, 2, 12}));
    EXPECT_EQ(msr_.Number(DISPID_NORVIKMSR_DATACOUNT), 0);
    EXPECT_EQ(msr_.Method(DISPID_NORVIKMSR_CLOSE), 0);
}

TEST_F(EndToEndTest, TrackModeReportsTheFailedTrackAndKeepsTheCleanOnes) {
    Ready("E2ELane1", VORLEX_PID_BASIC_SWIPE, 338);
    msr_.SetNumber(DISPID_NORVIKMSR_ERRORREPORTINGTYPE, 1);
    msr_.SetNumber(DISPID_NORVIKMSR_TRACKSTOREAD, 3);
    ASSERT_EQ(VorlexSimSwipeTracks(kCard1, ";4111", "", 0, 1, 1, 0), 0);
    const Event error = Wait(DISPID_NORVIKMSR_ERROREVENT);
    EXPECT_EQ(error.numbers, (std::vector<long>{114, 28416, 2, 12}));
    const Event data = Wait(DISPID_NORVIKMSR_DATAEVENT);  // track 1 read cleanly
    EXPECT_EQ(msr_.Text(DISPID_NORVIKMSR_SURNAME), "DOE");
    EXPECT_EQ(msr_.Method(DISPID_NORVIKMSR_CLOSE), 0);
}

// The handler re-arms data events from inside the event, as applications do.
void RearmInHandler(void* context, Event& event, DISPPARAMS*) {
    auto& msr = *static_cast<MsrControl*>(context);
    if (event.id != DISPID_NORVIKMSR_DATAEVENT) return;
    event.text = msr.Text(DISPID_NORVIKMSR_TRACK2DATA);
    msr.SetFlag(DISPID_NORVIKMSR_DATAEVENTENABLED, true);
}

TEST_F(EndToEndTest, HandlerThatReArmsReceivesEverySwipe) {
    Ready("E2ELane1", VORLEX_PID_BASIC_SWIPE, 338);
    msr_.Events().SetHandler(&RearmInHandler, &msr_);
    std::vector<std::string> expected;
    for (int i = 0; i < 20; ++i) {
        const std::string track2 = ";" + std::to_string(5000 + i) + "=3001?";
        expected.push_back(track2.substr(1, track2.size() - 2));
        ASSERT_EQ(VorlexSimSwipeTracks("", track2.c_str(), "", 0, 0, 0, 0), 0);
    }
    std::vector<std::string> seen;
    for (int i = 0; i < 20; ++i) seen.push_back(Wait(DISPID_NORVIKMSR_DATAEVENT).text);
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ(seen, expected);
    msr_.Events().SetHandler(nullptr, nullptr);
    EXPECT_EQ(msr_.Method(DISPID_NORVIKMSR_CLOSE), 0);
}

TEST_F(EndToEndTest, FrozenDataEventArrivesWhenThawed) {
    Ready("E2ELane1", VORLEX_PID_BASIC_SWIPE, 338);
    msr_.SetFlag(DISPID_NORVIKMSR_FREEZEEVENTS, true);
    ASSERT_EQ(VorlexSimSwipeTracks(kCard1, kCard2, "", 0, 0, 0, 0), 0);
    Event none{};
    EXPECT_FALSE(msr_.Events().WaitFor(DISPID_NORVIKMSR_DATAEVENT, none, 500));
    EXPECT_EQ(msr_.Number(DISPID_NORVIKMSR_DATACOUNT), 0);  // taken from the queue already
    msr_.SetFlag(DISPID_NORVIKMSR_FREEZEEVENTS, false);
    const Event data = Wait(DISPID_NORVIKMSR_DATAEVENT);
    ASSERT_EQ(data.numbers.size(), 1u);
    EXPECT_EQ(data.numbers[0], 45 + 34 * 256);
    EXPECT_EQ(msr_.Method(DISPID_NORVIKMSR_CLOSE), 0);
}

// Changes both by-reference arguments of a DirectIO event.
void RewriteDirectIO(void*, Event& event, DISPPARAMS* params) {
    if (event.id != DISPID_NORVIKMSR_DIRECTIOEVENT || params->cArgs != 3) return;
    *params->rgvarg[1].plVal = 4242;
    SysFreeString(*params->rgvarg[0].pbstrVal);
    *params->rgvarg[0].pbstrVal = SysAllocString(L"changed by the handler");
}

TEST_F(EndToEndTest, DirectIOHandlerChangesReachTheCaller) {
    Ready("E2ELane1", VORLEX_PID_BASIC_SWIPE, 338);
    const unsigned char reply[] = {0x00, 0x00, 0x02, 0xCA, 0xFE};
    VorlexSimSetFeatureReply(reply, sizeof reply);
    long data = 0;
    UniqueBstr text = Wide("02 01 03");
    EXPECT_EQ(msr_.DirectIO(12345, data, text), 0);
    EXPECT_EQ(Narrow(text.get()), "CAFE");
    EXPECT_EQ(data, 4);
    const Event event = Wait(DISPID_NORVIKMSR_DIRECTIOEVENT);
    EXPECT_EQ(event.numbers, (std::vector<long>{1, 4}));

    msr_.Events().SetHandler(&RewriteDirectIO, nullptr);
    text = Wide("02 01 03");
    EXPECT_EQ(msr_.DirectIO(0, data, text), 0);
    EXPECT_EQ(Narrow(text.get()), "changed by the handler");
    EXPECT_EQ(data, 4242);
    msr_.Events().SetHandler(nullptr, nullptr);
    EXPECT_EQ(msr_.Method(DISPID_NORVIKMSR_CLOSE), 0);
}

TEST_F(EndToEndTest, StatisticsOfAnEncryptingReader) {
    Ready("E2ELane2", VORLEX_PID_SECURE_SWIPE, 887);
    ASSERT_EQ(VorlexSimSwipeTracks(kCard1, kCard2, "", 0, 0, 0, 0), 0);
    Wait(DISPID_NORVIKMSR_DATAEVENT);
    EXPECT_EQ(msr_.Text(DISPID_NORVIKMSR_TRACK2DATA), "411111******1111=25121011234567890");
    EXPECT_FALSE(msr_.Text(DISPID_NORVIKMSR_TRACK1ENCRYPTEDDATA).empty());
    UniqueBstr statistics = Wide("");
    ASSERT_EQ(msr_.RetrieveStatistics(statistics), 0);
    const std::string document = Narrow(statistics.get());
    EXPECT_NE(document.find("<ModelName>Norvik MSR E2E</ModelName>"), std::string::npos);
    EXPECT_NE(document.find("<SerialNumber>NVK-SIM-00000042</SerialNumber>"), std::string::npos);
    size_t parameters = 0;
    for (size_t at = document.find("<Parameter>"); at != std::string::npos;
         at = document.find("<Parameter>", at + 1)) {
        ++parameters;
    }
    EXPECT_EQ(parameters, 15u);
    EXPECT_EQ(msr_.Method(DISPID_NORVIKMSR_CLOSE), 0);
}

TEST_F(EndToEndTest, TwoInstancesInOneProcessShareTheClaimTable) {
    Ready("E2ELane1", VORLEX_PID_BASIC_SWIPE, 338);
    MsrControl second;
    ASSERT_TRUE(second.Create());
    ASSERT_EQ(second.Open("Norvik_MSR-1"), 0);
    EXPECT_EQ(second.Method(DISPID_NORVIKMSR_CLAIMDEVICE, {MsrControl::Long(0)}), 102);
    EXPECT_EQ(second.Method(DISPID_NORVIKMSR_CLOSE), 0);
    EXPECT_EQ(msr_.Method(DISPID_NORVIKMSR_CLOSE), 0);
}

DWORD RunChild(const char* device) {
    const std::wstring folder = ModuleFolder();
    std::wstring command = L"\"" + folder + L"e2e_claim_child.exe\" " + std::wstring(device, device + strlen(device));
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
        return 1000;
    }
    WaitForSingleObject(process.hProcess, 30000);
    DWORD code = 1001;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return code;
}

TEST_F(EndToEndTest, ClaimHoldsAcrossProcesses) {
    Ready("E2ELane1", VORLEX_PID_BASIC_SWIPE, 338);
    EXPECT_EQ(RunChild("E2ELane1"), 102u);  // claimed here
    EXPECT_EQ(RunChild("Norvik_MSR-2"), 0u);  // another device is free
    ASSERT_EQ(msr_.Method(DISPID_NORVIKMSR_RELEASEDEVICE), 0);
    EXPECT_EQ(RunChild("Norvik_MSR-1"), 0u);  // released: a third process claims it
    EXPECT_EQ(msr_.Method(DISPID_NORVIKMSR_CLOSE), 0);
}

// Ends the process if the guarded steps hang, so a deadlock fails the test
// instead of the run.
class Watchdog {
public:
    explicit Watchdog(DWORD milliseconds)
        : done_(CreateEventW(nullptr, TRUE, FALSE, nullptr)), milliseconds_(milliseconds) {
        thread_ = CreateThread(nullptr, 0, &Watch, this, 0, nullptr);
    }
    ~Watchdog() {
        SetEvent(done_);
        WaitForSingleObject(thread_, INFINITE);
        CloseHandle(thread_);
        CloseHandle(done_);
    }

private:
    static DWORD WINAPI Watch(void* self) {
        auto* watchdog = static_cast<Watchdog*>(self);
        if (WaitForSingleObject(watchdog->done_, watchdog->milliseconds_) == WAIT_TIMEOUT) {
            std::fprintf(stderr, "deadlock: the guarded steps did not finish\n");
            ExitProcess(99);
        }
        return 0;
    }
    HANDLE done_;
    DWORD milliseconds_;
    HANDLE thread_ = nullptr;
};

TEST_F(EndToEndTest, DisablingWhileADataEventWaitsForThisThreadDoesNotDeadlock) {
    Ready("E2ELane1", VORLEX_PID_BASIC_SWIPE, 338);
    Watchdog watchdog(20000);
    ASSERT_EQ(VorlexSimSwipeTracks(kCard1, kCard2, "", 0, 0, 0, 0), 0);
    // Not pumping: the service object's event thread now waits in SOData for this thread.
    Sleep(300);
    msr_.SetFlag(DISPID_NORVIKMSR_DEVICEENABLED, false);
    EXPECT_EQ(msr_.Number(DISPID_NORVIKMSR_DEVICEENABLED), 0);
    Event data{};
    msr_.Events().WaitFor(DISPID_NORVIKMSR_DATAEVENT, data, 1000);  // delivered late, or not at all
    EXPECT_EQ(msr_.Method(DISPID_NORVIKMSR_CLOSE), 0);
}

TEST_F(EndToEndTest, ClosingWhileADataEventWaitsForThisThreadDoesNotDeadlock) {
    Ready("E2ELane1", VORLEX_PID_BASIC_SWIPE, 338);
    Watchdog watchdog(20000);
    ASSERT_EQ(VorlexSimSwipeTracks(kCard1, kCard2, "", 0, 0, 0, 0), 0);
    Sleep(300);
    EXPECT_EQ(msr_.Method(DISPID_NORVIKMSR_CLOSE), 0);
}

}  // namespace

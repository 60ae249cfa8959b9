// The flat C interface with its simulated bus, as a client sees it. In the
// Windows build this runs against Vorlex.dll and its real Win32 transport.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "CallbackLog.h"
#include "Vorlex.h"
#include "VorlexSimulator.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

using vorlex::testing::CallbackEvent;
using vorlex::testing::CallbackLog;

class VorlexInterfaceTest : public ::testing::Test {
protected:
    void SetUp() override {
        VorlexCloseDevice();
        VorlexSimReset();
        VorlexSimEnable(1);
        CallbackLog::Instance().Reset();
        VorlexCardDataStateChangedNotify(&CallbackLog::CardDataCallback);
        VorlexDeviceStateChangedNotify(&CallbackLog::DeviceStateCallback);
    }
    void TearDown() override {
        VorlexCloseDevice();
        VorlexSimReset();
        VorlexSimEnable(0);
        VorlexCardDataStateChangedNotify(nullptr);
        VorlexDeviceStateChangedNotify(nullptr);
    }
    static CallbackLog& Log() { return CallbackLog::Instance(); }
};

// Needs a process in which no reader was ever opened: the suite runs in a
// process of its own.
TEST(VorlexFreshProcessTest, RecordBeforeAnyReaderIsEmpty) {
    VorlexCardData record;
    std::memset(&record, 0x7F, sizeof record);
    EXPECT_EQ(VorlexGetCardData(&record), 0);
    EXPECT_STREQ(record.AllTracks, "");
    EXPECT_STREQ(record.Track1Text, "");
    EXPECT_STREQ(record.ParsedExpirationYear, "");
    EXPECT_EQ(record.ProductID, 0);
    EXPECT_EQ(record.DecodeFailed, 0);
    EXPECT_EQ(record.Track3DecodeStatus, 0);
}

TEST_F(VorlexInterfaceTest, SimulatorIsOffUntilEnabled) {
    VorlexSimEnable(0);
    VorlexSimAttach(VORLEX_VENDOR_ID, VORLEX_PID_BASIC_SWIPE, 338, 64);
    // The system's bus has no reader here.
    EXPECT_EQ(VorlexOpenDevice(""), 1);
    int32_t value = -1;
    EXPECT_EQ(VorlexGetDeviceState(&value), 0);
    EXPECT_EQ(value, 0);
    EXPECT_EQ(VorlexGetPID(&value), 0);
    char reply[16] = "untouched";
    EXPECT_EQ(VorlexSendCommand("01", 0, reply, sizeof reply), 1);
    EXPECT_STREQ(reply, "untouched");
    VorlexSimEnable(1);
    EXPECT_EQ(VorlexOpenDevice(""), 0);
}

TEST_F(VorlexInterfaceTest, BasicThenSecureReaderDecodeABankCard) {
    const char* track1 = "%B4111111111111111^DOE/JOHN Q^2512101123456789?";
    const char* track2 = ";4111111111111111=25121011234567890?";

    VorlexSimAttach(VORLEX_VENDOR_ID, VORLEX_PID_BASIC_SWIPE, 338, 64);
    ASSERT_EQ(VorlexOpenDevice(""), 0);
    int32_t pid = 0;
    EXPECT_EQ(VorlexGetPID(&pid), VORLEX_PID_BASIC_SWIPE);
    EXPECT_EQ(pid, VORLEX_PID_BASIC_SWIPE);
    ASSERT_EQ(VorlexSimSwipeTracks(track1, track2, "", 0, 0, 0, 0), 0);
    ASSERT_TRUE(Log().WaitFor(CallbackEvent::CardData, 1));
    VorlexCardData record{};
    VorlexGetCardData(&record);
    EXPECT_STREQ(record.Track1Text, track1);
    EXPECT_STREQ(record.Track2Text, track2);
    EXPECT_STREQ(record.ParsedLastName, "DOE");
    EXPECT_STREQ(record.ParsedFirstName, "JOHN Q");
    EXPECT_STREQ(record.ParsedAccountNumber, "4111111111111111");
    EXPECT_EQ(record.ProductID, VORLEX_PID_BASIC_SWIPE);
    int32_t state = 0;
    EXPECT_EQ(VorlexGetCardDataState(&state), 1);
    VorlexClearBuffer();
    EXPECT_EQ(VorlexGetCardDataState(&state), 0);
    EXPECT_EQ(VorlexCloseDevice(), 0);

    VorlexSimReset();
    VorlexSimAttach(VORLEX_VENDOR_ID, VORLEX_PID_SECURE_SWIPE, 887, 64);
    ASSERT_EQ(VorlexOpenDevice(""), 0);
    ASSERT_EQ(VorlexSimSwipeTracks(track1, track2, "", 0, 0, 0, 0), 0);
    ASSERT_TRUE(Log().WaitFor(CallbackEvent::CardData, 1, 2));
    VorlexGetCardData(&record);
    EXPECT_STREQ(record.MaskedTrack1Text, "%B411111******1111^DOE/JOHN Q^2512101123456789?");
    EXPECT_STREQ(record.ParsedAccountNumber, "411111******1111");
    EXPECT_EQ(std::strlen(record.Track1Text), 2u * record.Track1Length);
    EXPECT_STREQ(record.SerialNumberText, "NVK-SIM-00000042");
    EXPECT_EQ(std::strlen(record.AuxBlock10Hex), 20u);

    std::vector<char> text(VORLEX_CARD_DATA_TEXT_SIZE, 0);
    ASSERT_EQ(VorlexGetCardDataStr(text.data(), "|"), 0);
    EXPECT_EQ(std::string(text.data()).substr(0, 21), "101|NVK-SIM-00000042|");
}

TEST_F(VorlexInterfaceTest, PointerChecksAndClosedLibrary) {
    std::vector<char> text(VORLEX_CARD_DATA_TEXT_SIZE, '#');
    EXPECT_EQ(VorlexGetCardDataStr(text.data(), nullptr), 3);
    EXPECT_EQ(VorlexGetCardDataStr(nullptr, "|"), 3);
    EXPECT_EQ(VorlexGetCardDataStr(text.data(), "|"), 1);  // no reader open
    EXPECT_EQ(text[0], '#');
    EXPECT_EQ(VorlexGetCardData(nullptr), 3);
    EXPECT_EQ(VorlexCloseDevice(), 0);
    EXPECT_TRUE(Log().Events().empty());
}

TEST_F(VorlexInterfaceTest, SimulatorRefusesWhatItCannotDo) {
    const unsigned char report[4] = {};
    EXPECT_NE(VorlexSimSwipe(report, sizeof report), 0);  // no reader open
    EXPECT_NE(VorlexSimSwipeTracks("", "", "", 0, 0, 0, 0), 0);
    EXPECT_NE(VorlexSimDetach(), 0);
    EXPECT_NE(VorlexSimFailNext(0), 0);
    EXPECT_NE(VorlexSimFailNext(8), 0);
    EXPECT_NE(VorlexSimSwipe(nullptr, 5), 0);
    EXPECT_NE(VorlexSimSetFeatureReply(nullptr, 3), 0);
}

TEST_F(VorlexInterfaceTest, CommandsAndUnplugThroughTheSimulator) {
    VorlexSimAttach(VORLEX_VENDOR_ID, VORLEX_PID_BASIC_SWIPE, 338, 32);
    ASSERT_EQ(VorlexOpenDevice(""), 0);
    const unsigned char answer[] = {0x00, 0x00, 0x02, 0xCA, 0xFE};
    ASSERT_EQ(VorlexSimSetFeatureReply(answer, sizeof answer), 0);
    char reply[260] = {};
    ASSERT_EQ(VorlexSendCommand("4", 1, reply, sizeof reply), 0);  // one character, mode 1
    EXPECT_STREQ(reply, "CAFE");
    unsigned char request[64];
    ASSERT_EQ(VorlexSimGetLastFeatureRequest(request, sizeof request), 32);
    EXPECT_EQ(request[1], 0x04);
    EXPECT_EQ(request[2], 0x00);

    ASSERT_EQ(VorlexSimDetach(), 0);
    ASSERT_TRUE(Log().WaitFor(CallbackEvent::DeviceState, 0));
    EXPECT_EQ(Log().States(CallbackEvent::DeviceState), (std::vector<int32_t>{1, 2, 0}));
    int32_t state = -1;
    EXPECT_EQ(VorlexGetDeviceState(&state), 0);
    EXPECT_EQ(VorlexOpenDevice(""), 1);
}

#ifdef _WIN32
TEST(VorlexModuleTest, ExportsEveryFunctionUndecorated) {
    HMODULE module = GetModuleHandleA("Vorlex.dll");
    ASSERT_NE(module, nullptr);
    for (const char* name :
         {"VorlexOpenDevice", "VorlexCloseDevice", "VorlexClearBuffer",
          "VorlexCardDataStateChangedNotify", "VorlexDeviceStateChangedNotify",
          "VorlexGetDeviceState", "VorlexGetCardDataState", "VorlexGetPID", "VorlexGetCardData",
          "VorlexGetCardDataStr", "VorlexSendCommand", "VorlexSimEnable", "VorlexSimReset",
          "VorlexSimAttach", "VorlexSimDetach", "VorlexSimSwipe", "VorlexSimSwipeTracks",
          "VorlexSimSetFeatureReply", "VorlexSimGetLastFeatureRequest", "VorlexSimFailNext"}) {
        EXPECT_NE(GetProcAddress(module, name), nullptr) << name;
    }
    EXPECT_EQ(GetProcAddress(module, "_VorlexOpenDevice@4"), nullptr);
}
#endif

}  // namespace

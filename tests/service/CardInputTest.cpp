// From a swipe on the simulated reader to the error verdict, the data queue
// and the data properties.
#include "support/ServiceFixture.h"

namespace norvik::test {
namespace {

constexpr int kFailed = 1;
constexpr char kTrack1Data[] = "B4111111111111111^DOE/JOHN Q^2512101123456789";
constexpr char kTrack2Data[] = "4111111111111111=25121011234567890";
constexpr int32_t kBankCardStatus = 45 + 34 * 256;

class CardInputTest : public ServiceTest {
protected:
    // Runs `action` inside the handler of every event named `method`.
    void OnEvent(const std::string& method, std::function<void(const EventArgument*)> action) {
        events->SetHandler([method, action](const std::string& name, const EventArgument* arguments, int) {
            if (name == method) action(arguments);
        });
    }
    std::vector<std::string> Methods() const {
        std::vector<std::string> methods;
        for (const RecordedEvent& event : events->Events()) methods.push_back(event.method);
        return methods;
    }
};

TEST_F(CardInputTest, CleanSwipeBecomesADataEventWithTheTrackLengthsAsStatus) {
    ServiceObjectCore& so = Enabled(kDevice1);
    std::string trackInHandler;
    int32_t enabledInHandler = -1;
    OnEvent("SOData", [&](const EventArgument*) {
        trackInHandler = Text(so, PIDXMsr_Track2Data);
        enabledInHandler = Get(so, PIDX_DataEventEnabled);
    });
    ASSERT_TRUE(Swipe(kTrack1, kTrack2));
    ASSERT_TRUE(events->WaitForCount(1));
    const RecordedEvent event = events->Events().at(0);
    EXPECT_EQ(event.method, "SOData");
    EXPECT_EQ(event.values, (std::vector<int32_t>{kBankCardStatus}));
    EXPECT_NE(event.thread, std::this_thread::get_id());
    EXPECT_EQ(trackInHandler, kTrack2Data);
    EXPECT_EQ(enabledInHandler, 0);

    EXPECT_EQ(Get(so, PIDX_DataCount), 0);
    EXPECT_EQ(Text(so, PIDXMsr_Track1Data), kTrack1Data);
    EXPECT_EQ(Text(so, PIDXMsr_Track3Data), "");
    EXPECT_EQ(Text(so, PIDXMsr_AccountNumber), "4111111111111111");
    EXPECT_EQ(Text(so, PIDXMsr_ExpirationDate), "2512");
    EXPECT_EQ(Text(so, PIDXMsr_ServiceCode), "101");
    EXPECT_EQ(Text(so, PIDXMsr_Surname), "DOE");
    EXPECT_EQ(Text(so, PIDXMsr_FirstName), "JOHN");
    EXPECT_EQ(Text(so, PIDXMsr_MiddleInitial), "Q");
    EXPECT_EQ(Text(so, PIDXMsr_Track1DiscretionaryData), "123456789");
    EXPECT_EQ(Text(so, PIDXMsr_Track2DiscretionaryData), "1234567890");
    EXPECT_EQ(Text(so, PIDXMsr_CardType), "BANK");

    std::string value = "untouched";
    int32_t rc = -1;
    EXPECT_TRUE(so.RetrieveCardProperty("AccountNumber", value, &rc));
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(value, "4111111111111111");
    value = "untouched";
    EXPECT_FALSE(so.RetrieveCardProperty("accountnumber", value, &rc));
    EXPECT_EQ(rc, OPOS_E_ILLEGAL);
    EXPECT_EQ(value, "untouched");
}

TEST_F(CardInputTest, EncryptingReaderFillsMaskedEncryptedAndAuthenticationTexts) {
    ServiceObjectCore& so = Enabled(kDevice2);
    ASSERT_TRUE(Swipe(kTrack1, kTrack2));
    ASSERT_TRUE(events->WaitForCount(1));
    const std::string track2 = Text(so, PIDXMsr_Track2Data);
    EXPECT_EQ(track2, "411111******1111=25121011234567890");
    EXPECT_EQ(events->Events().at(0).values.at(0), 45 + static_cast<int32_t>(track2.size()) * 256);
    EXPECT_EQ(Text(so, PIDXMsr_AccountNumber), "411111******1111");
    const std::string encrypted = Text(so, PIDXMsr_Track1EncryptedData);
    EXPECT_FALSE(encrypted.empty());
    EXPECT_EQ(encrypted.find_first_not_of("0123456789ABCDEF"), std::string::npos);
    EXPECT_EQ(Get(so, PIDXMsr_Track1EncryptedDataLength), static_cast<int32_t>(encrypted.size()));
    EXPECT_EQ(Text(so, PIDXMsr_CapCardAuthentication), "FLUXSCRIBE \x96 VER 01");
    EXPECT_EQ(Get(so, PIDXMsr_CardAuthenticationDataLength),
              static_cast<int32_t>(Text(so, PIDXMsr_CardAuthenticationData).size()));
    EXPECT_EQ(Text(so, PIDXMsr_AdditionalSecurityInformation).size(), 20u);
}

TEST_F(CardInputTest, CardModeReportsAnyFailedTrackFirstThenClearsPropertiesAndQueue) {
    ServiceObjectCore& so = Enabled(kDevice1);
    ASSERT_TRUE(Swipe(kTrack1, kTrack2));
    ASSERT_TRUE(events->WaitForCount(1));  // delivered: the properties hold this swipe
    ASSERT_TRUE(Swipe(kTrack1, NumberedTrack2(1).c_str()));
    ASSERT_TRUE(WaitUntil([&] { return Get(so, PIDX_DataCount) == 1; }));  // queued: events are disarmed
    ASSERT_EQ(Set(so, PIDXMsr_TracksToRead, MSR_TR_1), 0);  // track 3 is not read, yet it counts here

    std::string track1InHandler;
    int32_t countInHandler = -1;
    OnEvent("SOError", [&](const EventArgument* arguments) {
        track1InHandler = Text(so, PIDXMsr_Track1Data);
        countInHandler = Get(so, PIDX_DataCount);
        *arguments[3].longRef = 11;  // the answer is not looked at
    });
    ASSERT_TRUE(Swipe(kTrack1, kTrack2, "", 0, 0, kFailed));
    ASSERT_TRUE(events->WaitForCount(2));

    const RecordedEvent error = events->Events().at(1);
    EXPECT_EQ(error.method, "SOError");
    EXPECT_EQ(error.values, (std::vector<int32_t>{OPOS_E_FAILURE, 0, OPOS_EL_INPUT}));
    EXPECT_EQ(error.longRef, OPOS_ER_CLEAR);
    EXPECT_EQ(track1InHandler, kTrack1Data);  // the previous swipe's, still
    EXPECT_EQ(countInHandler, 1);             // the queue, still
    // Cleared after the handler returned; the failed swipe is not queued either.
    EXPECT_TRUE(WaitUntil([&] { return Text(so, PIDXMsr_AccountNumber).empty() && Get(so, PIDX_DataCount) == 0; }));
    EXPECT_EQ(Text(so, PIDXMsr_Track1Data), "");
    Set(so, PIDX_DataEventEnabled, 1);
    EXPECT_EQ(events->Count(), 2u);
}

TEST_F(CardInputTest, TrackModeClearsFirstThenReportsEachSelectedTrack) {
    ServiceObjectCore& so = Enabled(kDevice1, false);
    ASSERT_EQ(Set(so, PIDXMsr_ErrorReportingType, MSR_ERT_TRACK), 0);
    ASSERT_EQ(Set(so, PIDXMsr_TracksToRead, 3), 0);
    for (int i = 0; i < 2; ++i) ASSERT_TRUE(Swipe(kTrack1, NumberedTrack2(i).c_str()));
    ASSERT_TRUE(WaitUntil([&] { return Get(so, PIDX_DataCount) == 2; }));
    Set(so, PIDX_DataEventEnabled, 1);  // delivers one, so that the properties are filled
    ASSERT_TRUE(events->WaitForCount(1));
    ASSERT_EQ(Get(so, PIDX_DataCount), 1);

    std::string trackInHandler = "unset";
    int32_t countInHandler = -1;
    OnEvent("SOError", [&](const EventArgument*) {
        trackInHandler = Text(so, PIDXMsr_Track1Data);
        countInHandler = Get(so, PIDX_DataCount);
        Set(so, PIDX_DataEventEnabled, 1);  // nothing queued to deliver now
    });
    // Track 2 failed, track 1 clean, track 3 failed but not selected: queued after the error.
    ASSERT_TRUE(Swipe(kTrack1, "", "", 0, kFailed, kFailed));
    ASSERT_TRUE(events->WaitForCount(3));
    const auto all = events->Events();
    EXPECT_EQ(all[1].method, "SOError");
    EXPECT_EQ(all[1].values, (std::vector<int32_t>{OPOS_E_EXTENDED, 28416, OPOS_EL_INPUT}));
    EXPECT_EQ(all[1].longRef, OPOS_ER_CLEAR);
    EXPECT_EQ(trackInHandler, "");
    EXPECT_EQ(countInHandler, 0);
    EXPECT_EQ(all[2].method, "SOData");
    EXPECT_EQ(all[2].values, (std::vector<int32_t>{45}));
    EXPECT_EQ(Get(so, PIDX_DataCount), 0);

    // Every selected track failed: the swipe is dropped.
    ASSERT_EQ(Set(so, PIDXMsr_TracksToRead, MSR_TR_2), 0);
    ASSERT_TRUE(Swipe(kTrack1, "", "", 0, kFailed, 0));
    ASSERT_TRUE(events->WaitForCount(4));
    ASSERT_EQ(Set(so, PIDXMsr_TracksToRead, 7), 0);
    ASSERT_TRUE(Swipe("", "", "", kFailed, kFailed, kFailed));
    ASSERT_TRUE(events->WaitForCount(5));
    const auto later = events->Events();
    EXPECT_EQ(later[3].values, (std::vector<int32_t>{OPOS_E_EXTENDED, 28416, OPOS_EL_INPUT}));
    EXPECT_EQ(later[4].values, (std::vector<int32_t>{OPOS_E_EXTENDED, 7303023, OPOS_EL_INPUT}));
    EXPECT_EQ(later[4].method, "SOError");
    EXPECT_EQ(Get(so, PIDX_DataCount), 0);
    EXPECT_EQ(Get(so, PIDX_DataEventEnabled), 1);  // still armed: no data event followed
}

TEST_F(CardInputTest, TrackModeWithoutSelectedTracksQueuesEverySwipe) {
    ServiceObjectCore& so = Enabled(kDevice1, false);
    ASSERT_EQ(Set(so, PIDXMsr_ErrorReportingType, MSR_ERT_TRACK), 0);
    ASSERT_EQ(Set(so, PIDXMsr_TracksToRead, 0), 0);
    ASSERT_TRUE(Swipe(kTrack1, kTrack2, "", kFailed, kFailed, kFailed));
    ASSERT_TRUE(WaitUntil([&] { return Get(so, PIDX_DataCount) == 1; }));
    ASSERT_EQ(Set(so, PIDXMsr_TracksToRead, MSR_TR_4), 0);
    ASSERT_TRUE(Swipe(kTrack1, kTrack2, "", kFailed, kFailed, kFailed));
    ASSERT_TRUE(WaitUntil([&] { return Get(so, PIDX_DataCount) == 2; }));
    Set(so, PIDX_DataEventEnabled, 1);
    ASSERT_TRUE(events->WaitForCount(1));
    EXPECT_EQ(events->Events().at(0).method, "SOData");
    EXPECT_EQ(events->Events().at(0).values, (std::vector<int32_t>{0}));  // no track is read
    EXPECT_EQ(Get(so, PIDX_DataCount), 1);
}

TEST_F(CardInputTest, QueueHoldsTwentyFiveSwipesAndDropsLaterOnes) {
    ServiceObjectCore& so = Enabled(kDevice1, false);
    for (int i = 1; i <= 26; ++i) ASSERT_TRUE(Swipe(kTrack1, NumberedTrack2(i).c_str()));
    ASSERT_TRUE(WaitUntil([&] { return Get(so, PIDX_DataCount) == 25; }));
    EXPECT_EQ(events->Count(), 0u);

    // A failed swipe behind them shows, in its handler, what the queue held:
    // the newest held record is the 25th swipe.
    std::string newest;
    int32_t countInHandler = -1;
    events->SetHandler([&](const std::string& method, const EventArgument*, int) {
        if (method == "SOError") {
            countInHandler = Get(so, PIDX_DataCount);
            Set(so, PIDX_DataEventEnabled, 1);
        } else {
            newest = Text(so, PIDXMsr_Track2Data);
        }
    });
    ASSERT_TRUE(Swipe(kTrack1, kTrack2, "", kFailed));
    ASSERT_TRUE(events->WaitForCount(2));
    EXPECT_EQ(countInHandler, 25);
    EXPECT_EQ(newest, NumberedTrack2(25).substr(1, NumberedTrack2(25).size() - 2));
    EXPECT_TRUE(WaitUntil([&] { return Get(so, PIDX_DataCount) == 0; }));  // cleared after the handler
}

TEST_F(CardInputTest, ClearInputEmptiesTheQueueOnlyWhileClaimed) {
    ServiceObjectCore& so = Enabled(kDevice1, false);
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(Swipe(kTrack1, NumberedTrack2(i).c_str()));
    ASSERT_TRUE(WaitUntil([&] { return Get(so, PIDX_DataCount) == 3; }));
    Get(so, PIDX_OutputID);  // ResultCode 106, ResultCodeExtended -1
    int32_t rc = -1;
    so.ClearInput(&rc);
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(Get(so, PIDX_ResultCode), OPOS_E_ILLEGAL);
    EXPECT_EQ(Get(so, PIDX_ResultCodeExtended), -1);
    EXPECT_EQ(Get(so, PIDX_DataCount), 0);

    ASSERT_TRUE(Swipe(kTrack1, kTrack2));
    ASSERT_TRUE(WaitUntil([&] { return Get(so, PIDX_DataCount) == 1; }));
    so.ReleaseDevice(&rc);
    for (auto clear : {&ServiceObjectCore::ClearInput, &ServiceObjectCore::ClearInputProperties}) {
        rc = -1;
        (so.*clear)(&rc);
        EXPECT_EQ(rc, OPOS_E_ILLEGAL);
        EXPECT_EQ(Get(so, PIDX_ResultCodeExtended), 0);
    }
    EXPECT_EQ(Get(so, PIDX_DataCount), 1);
    std::string value = "untouched";
    EXPECT_FALSE(so.RetrieveCardProperty("AccountNumber", value, &rc));
    EXPECT_EQ(rc, OPOS_E_ILLEGAL);
    EXPECT_EQ(value, "untouched");
}

TEST_F(CardInputTest, SentinelsComeBackFromTheLastSwipeAfterClearingProperties) {
    ServiceObjectCore& so = Enabled(kDevice1);
    ASSERT_TRUE(Swipe(kTrack1, kTrack2, ";1?"));
    ASSERT_TRUE(events->WaitForCount(1));
    EXPECT_EQ(Text(so, PIDXMsr_Track3Data), ";1?");  // too short to lose its sentinels
    int32_t rc = -1;
    so.ClearInputProperties(&rc);
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(Text(so, PIDXMsr_Track1Data), "");
    EXPECT_EQ(Text(so, PIDXMsr_Track3Data), "");
    EXPECT_EQ(Text(so, PIDXMsr_CardType), "BANK");

    EXPECT_EQ(Set(so, PIDXMsr_TransmitSentinels, 1), 0);
    EXPECT_EQ(Text(so, PIDXMsr_Track1Data), kTrack1);
    EXPECT_EQ(Text(so, PIDXMsr_Track2Data), kTrack2);
    EXPECT_EQ(Text(so, PIDXMsr_Track3Data), ";1?");
    EXPECT_EQ(Text(so, PIDXMsr_AccountNumber), "");
    EXPECT_EQ(Set(so, PIDXMsr_TransmitSentinels, 0), 0);
    EXPECT_EQ(Text(so, PIDXMsr_Track2Data), kTrack2Data);
    EXPECT_EQ(Text(so, PIDXMsr_Track3Data), ";1?");
}

}  // namespace
}  // namespace norvik::test

// Delivery of queued swipes (newest first), frozen events, AutoDisable and
// the absence of a control object.
#include "support/ServiceFixture.h"

namespace norvik::test {
namespace {

constexpr char kTrack2Data[] = "4111111111111111=25121011234567890";
constexpr int32_t kBankCardStatus = 8749;  // 45 characters on track 1, 34 on track 2

class EventDeliveryTest : public ServiceTest {
protected:
    static std::string Stripped(const std::string& track) { return track.substr(1, track.size() - 2); }
    // DirectIO with an empty command: on a claimed, disabled device it fails and raises an event.
    static void FailingDirectIO(ServiceObjectCore& so) {
        int32_t data = 0, rc = 0;
        std::string text;
        so.DirectIO(0, &data, text, &rc);
    }
    std::vector<int32_t> DirectIONumbers() const {
        std::vector<int32_t> numbers;
        for (const RecordedEvent& event : events->Events("SODirectIO")) numbers.push_back(event.values.at(0));
        return numbers;
    }
};

TEST_F(EventDeliveryTest, NewestSwipeGoesFirstAndTheNextOnlyWhenTheHandlerRearms) {
    ServiceObjectCore& so = Enabled(kDevice1, false);
    for (int i = 1; i <= 3; ++i) ASSERT_TRUE(Swipe(kTrack1, NumberedTrack2(i).c_str()));
    ASSERT_TRUE(WaitUntil([&] { return Get(so, PIDX_DataCount) == 3; }));

    struct Seen {
        std::string track2;
        int32_t dataCount;
    };
    std::vector<Seen> seen;
    bool rearm = false;
    events->SetHandler([&](const std::string&, const EventArgument*, int) {
        seen.push_back({Text(so, PIDXMsr_Track2Data), Get(so, PIDX_DataCount)});
        if (rearm) Set(so, PIDX_DataEventEnabled, 1);
    });
    Set(so, PIDX_DataEventEnabled, 1);
    ASSERT_EQ(seen.size(), 1u);  // delivered inside the call
    EXPECT_EQ(seen[0].track2, Stripped(NumberedTrack2(3)));
    EXPECT_EQ(seen[0].dataCount, 2);
    EXPECT_EQ(Get(so, PIDX_DataEventEnabled), 0);
    EXPECT_EQ(Get(so, PIDX_DataCount), 2);

    rearm = true;
    Set(so, PIDX_DataEventEnabled, 1);
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[1].track2, Stripped(NumberedTrack2(2)));
    EXPECT_EQ(seen[1].dataCount, 1);
    EXPECT_EQ(seen[2].track2, Stripped(NumberedTrack2(1)));
    EXPECT_EQ(seen[2].dataCount, 0);
    EXPECT_EQ(Get(so, PIDX_DataEventEnabled), 1);
    for (const RecordedEvent& event : events->Events()) EXPECT_EQ(event.thread, std::this_thread::get_id());

    // Armed again: the next swipe goes out at once, from the service object's own thread.
    ASSERT_TRUE(Swipe(kTrack1, NumberedTrack2(4).c_str()));
    ASSERT_TRUE(events->WaitForCount(4));
    EXPECT_EQ(seen.at(3).track2, Stripped(NumberedTrack2(4)));
    EXPECT_NE(events->Events().at(3).thread, std::this_thread::get_id());
}

TEST_F(EventDeliveryTest, FrozenDataEventKeepsTheStatusOfItsSwipe) {
    ServiceObjectCore& other = NewInstance();
    ASSERT_EQ(Open(other, kDevice2), 0);
    ServiceObjectCore& so = Enabled(kDevice1);  // constructed last: the current instance
    EXPECT_EQ(Set(so, PIDX_FreezeEvents, 1), 0);
    EXPECT_EQ(Get(other, PIDX_FreezeEvents), 1);  // one flag per process

    ASSERT_TRUE(Swipe(kTrack1, kTrack2));
    ASSERT_TRUE(WaitUntil([&] { return Get(so, PIDX_DataEventEnabled) == 0; }));
    EXPECT_EQ(Text(so, PIDXMsr_Track2Data), kTrack2Data);
    EXPECT_EQ(Get(so, PIDX_DataCount), 0);
    EXPECT_EQ(events->Count(), 0u);

    ASSERT_EQ(Set(so, PIDXMsr_TransmitSentinels, 1), 0);  // the lengths change now...
    EXPECT_EQ(Text(so, PIDXMsr_Track2Data), kTrack2);
    EXPECT_EQ(Set(other, PIDX_FreezeEvents, 0), 0);
    ASSERT_EQ(events->Count(), 1u);
    const RecordedEvent event = events->Events().at(0);
    EXPECT_EQ(event.method, "SOData");
    EXPECT_EQ(event.values, (std::vector<int32_t>{kBankCardStatus}));  // ...the event's Status does not
    EXPECT_EQ(event.thread, std::this_thread::get_id());
}

TEST_F(EventDeliveryTest, FullFrozenQueueKeepsTheFirstFortyNineAndTheNewest) {
    ServiceObjectCore& so = Claimed(kDevice1);
    Set(so, PIDX_FreezeEvents, 1);
    for (int i = 0; i < 52; ++i) FailingDirectIO(so);
    EXPECT_EQ(events->Count(), 0u);
    Set(so, PIDX_FreezeEvents, 0);
    std::vector<int32_t> expected;
    for (int32_t n = 1; n <= 49; ++n) expected.push_back(n);
    expected.push_back(52);
    EXPECT_EQ(DirectIONumbers(), expected);
    for (const RecordedEvent& event : events->Events()) {
        EXPECT_EQ(event.longRef, 1);
        EXPECT_EQ(event.stringRef, "");
    }
    Set(so, PIDX_FreezeEvents, 1);
    Set(so, PIDX_FreezeEvents, 0);
    EXPECT_EQ(events->Count(), 50u);  // delivered entries are gone

    // Opening again empties the frozen queue.
    Set(so, PIDX_FreezeEvents, 1);
    FailingDirectIO(so);
    int32_t rc = -1;
    so.CloseService(&rc);
    ASSERT_EQ(Open(so, kDevice1), 0);
    Set(so, PIDX_FreezeEvents, 0);
    EXPECT_EQ(events->Count(), 50u);
}

TEST_F(EventDeliveryTest, HandlerThatFreezesAgainStopsTheThawWithTheRestStillFirst) {
    ServiceObjectCore& so = Claimed(kDevice1);
    Set(so, PIDX_FreezeEvents, 1);
    for (int i = 0; i < 5; ++i) FailingDirectIO(so);
    events->SetHandler([&](const std::string&, const EventArgument* arguments, int) {
        if (arguments[0].value == 2) Set(so, PIDX_FreezeEvents, 1);
    });
    Set(so, PIDX_FreezeEvents, 0);
    EXPECT_EQ(DirectIONumbers(), (std::vector<int32_t>{1, 2}));
    EXPECT_EQ(Get(so, PIDX_FreezeEvents), 1);
    FailingDirectIO(so);
    events->SetHandler(nullptr);
    Set(so, PIDX_FreezeEvents, 0);
    EXPECT_EQ(DirectIONumbers(), (std::vector<int32_t>{1, 2, 3, 4, 5, 6}));
}

TEST_F(EventDeliveryTest, FrozenErrorAndDirectIOComeOutInOrderWithAllTheirArguments) {
    ServiceObjectCore& so = Enabled(kDevice1);
    ASSERT_TRUE(Swipe(kTrack1, kTrack2));
    ASSERT_TRUE(events->WaitForCount(1));
    Set(so, PIDX_FreezeEvents, 1);
    ASSERT_TRUE(Swipe(kTrack1, kTrack2, "", 1));
    // The error verdict clears the properties after raising (here: freezing) its event.
    ASSERT_TRUE(WaitUntil([&] { return Text(so, PIDXMsr_Track2Data).empty(); }));

    const unsigned char reply[] = {0x00, 0x00, 0x02, 0xCA, 0xFE};
    VorlexSimSetFeatureReply(reply, sizeof reply);
    int32_t data = -1, rc = -1;
    std::string text = "04";
    ASSERT_TRUE(so.DirectIO(7, &data, text, &rc));
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(text, "CAFE");
    EXPECT_EQ(data, 4);
    EXPECT_EQ(events->Count(), 1u);

    Set(so, PIDX_FreezeEvents, 0);
    const auto all = events->Events();
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[1].method, "SOError");
    EXPECT_EQ(all[1].values, (std::vector<int32_t>{OPOS_E_FAILURE, 0, OPOS_EL_INPUT}));
    EXPECT_EQ(all[1].longRef, OPOS_ER_CLEAR);
    EXPECT_EQ(all[2].method, "SODirectIO");
    EXPECT_EQ(all[2].values, (std::vector<int32_t>{1}));
    EXPECT_EQ(all[2].longRef, 4);
    EXPECT_EQ(all[2].stringRef, "CAFE");
}

TEST_F(EventDeliveryTest, AutoDisableTurnsTheDeviceOffAfterTheDataEvent) {
    ServiceObjectCore& so = Enabled(kDevice1);
    ASSERT_EQ(Set(so, PIDX_AutoDisable, 1), 0);
    ASSERT_TRUE(Swipe(kTrack1, kTrack2));
    ASSERT_TRUE(events->WaitForCount(1));
    ASSERT_TRUE(WaitUntil([&] { return clock.Sleeps().size() == 2; }));  // the disable step ends with its pause
    EXPECT_EQ(clock.Sleeps(), (std::vector<uint32_t>{500, 250}));
    EXPECT_EQ(Get(so, PIDX_DeviceEnabled), 0);
    EXPECT_FALSE(Swipe(kTrack1, kTrack2));  // the reader is closed
    EXPECT_EQ(Get(so, PIDX_DataCount), 0);
    EXPECT_EQ(events->Count(), 1u);
    EXPECT_EQ(Set(so, PIDX_DeviceEnabled, 1), 0);  // and can be enabled again
    Set(so, PIDX_DataEventEnabled, 1);
    ASSERT_TRUE(Swipe(kTrack1, kTrack2));
    ASSERT_TRUE(events->WaitForCount(2));
}

TEST_F(EventDeliveryTest, WithoutAControlObjectEventsAreDroppedSilently) {
    auto first = std::make_shared<EventRecorder>();
    AttachBasic();
    ServiceObjectCore& so = NewInstance();
    ASSERT_EQ(Open(so, kDevice1, first), 0);
    int32_t rc = -1;
    so.OpenService("MSR", kDevice1, nullptr, &rc);  // a later open replaces the control object
    ASSERT_EQ(rc, 0);
    EXPECT_TRUE(first->Released());
    so.ClaimDevice(0, &rc);
    ASSERT_EQ(Set(so, PIDX_DeviceEnabled, 1), 0);
    Set(so, PIDX_DataEventEnabled, 1);
    ASSERT_TRUE(Swipe(kTrack1, kTrack2));
    ASSERT_TRUE(WaitUntil([&] { return Get(so, PIDX_DataEventEnabled) == 0; }));
    EXPECT_EQ(Text(so, PIDXMsr_Track2Data), kTrack2Data);
    EXPECT_EQ(Get(so, PIDX_DataCount), 0);
    EXPECT_EQ(first->Count(), 0u);
    EXPECT_EQ(events->Count(), 0u);
}

}  // namespace
}  // namespace norvik::test

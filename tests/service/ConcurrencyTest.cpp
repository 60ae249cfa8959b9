// The reader's read thread, the service object's event thread and the
// application's thread together: swipe storms, property writes racing with
// swipes, and a control object that marshals events to the application's
// thread the way the standard one does.
#include <atomic>
#include <future>

#include "support/ContestedLock.h"
#include "support/ServiceFixture.h"

namespace norvik::test {
namespace {

constexpr std::chrono::milliseconds kStormWait{120000};

class ConcurrencyTest : public ServiceTest {
protected:
    static std::string Stripped(const std::string& track) { return track.substr(1, track.size() - 2); }
    static int32_t StatusOf(const std::string& track1, const std::string& track2) {
        return static_cast<int32_t>(track1.size() - 2) + static_cast<int32_t>(track2.size() - 2) * 256;
    }
    void OpenWithMarshalling(ServiceObjectCore& so, const std::shared_ptr<Marshaller>& marshaller) {
        int32_t rc = -1;
        so.OpenService("MSR", kDevice1, std::make_unique<MarshallingControl>(events, marshaller), &rc);
        ASSERT_EQ(rc, 0);
        so.ClaimDevice(0, &rc);
        ASSERT_EQ(rc, 0);
        ASSERT_EQ(Set(so, PIDX_DeviceEnabled, 1), 0);
        Set(so, PIDX_DataEventEnabled, 1);
    }
    // A basic reader's instance, created and enabled on the application
    // thread, whose events the control marshals back to that thread.
    ServiceObjectCore* OpenOnApplicationThread(ApplicationThread& app) {
        AttachBasic();
        ServiceObjectCore* so = nullptr;
        const bool ran = app.Run([&] {
            so = &NewInstance();
            OpenWithMarshalling(*so, app.marshaller());
        });
        return ran ? so : nullptr;
    }
};

TEST_F(ConcurrencyTest, EverySwipeOfAStormArrivesOnceInOrderAndIntact) {
    constexpr int kSwipes = 10000;
    ServiceObjectCore& so = Enabled(kDevice1);
    std::vector<std::string> tracks;
    std::vector<int32_t> statuses;
    tracks.reserve(kSwipes);
    events->SetHandler([&](const std::string& method, const EventArgument* arguments, int) {
        if (method != "SOData") return;
        tracks.push_back(Text(so, PIDXMsr_Track2Data));
        statuses.push_back(arguments[0].value);
        Set(so, PIDX_DataEventEnabled, 1);
    });
    for (int i = 0; i < kSwipes; ++i) ASSERT_TRUE(Swipe(kTrack1, NumberedTrack2(i).c_str())) << i;
    ASSERT_TRUE(events->WaitForCount(kSwipes, kStormWait)) << events->Count() << " of " << kSwipes;

    ASSERT_EQ(tracks.size(), static_cast<size_t>(kSwipes));
    int mismatches = 0;
    for (int i = 0; i < kSwipes; ++i) {
        const std::string expected = NumberedTrack2(i);
        if (tracks[i] != Stripped(expected) || statuses[i] != StatusOf(kTrack1, expected)) {
            if (++mismatches <= 5) ADD_FAILURE() << "swipe " << i << " arrived as " << tracks[i];
        }
    }
    EXPECT_EQ(mismatches, 0);
    EXPECT_EQ(events->Events("SOError").size(), 0u);
    EXPECT_EQ(Get(so, PIDX_DataCount), 0);
    EXPECT_EQ(events->Count(), static_cast<size_t>(kSwipes));
}

TEST_F(ConcurrencyTest, SwipesWhileTheApplicationTogglesItsFlags) {
    ServiceObjectCore& so = Enabled(kDevice1);
    const int32_t status = StatusOf(kTrack1, kTrack2);
    std::atomic<int> badCounts{0};
    events->SetHandler([&](const std::string&, const EventArgument*, int) {
        const int32_t count = Get(so, PIDX_DataCount);
        if (count < 0 || count > 25) ++badCounts;
        Text(so, PIDXMsr_Track2Data);
        Set(so, PIDX_DataEventEnabled, 1);
    });
    std::atomic<bool> stop{false};
    std::atomic<int> accepted{0};
    std::thread swiper([&] {
        while (!stop) {
            if (Swipe(kTrack1, kTrack2)) ++accepted;
        }
    });
    for (int round = 0; round < 3000 || accepted < 200; ++round) {
        Set(so, PIDX_DataEventEnabled, round % 2);
        Set(so, PIDX_FreezeEvents, round % 3 == 0);
        if (round % 7 == 0) Set(so, PIDX_DeviceEnabled, 0);
        if (round % 7 == 3) {
            EXPECT_EQ(Set(so, PIDX_DeviceEnabled, 1), 0);
        }
        const int32_t count = Get(so, PIDX_DataCount);
        if (count < 0 || count > 25) ++badCounts;
        if (round > 1000000) break;
    }
    stop = true;
    swiper.join();
    Set(so, PIDX_DeviceEnabled, 0);  // no more swipes come in
    Set(so, PIDX_FreezeEvents, 0);
    Set(so, PIDX_DataEventEnabled, 1);

    EXPECT_GT(accepted.load(), 0);
    EXPECT_EQ(badCounts.load(), 0);
    EXPECT_EQ(Get(so, PIDX_DataCount), 0);
    const auto data = events->Events("SOData");
    EXPECT_LE(data.size(), static_cast<size_t>(accepted.load()));
    for (const RecordedEvent& event : data) ASSERT_EQ(event.values, (std::vector<int32_t>{status}));
    EXPECT_EQ(events->Count(), data.size());  // nothing but data events
}

TEST_F(ConcurrencyTest, MarshalledDataEventsReachTheApplicationThreadInOrder) {
    constexpr int kSwipes = 200;
    AttachBasic();
    auto marshaller = std::make_shared<Marshaller>();
    ServiceObjectCore& so = NewInstance();
    OpenWithMarshalling(so, marshaller);
    std::vector<std::string> tracks;
    events->SetHandler([&](const std::string&, const EventArgument*, int) {
        tracks.push_back(Text(so, PIDXMsr_Track2Data));
        Set(so, PIDX_DataEventEnabled, 1);
    });
    // The simulated reader holds few reports: swiping waits while the application is busy.
    std::thread swiper([&] {
        for (int i = 0; i < kSwipes; ++i) EXPECT_TRUE(Swipe(kTrack1, NumberedTrack2(i).c_str())) << i;
    });
    const auto deadline = std::chrono::steady_clock::now() + kWait;
    while (tracks.size() < kSwipes && std::chrono::steady_clock::now() < deadline) {
        marshaller->WaitForPending(1, std::chrono::milliseconds(100));
        marshaller->Pump();
    }
    if (tracks.size() < kSwipes) marshaller->BeginClose();  // let the swiper finish before failing
    swiper.join();
    ASSERT_EQ(tracks.size(), static_cast<size_t>(kSwipes));
    for (int i = 0; i < kSwipes; ++i) EXPECT_EQ(tracks[i], Stripped(NumberedTrack2(i))) << i;
    for (const RecordedEvent& event : events->Events()) EXPECT_EQ(event.thread, std::this_thread::get_id());
    marshaller->BeginClose();
}

// Swipes from their own thread until the reader, the service object and the
// simulated bus hold all they can while the first data event waits for the
// application: then the reader's read thread itself is stuck in its callback.
class BackedUpReader {
public:
    static constexpr int kHeld = 1 + 32 + 1 + 32;  // event thread, ring, read thread, bus queue
    BackedUpReader() {
        swiper_ = std::thread([this] {
            for (int i = 0; i < kHeld + 4; ++i) {
                if (!ServiceTest::Swipe(kTrack1, kTrack2)) return;
                ++accepted_;
            }
        });
    }
    ~BackedUpReader() { swiper_.join(); }
    bool WaitUntilFull() {
        return ServiceTest::WaitUntil([&] { return accepted_ >= kHeld; });
    }
    int accepted() const { return accepted_; }

private:
    std::atomic<int> accepted_{0};
    std::thread swiper_;
};

TEST_F(ConcurrencyTest, DisablingWhileADataEventWaitsForTheApplicationDoesNotDeadlock) {
    ApplicationThread app;
    ServiceObjectCore* so = OpenOnApplicationThread(app);
    ASSERT_NE(so, nullptr);
    BackedUpReader reader;
    ASSERT_TRUE(reader.WaitUntilFull()) << reader.accepted();
    ASSERT_TRUE(app.marshaller()->WaitForPending(1));

    EXPECT_TRUE(app.Run([&] { Set(*so, PIDX_DeviceEnabled, 0); })) << "disabling blocked";
    EXPECT_EQ(Get(*so, PIDX_DeviceEnabled), 0);
    EXPECT_EQ(events->Count(), 0u);
    // The application gets to the waiting event afterwards, with the swipe's properties.
    std::string track2;
    events->SetHandler([&](const std::string&, const EventArgument*, int) { track2 = Text(*so, PIDXMsr_Track2Data); });
    ASSERT_TRUE(app.Run([&] { EXPECT_EQ(app.marshaller()->Pump(), 1u); }));
    EXPECT_EQ(track2, Stripped(kTrack2));
    EXPECT_EQ(events->Events("SOData").size(), 1u);
    ASSERT_TRUE(app.Run([&] {
        app.marshaller()->BeginClose();
        int32_t rc = -1;
        so->CloseService(&rc);
        EXPECT_EQ(rc, 0);
    }));
}

TEST_F(ConcurrencyTest, DestroyingAnEnabledInstanceLeavesNoCallbackWaiting) {
    ApplicationThread app;
    ServiceObjectCore* so = OpenOnApplicationThread(app);
    ASSERT_NE(so, nullptr);
    BackedUpReader reader;
    ASSERT_TRUE(reader.WaitUntilFull()) << reader.accepted();
    ASSERT_TRUE(app.Run([&] {
        app.marshaller()->BeginClose();
        Destroy(*so);  // released without CloseService
    })) << "destruction blocked";
    // Whoever closes the reader next must not wait for a callback of the gone instance.
    EXPECT_TRUE(app.Run([] { VorlexCloseDevice(); })) << "the reader's read thread is stuck";
    // A thread let go of inside the call drops its hold on the control when the call returns.
    EXPECT_TRUE(WaitUntil([&] { return events->Released(); }));
}

TEST_F(ConcurrencyTest, ClosingWhileADataEventWaitsDropsItAndReleasesTheControl) {
    ApplicationThread app;
    ServiceObjectCore* so = OpenOnApplicationThread(app);
    ASSERT_NE(so, nullptr);
    ASSERT_TRUE(Swipe(kTrack1, kTrack2));
    ASSERT_TRUE(app.marshaller()->WaitForPending(1));
    EXPECT_TRUE(app.Run([&] {
        app.marshaller()->BeginClose();
        int32_t rc = -1;
        so->CloseService(&rc);
        EXPECT_EQ(rc, 0);
    })) << "closing blocked";
    EXPECT_EQ(events->Count(), 0u);
    // A thread let go of inside the call drops its hold on the control when the call returns.
    EXPECT_TRUE(WaitUntil([&] { return events->Released(); }));
    EXPECT_EQ(Get(*so, PIDX_DeviceEnabled), 0);
}

// A control that records an event, then keeps the raising thread until the
// application's Close has returned: a plain control that simply waits for
// its thread, without releasing waiting callers first.
class GateControl final : public ControlObject {
public:
    GateControl(std::shared_ptr<EventRecorder> recorder, std::shared_future<void> gate)
        : recorder_(std::move(recorder)), gate_(std::move(gate)) {}
    ~GateControl() override { recorder_->MarkReleased(); }
    bool Call(const char* method, const EventArgument* arguments, int count) override {
        recorder_->Deliver(method, arguments, count);
        gate_.wait();
        return true;
    }

private:
    std::shared_ptr<EventRecorder> recorder_;
    std::shared_future<void> gate_;
};

TEST_F(ConcurrencyTest, CloseReturnsWhileTheControlHoldsAnEventForTheClosingThread) {
    AttachBasic();
    std::promise<void> gate;
    ApplicationThread app;
    ServiceObjectCore* so = nullptr;
    ASSERT_TRUE(app.Run([&] {
        so = &NewInstance();
        int32_t rc = -1;
        so->OpenService("MSR", kDevice1, std::make_unique<GateControl>(events, gate.get_future().share()), &rc);
        so->ClaimDevice(0, &rc);
        Set(*so, PIDX_DeviceEnabled, 1);
        Set(*so, PIDX_DataEventEnabled, 1);
    }));
    ASSERT_TRUE(Swipe(kTrack1, kTrack2));
    ASSERT_TRUE(events->WaitForCount(1));
    ASSERT_TRUE(Swipe(kTrack1, NumberedTrack2(2).c_str()));  // waits behind the held event
    const bool closed = app.Run(
        [&] {
            int32_t rc = -1;
            so->CloseService(&rc);
            Destroy(*so);
        },
        std::chrono::seconds(5));
    gate.set_value();  // the control lets its caller go only now
    EXPECT_TRUE(closed) << "Close waited for the event thread held by the control";
    EXPECT_TRUE(WaitUntil([] { return !ServiceObjectCore::EventThreadsRunning(); }));
    EXPECT_EQ(events->Count(), 1u);  // nothing reached the control after Close
    EXPECT_TRUE(events->Released());
}

TEST_F(ConcurrencyTest, AFailedCommandWhileTheReadThreadWaitsForRoomDoesNotDeadlock) {
    ApplicationThread app;
    ServiceObjectCore* so = OpenOnApplicationThread(app);
    ASSERT_NE(so, nullptr);
    BackedUpReader reader;
    ASSERT_TRUE(reader.WaitUntilFull()) << reader.accepted();
    int32_t rc = -1;
    const bool returned = app.Run(
        [&] {
            VorlexSimFailNext(VORLEX_SIM_FAIL_SET_FEATURE);
            int32_t data = 0;
            std::string text = "04";
            so->DirectIO(0, &data, text, &rc);
        },
        std::chrono::seconds(5));
    if (!returned) app.marshaller()->BeginClose();  // let it finish before failing
    EXPECT_TRUE(returned) << "the failed command waited for the read thread";
    EXPECT_TRUE(app.Run([&] { EXPECT_EQ(rc, OPOS_E_FAILURE); }));
    ASSERT_TRUE(app.Run([&] {
        app.marshaller()->BeginClose();
        so->CloseService(&rc);
    }));
}

// A claim step waits for the table's lock, held in another process, without
// the process lock: another instance's property read goes on meanwhile.
class ContestedClaimTest : public ConcurrencyTest {
protected:
    void SetUp() override {
        ConcurrencyTest::SetUp();
        claimMemory = &lock;
    }
    ContestedLock lock{claims};  // outlives the instances, which the fixture closes
};

TEST_F(ContestedClaimTest, AnotherInstanceGoesOnWhileAClaimStepWaitsForTheTablesLock) {
    ServiceObjectCore& waiting = Claimed(kDevice1);
    ServiceObjectCore& other = NewInstance();
    ASSERT_EQ(Open(other, kDevice2), 0);
    for (const bool release : {true, false}) {
        lock.Hold();
        std::future<int32_t> step = std::async(std::launch::async, [&] {
            int32_t rc = -1;
            release ? waiting.ReleaseDevice(&rc) : waiting.ClaimDevice(0, &rc);
            return rc;
        });
        lock.WaitForCaller();
        std::future<int32_t> read = std::async(std::launch::async, [&] { return Get(other, PIDX_State); });
        const bool readReturned = read.wait_for(kWait) == std::future_status::ready;
        lock.LetGo();
        EXPECT_TRUE(readReturned) << (release ? "release" : "claim") << " held the process lock";
        EXPECT_EQ(read.get(), OPOS_S_IDLE);
        EXPECT_EQ(step.get(), 0);
        EXPECT_EQ(Get(waiting, PIDX_Claimed), release ? 0 : 1);
    }
}

// Close and the destructor retry a release that the table's lock held up,
// on a thread of their own, until it reaches the table.
TEST_F(ContestedClaimTest, CloseAndDestructionReleaseTheClaimOnceTheTablesLockIsFree) {
    ServiceObjectCore& closed = Claimed(kDevice1);
    ServiceObjectCore& destroyed = Claimed(kDevice2);
    lock.TimeOutNext(3);
    int32_t rc = -1;
    closed.CloseService(&rc);
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(Get(closed, PIDX_Claimed), 0);
    ASSERT_TRUE(WaitUntil([] { return !ServiceObjectCore::ClaimReleasesPending(); }));
    EXPECT_EQ(ClaimSlots(), (std::vector<std::string>{"", kDevice2}));

    lock.TimeOutNext(2);
    Destroy(destroyed);
    ASSERT_TRUE(WaitUntil([] { return !ServiceObjectCore::ClaimReleasesPending(); }));
    EXPECT_EQ(ClaimSlots(), (std::vector<std::string>{"", ""}));
}

}  // namespace
}  // namespace norvik::test

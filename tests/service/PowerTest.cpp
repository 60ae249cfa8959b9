// Power reporting ("PowerReporting" 1 under the device key): the power
// properties, status updates for a reader that goes away and comes back,
// reconnection without the application's help, and the lane that a reader
// lost during the enable must not leave dead.
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "VorlexRuntime.h"
#include "core/HidTransport.h"
#include "support/ServiceFixture.h"

namespace norvik::test {
namespace {

class PowerTest : public ServiceTest {
protected:
    void SetUp() override {
        ServiceTest::SetUp();
        registry.SetDword(kMsrKey + "\\" + kDevice1, "PowerReporting", 1);
    }
    // Claimed on kDevice1, PowerNotify set, data events on; enabled with the reader present.
    ServiceObjectCore& Notifying(bool withReader = true) {
        if (withReader) AttachBasic();
        ServiceObjectCore& so = Claimed(kDevice1);
        EXPECT_EQ(Set(so, PIDX_PowerNotify, 1), 0);
        return so;
    }
    std::vector<int32_t> StatusUpdates() const {
        std::vector<int32_t> statuses;
        for (const RecordedEvent& event : events->Events("SOStatusUpdate")) statuses.push_back(event.values.at(0));
        return statuses;
    }
    bool StatusesAre(const std::vector<int32_t>& expected) {
        return WaitUntil([&] { return StatusUpdates() == expected; });
    }
    static bool ReaderOpen() {
        int32_t state = -1;
        VorlexGetDeviceState(&state);
        return state == 1;
    }
    // A reader that went away releases itself on its own read thread, which
    // a later call into the library joins; the library tells no one when that
    // thread has retired, so close a few times over a bounded moment.
    static void JoinTheLostReadersThread() {
        for (int i = 0; i < 20; ++i) {
            VorlexCloseDevice();
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }
};

TEST_F(PowerTest, WithoutTheValueNothingOfPowerReportingShows) {
    registry.SetDword(kMsrKey + "\\" + kDevice1, "PowerReporting", 0);
    ServiceObjectCore& so = Enabled(kDevice1);
    EXPECT_EQ(Get(so, PIDX_CapPowerReporting), OPOS_PR_NONE);
    EXPECT_EQ(Set(so, PIDX_PowerNotify, 1), 0);  // ignored, as before
    EXPECT_EQ(Get(so, PIDX_PowerNotify), OPOS_PN_DISABLED);
    EXPECT_EQ(Get(so, PIDX_PowerState), OPOS_PS_UNKNOWN);
    ASSERT_EQ(VorlexSimDetach(), 0);
    ASSERT_TRUE(WaitUntil([&] { return Get(so, PIDX_State) == OPOS_S_ERROR; }));
    AttachBasic();
    for (int i = 0; i < 20; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    EXPECT_FALSE(ReaderOpen()) << "no reconnection without power reporting";
    EXPECT_EQ(Get(so, PIDX_State), OPOS_S_ERROR);
    EXPECT_TRUE(StatusUpdates().empty());
}

TEST_F(PowerTest, PowerNotifyAndPowerStateFollowTheirRules) {
    ServiceObjectCore& so = Claimed(kDevice1);
    EXPECT_EQ(Get(so, PIDX_CapPowerReporting), OPOS_PR_STANDARD);
    EXPECT_EQ(Set(so, PIDX_PowerNotify, 2), OPOS_E_ILLEGAL);
    EXPECT_EQ(Get(so, PIDX_PowerNotify), OPOS_PN_DISABLED);
    AttachBasic();
    ASSERT_EQ(Set(so, PIDX_DeviceEnabled, 1), 0);
    EXPECT_EQ(Get(so, PIDX_PowerState), OPOS_PS_UNKNOWN) << "not notifying";
    EXPECT_EQ(Set(so, PIDX_PowerNotify, 1), OPOS_E_ILLEGAL) << "written while enabled";
    EXPECT_EQ(Get(so, PIDX_PowerNotify), OPOS_PN_DISABLED);
    ASSERT_EQ(Set(so, PIDX_DeviceEnabled, 0), 0);
    EXPECT_EQ(Set(so, PIDX_PowerNotify, 1), 0);
    EXPECT_EQ(Get(so, PIDX_PowerState), OPOS_PS_UNKNOWN) << "disabled";
    ASSERT_EQ(Set(so, PIDX_DeviceEnabled, 1), 0);
    EXPECT_EQ(Get(so, PIDX_PowerState), OPOS_PS_ONLINE);
    ASSERT_EQ(VorlexSimDetach(), 0);
    EXPECT_TRUE(WaitUntil([&] { return Get(so, PIDX_PowerState) == OPOS_PS_OFF_OFFLINE; }));
}

TEST_F(PowerTest, AReaderThatComesBackReadsAgainAndEachChangeIsTold) {
    for (const bool notify : {true, false}) {
        SCOPED_TRACE(notify ? "PowerNotify 1" : "PowerNotify 0");
        VorlexSimReset();
        events = std::make_shared<EventRecorder>();
        AttachBasic();
        ServiceObjectCore& so = Claimed(kDevice1);
        ASSERT_EQ(Set(so, PIDX_PowerNotify, notify ? 1 : 0), 0);
        ASSERT_EQ(Set(so, PIDX_DeviceEnabled, 1), 0);
        Set(so, PIDX_DataEventEnabled, 1);

        ASSERT_EQ(VorlexSimDetach(), 0);
        ASSERT_TRUE(WaitUntil([&] { return Get(so, PIDX_State) == OPOS_S_ERROR; }));
        if (notify) {
            EXPECT_TRUE(StatusesAre({OPOS_PS_OFF_OFFLINE}));
        }
        AttachBasic();
        ASSERT_TRUE(WaitUntil([&] { return Get(so, PIDX_State) == OPOS_S_IDLE && ReaderOpen(); }));
        if (notify) {
            EXPECT_TRUE(StatusesAre({OPOS_PS_OFF_OFFLINE, OPOS_PS_ONLINE}));
        }
        ASSERT_TRUE(Swipe(kTrack1, kTrack2));
        EXPECT_TRUE(WaitUntil([&] { return events->Events("SOData").size() == 1; }));
        EXPECT_EQ(Get(so, PIDX_DataCount), 0) << "status updates never count as data";
        if (!notify) {
            EXPECT_TRUE(StatusUpdates().empty());
        }
        int32_t rc = -1;
        so.CloseService(&rc);
    }
}

TEST_F(PowerTest, EnablingWithoutAReaderSucceedsOnlyWhileNotifying) {
    ServiceObjectCore& quiet = Claimed(kDevice1);
    EXPECT_EQ(Set(quiet, PIDX_DeviceEnabled, 1), OPOS_E_FAILURE) << "PowerNotify 0 fails as before";
    int32_t rc = -1;
    quiet.ReleaseDevice(&rc);

    ServiceObjectCore& so = Notifying(false);
    ASSERT_EQ(Set(so, PIDX_DeviceEnabled, 1), 0);
    EXPECT_EQ(Get(so, PIDX_State), OPOS_S_IDLE);
    EXPECT_EQ(Get(so, PIDX_PowerState), OPOS_PS_OFF_OFFLINE);
    EXPECT_TRUE(StatusesAre({OPOS_PS_OFF_OFFLINE}));
    AttachBasic();  // first plugged in now
    EXPECT_TRUE(StatusesAre({OPOS_PS_OFF_OFFLINE, OPOS_PS_ONLINE}));
    EXPECT_EQ(Get(so, PIDX_PowerState), OPOS_PS_ONLINE);
}

TEST_F(PowerTest, StatusUpdatesWaitWhileFrozenAndNeverComeAfterClose) {
    ServiceObjectCore& so = Notifying();
    ASSERT_EQ(Set(so, PIDX_DeviceEnabled, 1), 0);
    Set(so, PIDX_FreezeEvents, 1);
    ASSERT_EQ(VorlexSimDetach(), 0);
    ASSERT_TRUE(WaitUntil([&] { return Get(so, PIDX_PowerState) == OPOS_PS_OFF_OFFLINE; }));
    AttachBasic();
    ASSERT_TRUE(WaitUntil([&] { return Get(so, PIDX_PowerState) == OPOS_PS_ONLINE; }));
    EXPECT_TRUE(StatusUpdates().empty());
    Set(so, PIDX_FreezeEvents, 0);
    // The held 2004 goes at once; the 2001 may still be on its way to the event thread.
    EXPECT_TRUE(StatusesAre({OPOS_PS_OFF_OFFLINE, OPOS_PS_ONLINE}));

    Set(so, PIDX_FreezeEvents, 1);
    ASSERT_EQ(VorlexSimDetach(), 0);
    ASSERT_TRUE(WaitUntil([&] { return Get(so, PIDX_PowerState) == OPOS_PS_OFF_OFFLINE; }));
    int32_t rc = -1;
    so.CloseService(&rc);
    AttachBasic();
    for (int i = 0; i < 20; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    EXPECT_EQ(StatusUpdates().size(), 2u) << "held and later events go with the close";
    EXPECT_FALSE(ReaderOpen()) << "the watch ended with the close";
}

TEST_F(PowerTest, DisablingStopsTheWatchAtOnce) {
    ServiceObjectCore& so = Notifying();
    ASSERT_EQ(Set(so, PIDX_DeviceEnabled, 1), 0);
    ASSERT_EQ(VorlexSimDetach(), 0);
    ASSERT_TRUE(StatusesAre({OPOS_PS_OFF_OFFLINE}));
    ASSERT_EQ(Set(so, PIDX_DeviceEnabled, 0), 0);
    AttachBasic();
    for (int i = 0; i < 20; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    EXPECT_FALSE(ReaderOpen());
    EXPECT_EQ(StatusUpdates(), std::vector<int32_t>{OPOS_PS_OFF_OFFLINE});
    EXPECT_EQ(Get(so, PIDX_PowerState), OPOS_PS_UNKNOWN);
}

TEST_F(PowerTest, UnplugAndReplugRaceWithDisableAndClose) {
    for (int round = 0; round < 30; ++round) {
        VorlexSimReset();
        ServiceObjectCore& so = Notifying();
        ASSERT_EQ(Set(so, PIDX_DeviceEnabled, 1), 0);
        std::thread plugger([] {
            VorlexSimDetach();
            AttachBasic();
        });
        if (round % 2 == 0) {
            Set(so, PIDX_DeviceEnabled, 0);
        }
        int32_t rc = -1;
        so.CloseService(&rc);
        plugger.join();
        EXPECT_EQ(rc, 0);
        EXPECT_FALSE(ReaderOpen()) << "round " << round;
        Destroy(so);
    }
}

// One reader whose first read finds it gone, and whose enumeration ends only
// once that removal has been reported: the removal always comes during the enable.
class LostDuringEnableBus final : public vorlex::HidBus {
public:
    bool BeginEnumeration() override { return true; }
    bool InterfacePath(size_t index, std::string& path) override {
        path = "lost";
        return index == 0 && !opened_;
    }
    void EndEnumeration() override {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait_for(lock, kWait, [&] { return !opened_ || closed_; });
    }
    std::unique_ptr<vorlex::HidDevice> Open(const std::string&) override {
        opened_ = true;
        return std::make_unique<Device>(*this);
    }

private:
    class Device final : public vorlex::HidDevice {
    public:
        explicit Device(LostDuringEnableBus& bus) : bus_(bus) {}
        bool GetAttributes(vorlex::HidAttributes& attributes) override {
            attributes = {VORLEX_VENDOR_ID, VORLEX_PID_BASIC_SWIPE};
            return true;
        }
        vorlex::CapsResult GetCaps(vorlex::HidCaps& caps) override {
            caps = {338, 64};
            return vorlex::CapsResult::Ok;
        }
        vorlex::ReadStatus Read(uint8_t*, size_t, size_t& transferred) override {
            transferred = 0;
            return vorlex::ReadStatus::DeviceNotConnected;
        }
        void Stop() override {}
        void Close() override {
            std::lock_guard<std::mutex> lock(bus_.mutex_);
            bus_.closed_ = true;
            bus_.changed_.notify_all();
        }
        bool SetFeature(const uint8_t*, size_t) override { return false; }
        bool GetFeature(uint8_t*, size_t) override { return false; }

    private:
        LostDuringEnableBus& bus_;
    };
    std::mutex mutex_;
    std::condition_variable changed_;
    std::atomic<bool> opened_{false};
    bool closed_ = false;
};

TEST_F(PowerTest, AReaderLostDuringTheEnableNeverLeavesAnIdleDeviceWithoutAReader) {
    registry.SetDword(kMsrKey + "\\" + kDevice1, "PowerReporting", 0);
    LostDuringEnableBus bus;
    vorlex::Library().SetBus(&bus);
    ServiceObjectCore& so = Claimed(kDevice1);
    const int32_t result = Set(so, PIDX_DeviceEnabled, 1);
    JoinTheLostReadersThread();
    vorlex::UseSimulatedBus(true);
    EXPECT_EQ(result, OPOS_E_FAILURE) << "the reader was gone before the enable ended";
    EXPECT_EQ(Get(so, PIDX_DeviceEnabled), 0);
    EXPECT_EQ(Get(so, PIDX_State), OPOS_S_ERROR);
}

TEST_F(PowerTest, AReaderLostDuringTheEnableIsWatchedForWhileNotifying) {
    LostDuringEnableBus bus;
    vorlex::Library().SetBus(&bus);
    ServiceObjectCore& so = Notifying(false);
    const int32_t result = Set(so, PIDX_DeviceEnabled, 1);
    JoinTheLostReadersThread();
    vorlex::UseSimulatedBus(true);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(Get(so, PIDX_PowerState), OPOS_PS_OFF_OFFLINE);
    EXPECT_TRUE(StatusesAre({OPOS_PS_OFF_OFFLINE}));
    AttachBasic();
    EXPECT_TRUE(StatusesAre({OPOS_PS_OFF_OFFLINE, OPOS_PS_ONLINE}));
}

}  // namespace
}  // namespace norvik::test

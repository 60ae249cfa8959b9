// Enabling and disabling the reader, health checks, unplugging, closing and
// destroying instances, and the pauses these steps take.
#include <chrono>

#include "platform/SystemClock.h"
#include "support/ServiceFixture.h"

namespace norvik::test {
namespace {

using LifeCycleTest = ServiceTest;
using Sleeps = std::vector<uint32_t>;

int32_t CheckHealth(ServiceObjectCore& so, int32_t level) {
    int32_t rc = -1;
    so.CheckHealth(level, &rc);
    return rc;
}

bool ReaderOpen() {
    int32_t state = -1;
    VorlexGetDeviceState(&state);
    return state == 1;
}

TEST_F(LifeCycleTest, EnablingNeedsTheClaim) {
    AttachBasic();
    ServiceObjectCore& so = NewInstance();
    ASSERT_EQ(Open(so, kDevice1), 0);
    EXPECT_EQ(CheckHealth(so, 1), OPOS_E_NOTCLAIMED);
    EXPECT_EQ(Set(so, PIDX_DeviceEnabled, 1), OPOS_E_NOTCLAIMED);
    EXPECT_EQ(Get(so, PIDX_DeviceEnabled), 0);
    EXPECT_FALSE(ReaderOpen());
}

TEST_F(LifeCycleTest, EnablingWithoutAReaderFailsIntoTheErrorState) {
    ServiceObjectCore& so = Claimed(kDevice1);
    EXPECT_EQ(Set(so, PIDX_DeviceEnabled, 1), OPOS_E_FAILURE);
    EXPECT_EQ(Get(so, PIDX_DeviceEnabled), 0);
    EXPECT_EQ(Get(so, PIDX_State), OPOS_S_ERROR);
    EXPECT_EQ(CheckHealth(so, 1), OPOS_E_DISABLED);
    EXPECT_EQ(Get(so, PIDX_ResultCode), OPOS_E_DISABLED);
    EXPECT_EQ(Get(so, PIDX_ResultCodeExtended), 0);

    AttachBasic();  // plugged in later: enabling again succeeds
    EXPECT_EQ(Set(so, PIDX_DeviceEnabled, 1), 0);
    EXPECT_EQ(Get(so, PIDX_State), OPOS_S_IDLE);
    EXPECT_TRUE(ReaderOpen());
}

TEST_F(LifeCycleTest, ReaderOfTheOtherKindIsRefusedAndClosedAgain) {
    struct Case {
        const std::string device;
        uint16_t productId, inputLength;
    };
    for (const Case& c : {Case{kDevice1, VORLEX_PID_SECURE_SWIPE, 887}, Case{kDevice2, VORLEX_PID_BASIC_SWIPE, 338}}) {
        SCOPED_TRACE(c.device);
        VorlexSimReset();
        VorlexSimAttach(VORLEX_VENDOR_ID, c.productId, c.inputLength, 64);
        ServiceObjectCore& so = Claimed(c.device);
        EXPECT_EQ(Set(so, PIDX_DeviceEnabled, 1), OPOS_E_FAILURE);
        EXPECT_EQ(Get(so, PIDX_DeviceEnabled), 0);
        EXPECT_EQ(Get(so, PIDX_State), OPOS_S_ERROR);
        EXPECT_FALSE(ReaderOpen());
        EXPECT_FALSE(Swipe(kTrack1, kTrack2));
        int32_t rc = -1;
        so.CloseService(&rc);
    }
    // A model of neither kind is accepted whatever the configured kind.
    VorlexSimReset();
    VorlexSimAttach(VORLEX_VENDOR_ID, VORLEX_PID_BASIC_INSERT, 338, 64);
    ServiceObjectCore& so = Claimed(kDevice2);
    EXPECT_EQ(Set(so, PIDX_DeviceEnabled, 1), 0);
    EXPECT_TRUE(ReaderOpen());
}

TEST_F(LifeCycleTest, HealthCheckReportsTheStateTheReaderLastGave) {
    ServiceObjectCore& so = Enabled(kDevice1);
    EXPECT_EQ(Get(so, PIDX_State), OPOS_S_IDLE);
    EXPECT_EQ(Set(so, PIDX_DeviceEnabled, 1), 0);  // already enabled: nothing more
    EXPECT_EQ(CheckHealth(so, 1), 0);
    EXPECT_EQ(Text(so, PIDX_CheckHealthText), "MSR CheckHealth INTERNAL: Successful");

    ASSERT_EQ(VorlexSimDetach(), 0);
    ASSERT_TRUE(WaitUntil([&] { return Get(so, PIDX_State) == OPOS_S_ERROR; }));
    EXPECT_EQ(Get(so, PIDX_DeviceEnabled), 1);
    EXPECT_EQ(CheckHealth(so, 2), OPOS_E_ILLEGAL);
    EXPECT_EQ(Get(so, PIDX_ResultCodeExtended), OPOS_E_ILLEGAL);
    EXPECT_EQ(Text(so, PIDX_CheckHealthText), "MSR CheckHealth INTERNAL: Successful");
    EXPECT_EQ(CheckHealth(so, 1), 0);
    EXPECT_EQ(Get(so, PIDX_ResultCode), 0);
    EXPECT_EQ(Text(so, PIDX_CheckHealthText), "MSR CheckHealth INTERNAL: No Hardware");

    AttachBasic();  // plugged in again: the reader is not reopened by itself
    EXPECT_EQ(Get(so, PIDX_State), OPOS_S_ERROR);
    EXPECT_EQ(Set(so, PIDX_DeviceEnabled, 0), 0);
    EXPECT_EQ(Set(so, PIDX_DeviceEnabled, 1), 0);
    EXPECT_EQ(Get(so, PIDX_State), OPOS_S_IDLE);
    EXPECT_EQ(CheckHealth(so, 1), 0);
    EXPECT_EQ(Text(so, PIDX_CheckHealthText), "MSR CheckHealth INTERNAL: Successful");
}

TEST_F(LifeCycleTest, DisablingClosesTheReaderAndPausesOnlyWhenEnabled) {
    ServiceObjectCore& so = Enabled(kDevice1);
    EXPECT_TRUE(clock.Sleeps().empty());
    EXPECT_EQ(Set(so, PIDX_DeviceEnabled, 0), 0);
    EXPECT_FALSE(ReaderOpen());
    EXPECT_EQ(clock.Sleeps(), (Sleeps{250}));
    EXPECT_EQ(Set(so, PIDX_DeviceEnabled, 0), 0);
    EXPECT_EQ(Set(so, PIDX_DeviceEnabled, -1), 0);
    EXPECT_EQ(clock.Sleeps(), (Sleeps{250}));  // already disabled: the reader is not touched
    EXPECT_EQ(Get(so, PIDX_State), OPOS_S_IDLE);
}

TEST_F(LifeCycleTest, ReleasingKeepsTheDeviceEnabledUntilCloseDisablesIt) {
    ServiceObjectCore& so = Enabled(kDevice1, false);
    int32_t rc = -1;
    so.ReleaseDevice(&rc);
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(Get(so, PIDX_Claimed), 0);
    EXPECT_EQ(Get(so, PIDX_DeviceEnabled), 1);
    EXPECT_TRUE(Swipe(kTrack1, kTrack2));
    EXPECT_TRUE(WaitUntil([&] { return Get(so, PIDX_DataCount) == 1; }));

    rc = -1;
    so.CloseService(&rc);
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(Get(so, PIDX_ResultCode), 0);
    EXPECT_EQ(Get(so, PIDX_DeviceEnabled), 0);
    EXPECT_FALSE(ReaderOpen());
    EXPECT_EQ(clock.Sleeps(), (Sleeps{250, 500}));
    EXPECT_EQ(Get(so, PIDX_DataCount), 0);  // no card outlives the service
    EXPECT_EQ(Text(so, PIDXMsr_Track2Data), "");

    ServiceObjectCore& idle = Claimed(kDevice2);
    idle.CloseService(&rc);
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(clock.Sleeps(), (Sleeps{250, 500, 500}));
    EXPECT_EQ(ClaimSlots(), (std::vector<std::string>{"", ""}));
}

// Two paths that used to mark the device disabled with the reader still open,
// after which no enable in the process could open it again.
TEST_F(LifeCycleTest, NoPathMarksTheDeviceDisabledWithTheReaderOpen) {
    ServiceObjectCore& released = Enabled(kDevice1, false);
    int32_t rc = -1;
    released.ReleaseDevice(&rc);
    EXPECT_EQ(Set(released, PIDX_DeviceEnabled, 1), OPOS_E_NOTCLAIMED);
    EXPECT_EQ(Get(released, PIDX_DeviceEnabled), 0);
    EXPECT_FALSE(ReaderOpen());
    released.ClaimDevice(0, &rc);
    ASSERT_EQ(Set(released, PIDX_DeviceEnabled, 1), 0);

    ASSERT_EQ(Open(released, kDevice1), 0);  // opened again while enabled
    EXPECT_EQ(Get(released, PIDX_DeviceEnabled), 0);
    EXPECT_FALSE(ReaderOpen());
    released.ClaimDevice(0, &rc);
    EXPECT_EQ(Set(released, PIDX_DeviceEnabled, 1), 0);
}

TEST_F(LifeCycleTest, CloseWithAnEnabledDeviceTakesThreeQuartersOfASecond) {
    AttachBasic();
    ServiceObjectCore& so = NewInstance(&SystemClock());
    ASSERT_EQ(Open(so, kDevice1), 0);
    int32_t rc = -1;
    so.ClaimDevice(0, &rc);
    ASSERT_EQ(Set(so, PIDX_DeviceEnabled, 1), 0);
    const auto start = std::chrono::steady_clock::now();
    so.CloseService(&rc);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(rc, 0);
    EXPECT_GE(elapsed, std::chrono::milliseconds(750));
}

TEST_F(LifeCycleTest, FreezeMethodOfTheControlChangesNothing) {
    ServiceObjectCore& so = Claimed(kDevice1);
    Get(so, PIDX_OutputID);
    int32_t rc = 0x5EED;
    so.COFreezeEvents(true, &rc);
    EXPECT_EQ(rc, 0x5EED);
    EXPECT_EQ(Get(so, PIDX_ResultCode), OPOS_E_ILLEGAL);
    EXPECT_EQ(Get(so, PIDX_ResultCodeExtended), -1);
    EXPECT_EQ(Get(so, PIDX_FreezeEvents), 0);
}

TEST_F(LifeCycleTest, CloseAndDestructionLetGoOfTheControlObject) {
    auto kept = std::make_shared<EventRecorder>();
    ServiceObjectCore& closed = Claimed(kDevice1);
    ASSERT_EQ(Open(closed, kDevice1, kept), 0);
    EXPECT_FALSE(kept->Released());
    int32_t rc = -1;
    closed.CloseService(&rc);
    EXPECT_TRUE(kept->Released());

    auto destroyed = std::make_shared<EventRecorder>();
    ServiceObjectCore& so = NewInstance();
    ASSERT_EQ(Open(so, kDevice1, destroyed), 0);
    ServiceObjectCore& later = NewInstance();  // opened without a control of its own
    EXPECT_FALSE(destroyed->Released());
    Destroy(later);
    EXPECT_FALSE(destroyed->Released());  // not the instance that stored it
    Destroy(so);
    EXPECT_TRUE(destroyed->Released());
}

TEST_F(LifeCycleTest, DestroyedCurrentInstanceLeavesSwipesUnprocessed) {
    ServiceObjectCore& so = Enabled(kDevice1);
    ServiceObjectCore& later = NewInstance();  // takes the reader's callbacks over
    Destroy(later);
    ASSERT_TRUE(Swipe(kTrack1, kTrack2));
    // Nobody fetched and cleared the swipe: the reader still holds it.
    ASSERT_TRUE(WaitUntil([] {
        int32_t state = 0;
        VorlexGetCardDataState(&state);
        return state == 1;
    }));
    EXPECT_EQ(Get(so, PIDX_DataCount), 0);
    EXPECT_EQ(Get(so, PIDX_DataEventEnabled), 1);
    EXPECT_EQ(events->Count(), 0u);
}

}  // namespace
}  // namespace norvik::test

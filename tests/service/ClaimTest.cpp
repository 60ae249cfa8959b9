// ClaimDevice and ReleaseDevice against the claim table shared by every
// process, with several instances in one process.
#include "logic/ClaimTable.h"
#include "support/ContestedLock.h"
#include "support/ServiceFixture.h"

namespace norvik::test {
namespace {

using ClaimTest = ServiceTest;

int32_t Claim(ServiceObjectCore& so, int32_t timeout = 0) {
    int32_t rc = -1;
    so.ClaimDevice(timeout, &rc);
    return rc;
}

int32_t Release(ServiceObjectCore& so) {
    int32_t rc = -1;
    so.ReleaseDevice(&rc);
    return rc;
}

TEST_F(ClaimTest, ClaimTwiceRecordsOnceAndReleaseTwiceIsRefused) {
    ServiceObjectCore& so = NewInstance();
    ASSERT_EQ(Open(so, kDevice1), 0);
    EXPECT_EQ(Release(so), OPOS_E_ILLEGAL);
    EXPECT_EQ(Get(so, PIDX_ResultCode), OPOS_E_ILLEGAL);
    EXPECT_EQ(Get(so, PIDX_ResultCodeExtended), 0);

    EXPECT_EQ(Claim(so, 0), 0);
    EXPECT_EQ(Claim(so, -1), 0);
    EXPECT_EQ(Get(so, PIDX_Claimed), 1);
    EXPECT_EQ(ClaimSlots(), (std::vector<std::string>{kDevice1, ""}));

    EXPECT_EQ(Release(so), 0);
    EXPECT_EQ(Get(so, PIDX_Claimed), 0);
    EXPECT_EQ(ClaimSlots(), (std::vector<std::string>{"", ""}));
    EXPECT_EQ(Release(so), OPOS_E_ILLEGAL);
    EXPECT_EQ(Get(so, PIDX_ResultCode), OPOS_E_ILLEGAL);
}

TEST_F(ClaimTest, OpeningAgainGivesUpTheInstancesOwnClaim) {
    ServiceObjectCore& so = Claimed(kDevice1);
    ASSERT_EQ(Open(so, kDevice2), 0);
    EXPECT_EQ(Get(so, PIDX_Claimed), 0);
    EXPECT_EQ(ClaimSlots(), (std::vector<std::string>{"", ""}));
    ASSERT_EQ(Open(so, kDevice1), 0);
    EXPECT_EQ(Claim(so), 0);  // not locked out by a claim of its own
    EXPECT_EQ(ClaimSlots(), (std::vector<std::string>{kDevice1, ""}));
}

TEST_F(ClaimTest, SecondInstanceIsRefusedUntilTheFirstReleases) {
    ServiceObjectCore& first = Claimed(kDevice1);
    ServiceObjectCore& second = NewInstance();
    ASSERT_EQ(Open(second, "FrontLane"), 0);  // the same device through its alias
    for (int32_t timeout : {0, -1, 5000}) {
        EXPECT_EQ(Claim(second, timeout), OPOS_E_CLAIMED) << "timeout " << timeout;
        EXPECT_EQ(Get(second, PIDX_ResultCode), OPOS_E_CLAIMED);
        EXPECT_EQ(Get(second, PIDX_ResultCodeExtended), 0);
        EXPECT_EQ(Get(second, PIDX_Claimed), 0);
    }
    EXPECT_EQ(Set(second, PIDX_DeviceEnabled, 1), OPOS_E_NOTCLAIMED);
    EXPECT_TRUE(clock.Sleeps().empty());  // time-outs never wait

    // Another device is free all the while.
    ServiceObjectCore& other = NewInstance();
    ASSERT_EQ(Open(other, kDevice2), 0);
    EXPECT_EQ(Claim(other), 0);
    EXPECT_EQ(ClaimSlots(), (std::vector<std::string>{kDevice1, kDevice2}));

    EXPECT_EQ(Release(first), 0);
    EXPECT_EQ(Claim(second), 0);
    EXPECT_EQ(Get(second, PIDX_Claimed), 1);
    EXPECT_EQ(Claim(first), OPOS_E_CLAIMED);
}

TEST_F(ClaimTest, OpeningWhileClaimedElsewhereRefusesTheClaim) {
    ServiceObjectCore& first = Claimed(kDevice2);
    ServiceObjectCore& second = NewInstance();
    ASSERT_EQ(Open(second, kDevice2), 0);  // notes the claim held elsewhere
    EXPECT_EQ(Claim(second), OPOS_E_CLAIMED);
    int32_t rc = -1;
    first.CloseService(&rc);
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(ClaimSlots(), (std::vector<std::string>{"", ""}));
    EXPECT_EQ(Claim(second), 0);
}

TEST_F(ClaimTest, FullTableRefusesTheClaimAndRecordsNothing) {
    registry.SetDword(kMsrKey + "\\Norvik_MSR-2-Lane3", "DeviceType", 0);
    Claimed(kDevice1);
    Claimed(kDevice2);
    ServiceObjectCore& third = NewInstance();
    ASSERT_EQ(Open(third, "Norvik_MSR-2-Lane3"), 0);
    EXPECT_EQ(Claim(third), OPOS_E_FAILURE);
    EXPECT_EQ(Get(third, PIDX_ResultCode), OPOS_E_FAILURE);
    EXPECT_EQ(Get(third, PIDX_Claimed), 0);
    EXPECT_EQ(ClaimSlots(), (std::vector<std::string>{kDevice1, kDevice2}));
    // A second instance of that name still finds it free: nothing was recorded.
    ServiceObjectCore& fourth = NewInstance();
    ASSERT_EQ(Open(fourth, "Norvik_MSR-2-Lane3"), 0);
    EXPECT_EQ(Claim(fourth), OPOS_E_FAILURE);
}

TEST_F(ClaimTest, NameLongerThanASlotIsRefusedAndOneThatFitsIsRecordedWhole) {
    const std::string fits = "Norvik_MSR-1-with-31-characters";
    const std::string tooLong = fits + "+";
    ASSERT_EQ(fits.size(), 31u);
    registry.SetDword(kMsrKey + "\\" + fits, "DeviceType", 0);
    registry.SetDword(kMsrKey + "\\" + tooLong, "DeviceType", 0);

    ServiceObjectCore& refused = NewInstance();
    ASSERT_EQ(Open(refused, tooLong), 0);
    EXPECT_EQ(Claim(refused), OPOS_E_FAILURE);
    EXPECT_EQ(Get(refused, PIDX_Claimed), 0);
    EXPECT_EQ(ClaimSlots(), (std::vector<std::string>{"", ""}));

    ServiceObjectCore& granted = NewInstance();
    ASSERT_EQ(Open(granted, fits), 0);
    EXPECT_EQ(Claim(granted), 0);
    EXPECT_EQ(ClaimSlots(), (std::vector<std::string>{fits, ""}));
    // The longer name does not pass for the shorter one it begins with.
    EXPECT_EQ(Claim(refused), OPOS_E_FAILURE);
}

TEST_F(ClaimTest, AHeldNameDoesNotHoldTheShorterNameItBeginsWith) {
    const std::string longer = kDevice1 + "-Lane2";
    registry.SetDword(kMsrKey + "\\" + longer, "DeviceType", 0);
    Claimed(longer);
    ServiceObjectCore& shorter = NewInstance();
    ASSERT_EQ(Open(shorter, kDevice1), 0);
    EXPECT_EQ(Claim(shorter), 0);
    EXPECT_EQ(ClaimSlots(), (std::vector<std::string>{longer, kDevice1}));
}

TEST_F(ClaimTest, AHungLockHolderFailsOpenAndClaimWithATimeoutUntilItLetsGo) {
    ContestedLock lock(claims);
    lock.Hang(true);
    ServiceObjectCore so(WithPlatformDefaults({&registry, &lock, &clock}));
    int32_t rc = -1;
    so.OpenService("MSR", kDevice1, std::make_unique<RecordingControl>(events), &rc);
    EXPECT_EQ(rc, OPOS_E_FAILURE);
    EXPECT_EQ(Get(so, PIDX_ResultCodeExtended), OPOS_E_TIMEOUT);
    lock.Hang(false);
    so.OpenService("MSR", kDevice1, std::make_unique<RecordingControl>(events), &rc);
    ASSERT_EQ(rc, 0);
    lock.Hang(true);
    EXPECT_EQ(Claim(so), OPOS_E_FAILURE);
    EXPECT_EQ(Get(so, PIDX_ResultCodeExtended), OPOS_E_TIMEOUT);
    EXPECT_EQ(Get(so, PIDX_Claimed), 0);
    lock.Hang(false);
    EXPECT_EQ(Claim(so), 0);
    EXPECT_EQ(ClaimSlots(), (std::vector<std::string>{kDevice1, ""}));

    // A release that cannot reach the table keeps the claim, so that the
    // application can release again; the name stays recorded meanwhile.
    lock.Hang(true);
    EXPECT_EQ(Release(so), OPOS_E_FAILURE);
    EXPECT_EQ(Get(so, PIDX_ResultCode), OPOS_E_FAILURE);
    EXPECT_EQ(Get(so, PIDX_ResultCodeExtended), OPOS_E_TIMEOUT);
    EXPECT_EQ(Get(so, PIDX_Claimed), 1);
    EXPECT_EQ(ClaimSlots(), (std::vector<std::string>{kDevice1, ""}));
    lock.Hang(false);
    EXPECT_EQ(Release(so), 0);
    EXPECT_EQ(Get(so, PIDX_Claimed), 0);
    EXPECT_EQ(ClaimSlots(), (std::vector<std::string>{"", ""}));
    so.CloseService(&rc);
}

TEST_F(ClaimTest, AClaimWhoseHolderHasEndedIsFreedAndNoOtherIs) {
    const ProcessIdentity other{4242, 77};
    claims.SetCurrentProcess(other);
    ASSERT_EQ(ClaimName(claims, kDevice1), ClaimResult::Granted);
    claims.SetCurrentProcess({1, 1});
    // A claim recorded without a holder, as an older version records it.
    claims.Access([](char (&table)[kClaimTableSize]) { std::strcpy(table + kClaimSlotSize, kDevice2.c_str()); });

    ServiceObjectCore& first = NewInstance();
    ASSERT_EQ(Open(first, kDevice1), 0);
    EXPECT_EQ(Claim(first), OPOS_E_CLAIMED);  // its holder still runs
    // A later process with the same ID is not the holder.
    claims.EndProcess({other.processId, other.startTime + 1});
    EXPECT_EQ(Claim(first), OPOS_E_CLAIMED);
    claims.EndProcess(other);
    EXPECT_EQ(Claim(first), 0);

    ServiceObjectCore& second = NewInstance();
    ASSERT_EQ(Open(second, kDevice2), 0);
    EXPECT_EQ(Claim(second), OPOS_E_CLAIMED);  // nobody can tell whether its holder is gone
    EXPECT_EQ(ClaimSlots(), (std::vector<std::string>{kDevice1, kDevice2}));
}

TEST_F(ClaimTest, DestroyingTheClaimingInstanceFreesItsSlot) {
    ServiceObjectCore& first = Claimed(kDevice1);
    ServiceObjectCore& second = NewInstance();
    ASSERT_EQ(Open(second, kDevice1), 0);
    EXPECT_EQ(Claim(second), OPOS_E_CLAIMED);
    Destroy(first);
    EXPECT_EQ(ClaimSlots(), (std::vector<std::string>{"", ""}));
    EXPECT_EQ(Claim(second), 0);
}

TEST_F(ClaimTest, CloseThenOpenAgainClaimsAgain) {
    ServiceObjectCore& so = Claimed(kDevice1);
    int32_t rc = -1;
    so.CloseService(&rc);
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(Get(so, PIDX_Claimed), 0);
    EXPECT_EQ(ClaimSlots(), (std::vector<std::string>{"", ""}));
    EXPECT_EQ(Release(so), OPOS_E_ILLEGAL);
    ASSERT_EQ(Open(so, kDevice1), 0);
    EXPECT_EQ(Claim(so), 0);
    EXPECT_EQ(ClaimSlots(), (std::vector<std::string>{kDevice1, ""}));
}

}  // namespace
}  // namespace norvik::test

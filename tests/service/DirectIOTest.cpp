// DirectIO: when it reaches the reader, its reply, its event, and the
// by-reference arguments that the application's handler may change.
#include "support/ServiceFixture.h"

namespace norvik::test {
namespace {

constexpr int32_t kUntouched = static_cast<int32_t>(0xDEADBEEF);

class DirectIOTest : public ServiceTest {
protected:
    struct Outcome {
        bool reached;
        int32_t data, rc;
        std::string text;
    };
    static Outcome Run(ServiceObjectCore& so, const std::string& command, int32_t number = 0) {
        Outcome outcome{false, kUntouched, kUntouched, command};
        outcome.reached = so.DirectIO(number, &outcome.data, outcome.text, &outcome.rc);
        return outcome;
    }
    static size_t FeatureRequestLength() {
        unsigned char request[256];
        return static_cast<size_t>(VorlexSimGetLastFeatureRequest(request, sizeof request));
    }
};

TEST_F(DirectIOTest, NeitherClaimedNorEnabledReturnsAtOnceTouchingNothing) {
    ServiceObjectCore& so = NewInstance();
    ASSERT_EQ(Open(so, kDevice1), 0);
    Get(so, PIDX_OutputID);
    const Outcome outcome = Run(so, "04");
    EXPECT_FALSE(outcome.reached);
    EXPECT_EQ(outcome.rc, kUntouched);
    EXPECT_EQ(outcome.data, kUntouched);
    EXPECT_EQ(outcome.text, "04");
    EXPECT_EQ(Get(so, PIDX_ResultCode), OPOS_E_ILLEGAL);
    EXPECT_EQ(Get(so, PIDX_ResultCodeExtended), -1);
    EXPECT_EQ(events->Count(), 0u);

    // The event counter did not move either.
    int32_t rc = -1;
    so.ClaimDevice(0, &rc);
    Run(so, "04");
    ASSERT_EQ(events->Count(), 1u);
    EXPECT_EQ(events->Events().at(0).values, (std::vector<int32_t>{1}));
}

TEST_F(DirectIOTest, ClaimedButDisabledFailsAndStillRaisesNumberedEvents) {
    ServiceObjectCore& so = Claimed(kDevice1);
    int32_t expectedNumber = 0;
    for (int32_t command : {0, -1, 12345}) {
        SCOPED_TRACE(command);
        const Outcome outcome = Run(so, "04", command);
        EXPECT_TRUE(outcome.reached);
        EXPECT_EQ(outcome.rc, OPOS_E_FAILURE);
        EXPECT_EQ(outcome.data, 1);
        EXPECT_EQ(outcome.text, "");
        EXPECT_EQ(Get(so, PIDX_ResultCode), OPOS_E_FAILURE);
        EXPECT_EQ(Get(so, PIDX_ResultCodeExtended), 0);
        ++expectedNumber;
        ASSERT_EQ(events->Count(), static_cast<size_t>(expectedNumber));
        const RecordedEvent event = events->Events().back();
        EXPECT_EQ(event.method, "SODirectIO");
        EXPECT_EQ(event.values, (std::vector<int32_t>{expectedNumber}));
        EXPECT_EQ(event.longRef, 1);
        EXPECT_EQ(event.stringRef, "");
        EXPECT_EQ(event.thread, std::this_thread::get_id());
    }
    int32_t rc = -1;
    so.CloseService(&rc);
    ASSERT_EQ(Open(so, kDevice1), 0);  // the counter starts over
    so.ClaimDevice(0, &rc);
    Run(so, "04");
    EXPECT_EQ(events->Events().back().values, (std::vector<int32_t>{1}));
}

TEST_F(DirectIOTest, ReaderReplyComesBackWholeWithItsLength) {
    VorlexSimAttach(VORLEX_VENDOR_ID, VORLEX_PID_BASIC_SWIPE, 338, 128);
    ServiceObjectCore& so = Claimed(kDevice1);
    ASSERT_EQ(Set(so, PIDX_DeviceEnabled, 1), 0);
    unsigned char reply[128] = {0x00, 0x00, 100};
    std::string expected;
    for (int i = 0; i < 100; ++i) {
        reply[3 + i] = static_cast<unsigned char>(0xA0 + i % 16);
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02X", reply[3 + i]);
        expected += hex;
    }
    VorlexSimSetFeatureReply(reply, sizeof reply);
    const Outcome outcome = Run(so, "1A 0102");
    EXPECT_TRUE(outcome.reached);
    EXPECT_EQ(outcome.rc, 0);
    EXPECT_EQ(outcome.text, expected);  // 200 characters: not cut to 127
    EXPECT_EQ(outcome.data, 200);
    EXPECT_EQ(Get(so, PIDX_ResultCodeExtended), 0);
    unsigned char request[256];
    ASSERT_EQ(VorlexSimGetLastFeatureRequest(request, sizeof request), 128);
    EXPECT_EQ(request[1], 0x1A);
    EXPECT_EQ(request[2], 2);
    EXPECT_EQ(request[3], 0x01);
    EXPECT_EQ(request[4], 0x02);
    ASSERT_EQ(events->Count(), 1u);
    EXPECT_EQ(events->Events().at(0).longRef, 200);
    EXPECT_EQ(events->Events().at(0).stringRef, expected);

    // Enabled alone is enough, as claimed alone is.
    int32_t rc = -1;
    so.ReleaseDevice(&rc);
    VorlexSimSetFeatureReply(reply, sizeof reply);
    EXPECT_EQ(Run(so, "1A").rc, 0);
    EXPECT_EQ(events->Count(), 2u);
}

TEST_F(DirectIOTest, HandlerChangesReachTheCaller) {
    ServiceObjectCore& so = Enabled(kDevice1, false);
    const unsigned char reply[] = {0x00, 0x00, 0x01, 0x42};
    VorlexSimSetFeatureReply(reply, sizeof reply);
    events->SetHandler([](const std::string&, const EventArgument* arguments, int count) {
        ASSERT_EQ(count, 3);
        *arguments[1].longRef = 77;
        *arguments[2].stringRef = "changed by the application";
    });
    const Outcome outcome = Run(so, "05");
    EXPECT_EQ(outcome.rc, 0);
    EXPECT_EQ(outcome.data, 77);
    EXPECT_EQ(outcome.text, "changed by the application");
    EXPECT_EQ(events->Events().at(0).stringRef, "42");
}

TEST_F(DirectIOTest, EmptyMalformedAndOverlongCommandsSendNothing) {
    ServiceObjectCore& so = Enabled(kDevice1, false);
    for (const std::string command : {"", "zz", "0G", "04 x"}) {
        SCOPED_TRACE(command);
        const Outcome outcome = Run(so, command);
        EXPECT_TRUE(outcome.reached);
        EXPECT_EQ(outcome.rc, OPOS_E_FAILURE);
        EXPECT_EQ(outcome.data, 1);
        EXPECT_EQ(outcome.text, "");
        EXPECT_EQ(FeatureRequestLength(), 0u);
    }
    EXPECT_EQ(events->Count(), 4u);
    EXPECT_EQ(Get(so, PIDX_State), OPOS_S_IDLE);  // nothing was sent, so nothing failed

    const std::string overlong = "04" + std::string(258, '0');
    Outcome outcome = Run(so, overlong);
    EXPECT_FALSE(outcome.reached);
    EXPECT_EQ(outcome.rc, OPOS_E_ILLEGAL);
    EXPECT_EQ(Get(so, PIDX_ResultCode), OPOS_E_ILLEGAL);
    EXPECT_EQ(Get(so, PIDX_ResultCodeExtended), 0);
    EXPECT_EQ(outcome.data, kUntouched);
    EXPECT_EQ(outcome.text, overlong);
    EXPECT_EQ(FeatureRequestLength(), 0u);
    EXPECT_EQ(events->Count(), 4u);

    // 259 characters still go to the reader, which finds too many data bytes.
    outcome = Run(so, overlong.substr(1));
    EXPECT_TRUE(outcome.reached);
    EXPECT_EQ(outcome.rc, OPOS_E_FAILURE);
    EXPECT_EQ(events->Count(), 5u);
    EXPECT_EQ(events->Events().back().values, (std::vector<int32_t>{5}));
}

TEST_F(DirectIOTest, FailedTransferClosesTheReaderUntilDisabledAndEnabledAgain) {
    ServiceObjectCore& so = Enabled(kDevice1, false);
    VorlexSimFailNext(VORLEX_SIM_FAIL_SET_FEATURE);
    Outcome outcome = Run(so, "04");
    EXPECT_EQ(outcome.rc, OPOS_E_FAILURE);
    EXPECT_EQ(outcome.data, 1);
    EXPECT_EQ(Get(so, PIDX_State), OPOS_S_ERROR);
    EXPECT_EQ(Get(so, PIDX_DeviceEnabled), 1);
    const unsigned char reply[] = {0x00, 0x00, 0x01, 0x42};
    VorlexSimSetFeatureReply(reply, sizeof reply);
    EXPECT_EQ(Run(so, "04").rc, OPOS_E_FAILURE);

    ASSERT_EQ(Set(so, PIDX_DeviceEnabled, 0), 0);
    ASSERT_EQ(Set(so, PIDX_DeviceEnabled, 1), 0);
    EXPECT_EQ(Get(so, PIDX_State), OPOS_S_IDLE);
    outcome = Run(so, "04");
    EXPECT_EQ(outcome.rc, 0);
    EXPECT_EQ(outcome.text, "42");
    EXPECT_EQ(events->Events().back().values, (std::vector<int32_t>{3}));
}

}  // namespace
}  // namespace norvik::test

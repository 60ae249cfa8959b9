// RetrieveStatistics through the service object: when it answers, and what
// the document takes from the registry, the clock and the last data event.
#include "support/ServiceFixture.h"

namespace norvik::test {
namespace {

constexpr char kSimulatedSerial[] = "NVK-SIM-00000042";  // what the simulated encrypting reader reports

using StatisticsReportTest = ServiceTest;

std::string Element(const std::string& document, const std::string& name) {
    const std::string open = "<" + name + ">";
    const size_t begin = document.find(open);
    const size_t end = document.find("</" + name + ">");
    if (begin == std::string::npos || end == std::string::npos) return "missing";
    return document.substr(begin + open.size(), end - begin - open.size());
}

TEST_F(StatisticsReportTest, RefusedUnlessClaimedAndEnabledWithTheBufferUnchanged) {
    ServiceObjectCore& so = NewInstance();
    ASSERT_EQ(Open(so, kDevice1), 0);
    std::string buffer = "GoodReadCount";
    int32_t rc = -1;
    EXPECT_FALSE(so.RetrieveStatistics(buffer, &rc));
    EXPECT_EQ(rc, OPOS_E_NOTCLAIMED);
    EXPECT_EQ(Get(so, PIDX_ResultCodeExtended), 0);
    EXPECT_EQ(buffer, "GoodReadCount");
    so.ClaimDevice(0, &rc);
    EXPECT_FALSE(so.RetrieveStatistics(buffer, &rc));
    EXPECT_EQ(rc, OPOS_E_DISABLED);
    EXPECT_EQ(Get(so, PIDX_ResultCode), OPOS_E_DISABLED);
    EXPECT_EQ(buffer, "GoodReadCount");
}

TEST_F(StatisticsReportTest, DocumentNamesTheModelTheDateAndTheSerialOfTheLastDataEvent) {
    registry.SetString(kMsrKey + "\\" + kDevice1, "DeviceName", std::string(80, 'm'));
    ServiceObjectCore& basic = Enabled(kDevice1);
    ASSERT_TRUE(Swipe(kTrack1, kTrack2));
    ASSERT_TRUE(events->WaitForCount(1));
    std::string document;
    int32_t rc = -1;
    ASSERT_TRUE(basic.RetrieveStatistics(document, &rc));
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(Element(document, "ModelName"), std::string(63, 'm'));
    EXPECT_EQ(Element(document, "InstallationDate"), "07/04/2031");
    EXPECT_EQ(Element(document, "SerialNumber"), "");  // a plain reader has none
    EXPECT_EQ(Element(document, "GoodReadCount"), "missing");
    EXPECT_NE(document.find("<Name>GoodReadCount</Name>\n<Value>0</Value>"), std::string::npos);
    basic.CloseService(&rc);

    VorlexSimReset();
    ServiceObjectCore& secure = Enabled(kDevice2);
    ASSERT_TRUE(Swipe(kTrack1, kTrack2));
    ASSERT_TRUE(events->WaitForCount(2));
    document = "M_";
    ASSERT_TRUE(secure.RetrieveStatistics(document, &rc));
    EXPECT_EQ(Element(document, "ModelName"), kSecureModel);
    EXPECT_EQ(Element(document, "SerialNumber"), kSimulatedSerial);
    EXPECT_EQ(document.find("<Event>"), std::string::npos);
    EXPECT_EQ(Get(secure, PIDX_ResultCode), 0);
}

}  // namespace
}  // namespace norvik::test

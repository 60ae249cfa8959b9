// The numeric and string property tables: values, validation, result codes.
#include "support/ServiceFixture.h"

namespace norvik::test {
namespace {

class PropertyTest : public ServiceTest {
protected:
    void SetUp() override {
        ServiceTest::SetUp();
        so_ = &NewInstance();
        ASSERT_EQ(Open(*so_, kDevice1), 0);
    }
    ServiceObjectCore& so() { return *so_; }
    int32_t ResultCode() { return Get(so(), PIDX_ResultCode); }
    int32_t ResultCodeExtended() { return Get(so(), PIDX_ResultCodeExtended); }

private:
    ServiceObjectCore* so_ = nullptr;
};

TEST_F(PropertyTest, ReadsSetTheOutcomeAsEachIndexSays) {
    EXPECT_EQ(Get(so(), PIDX_OutputID), OPOS_E_ILLEGAL);
    EXPECT_EQ(ResultCode(), OPOS_E_ILLEGAL);
    EXPECT_EQ(ResultCodeExtended(), -1);
    EXPECT_EQ(ResultCode(), OPOS_E_ILLEGAL);  // reading the outcome keeps it

    for (int32_t unknown : {7016, 506, 0, 15, 7509, -1}) {
        EXPECT_EQ(Get(so(), unknown), OPOS_E_ILLEGAL) << unknown;
        EXPECT_EQ(ResultCode(), OPOS_E_ILLEGAL);
        EXPECT_EQ(ResultCodeExtended(), -1);
    }
    EXPECT_EQ(Get(so(), PIDX_PowerState), 2000);
    EXPECT_EQ(ResultCode(), 0);
    EXPECT_EQ(ResultCodeExtended(), 0);
    EXPECT_EQ(Get(so(), 7016), OPOS_E_ILLEGAL);
    EXPECT_EQ(ResultCode(), 0);

    EXPECT_EQ(Get(so(), PIDX_PowerNotify), 0);
    EXPECT_EQ(Get(so(), PIDX_CapPowerReporting), 0);
    for (int32_t index : {PIDX_CapCompareFirmwareVersion, PIDX_CapUpdateFirmware}) {
        EXPECT_EQ(Get(so(), index), 0);
        EXPECT_EQ(ResultCode(), OPOS_E_ILLEGAL);
        EXPECT_EQ(ResultCodeExtended(), 0);
    }
}

TEST_F(PropertyTest, NumericWritesAreValidatedAsTheTableSays) {
    EXPECT_EQ(Set(so(), PIDXMsr_TracksToRead, 15), 0);
    EXPECT_EQ(Set(so(), PIDXMsr_TracksToRead, 16), OPOS_E_ILLEGAL);
    EXPECT_EQ(ResultCodeExtended(), 0);
    EXPECT_EQ(Set(so(), PIDXMsr_TracksToRead, -1), OPOS_E_ILLEGAL);
    EXPECT_EQ(Get(so(), PIDXMsr_TracksToRead), 15);
    EXPECT_EQ(Set(so(), PIDXMsr_TracksToRead, 0), 0);
    EXPECT_EQ(Get(so(), PIDXMsr_TracksToRead), 0);

    EXPECT_EQ(Set(so(), PIDXMsr_ErrorReportingType, 1), 0);
    EXPECT_EQ(Set(so(), PIDXMsr_ErrorReportingType, 2), OPOS_E_ILLEGAL);
    EXPECT_EQ(Get(so(), PIDXMsr_ErrorReportingType), 1);

    EXPECT_EQ(Set(so(), PIDXMsr_DecodeData, 0), 0);
    EXPECT_EQ(Get(so(), PIDXMsr_ParseDecodeData), 1);
    EXPECT_EQ(Set(so(), PIDXMsr_ParseDecodeData, 1), 0);
    EXPECT_EQ(Get(so(), PIDXMsr_DecodeData), 1);
    EXPECT_EQ(Set(so(), PIDXMsr_DecodeData, 0), 0);
    EXPECT_EQ(Set(so(), PIDXMsr_ParseDecodeData, 2), 0);
    EXPECT_EQ(Get(so(), PIDXMsr_ParseDecodeData), 0);
    EXPECT_EQ(Get(so(), PIDXMsr_DecodeData), 0);

    for (int32_t index : {PIDX_AutoDisable, PIDX_BinaryConversion, PIDXMsr_TransmitSentinels}) {
        for (int32_t notOne : {2, -1}) {
            EXPECT_EQ(Set(so(), index, 1), 0);
            EXPECT_EQ(Set(so(), index, notOne), 0);
            EXPECT_EQ(Get(so(), index), 0) << index << " written with " << notOne;
        }
    }

    EXPECT_EQ(Set(so(), PIDXMsr_TracksToWrite, 0), OPOS_E_ILLEGAL);
    EXPECT_EQ(Get(so(), PIDXMsr_TracksToWrite), 0);
    // Read-only values and capabilities: the write succeeds and changes nothing.
    for (int32_t index : {PIDX_State, PIDX_ResultCode, PIDX_Claimed, PIDX_DataCount, PIDXMsr_CapISO,
                          PIDXMsr_CapDataEncryption, PIDX_CapStatisticsReporting, PIDX_PowerState}) {
        const int32_t before = Get(so(), index);
        EXPECT_EQ(Set(so(), index, 4), 0) << index;
        EXPECT_EQ(Get(so(), index), before) << index;
    }
    EXPECT_EQ(Set(so(), PIDX_DeviceEnabled, 0), 0);  // disabled already
    EXPECT_TRUE(clock.Sleeps().empty());
}

TEST_F(PropertyTest, DataEncryptionAlgorithmIsResetByKindOnlyWhileClaimedAndDisabled) {
    EXPECT_EQ(Get(so(), PIDXMsr_DataEncryptionAlgorithm), OPOS_E_ILLEGAL);
    EXPECT_EQ(ResultCode(), OPOS_E_ILLEGAL);
    EXPECT_EQ(Set(so(), PIDXMsr_DataEncryptionAlgorithm, 2), OPOS_E_ILLEGAL);

    ServiceObjectCore& secure = Claimed(kDevice2);
    EXPECT_EQ(Get(secure, PIDXMsr_DataEncryptionAlgorithm), MSR_DE_3DEA_DUKPT);
    EXPECT_EQ(ResultCode(), OPOS_E_ILLEGAL);  // the other instance keeps its own outcome
    EXPECT_EQ(Set(secure, PIDXMsr_DataEncryptionAlgorithm, 1), 0);
    EXPECT_EQ(Get(secure, PIDXMsr_DataEncryptionAlgorithm), MSR_DE_3DEA_DUKPT);
    EXPECT_EQ(Get(secure, PIDXMsr_CapDataEncryption), MSR_DE_3DEA_DUKPT);
    EXPECT_EQ(Get(secure, PIDXMsr_CapTrackDataMasking), 1);

    int32_t rc = -1;
    so().ClaimDevice(0, &rc);
    EXPECT_EQ(Set(so(), PIDXMsr_DataEncryptionAlgorithm, 2), OPOS_E_ILLEGAL);
    EXPECT_EQ(ResultCodeExtended(), 0);
    EXPECT_EQ(Get(so(), PIDXMsr_DataEncryptionAlgorithm), OPOS_E_ILLEGAL);
    EXPECT_EQ(Get(so(), PIDXMsr_CapDataEncryption), MSR_DE_NONE);

    AttachSecure();
    ASSERT_EQ(Set(secure, PIDX_DeviceEnabled, 1), 0);
    EXPECT_EQ(Set(secure, PIDXMsr_DataEncryptionAlgorithm, 2), OPOS_E_ILLEGAL);

    registry.SetDword(kMsrKey + "\\Norvik_MSR-2-Lane3", "DeviceType", 7);
    claims.Reset();
    ServiceObjectCore& unknownKind = Claimed("Norvik_MSR-2-Lane3");
    const int32_t algorithm = Get(unknownKind, PIDXMsr_DataEncryptionAlgorithm);
    const int32_t capability = Get(unknownKind, PIDXMsr_CapDataEncryption);
    EXPECT_EQ(Set(unknownKind, PIDXMsr_DataEncryptionAlgorithm, 2), 0);
    EXPECT_EQ(Get(unknownKind, PIDXMsr_DataEncryptionAlgorithm), algorithm);
    EXPECT_EQ(Get(unknownKind, PIDXMsr_CapDataEncryption), capability);
}

TEST_F(PropertyTest, StringTableReadsSucceedAndWritesAreNeverStored) {
    Get(so(), PIDX_OutputID);
    EXPECT_EQ(Text(so(), 1007026), "");
    EXPECT_EQ(ResultCode(), 0);
    EXPECT_EQ(ResultCodeExtended(), 0);
    EXPECT_EQ(Text(so(), 1000000), "");
    EXPECT_FALSE(Text(so(), PIDX_ServiceObjectDescription).empty());
    for (int32_t index : {PIDXMsr_Track1Data, PIDXMsr_Track4Data, PIDXMsr_CardAuthenticationData,
                          PIDXMsr_Track1EncryptedData, PIDXMsr_Surname}) {
        EXPECT_EQ(Text(so(), index), "") << index;
    }

    so().SetPropertyString(PIDXMsr_WriteCardType, "JIS");
    EXPECT_EQ(ResultCode(), OPOS_E_ILLEGAL);
    EXPECT_EQ(ResultCodeExtended(), 0);
    EXPECT_EQ(Text(so(), PIDXMsr_WriteCardType), "BANK");
    Get(so(), PIDX_OutputID);
    so().SetPropertyString(PIDX_DeviceName, "renamed");
    EXPECT_EQ(ResultCode(), 0);
    EXPECT_EQ(ResultCodeExtended(), 0);
    EXPECT_EQ(Text(so(), PIDX_DeviceName), kBasicModel);
    so().SetPropertyString(PIDXMsr_CardType, "JIS");
    EXPECT_EQ(Text(so(), PIDXMsr_CardType), "BANK");
}

TEST_F(PropertyTest, UnsupportedOperationsRefuseAndLeaveTheirOutArgumentsAlone) {
    using Refusal = void (ServiceObjectCore::*)(int32_t*);
    const Refusal refusals[] = {&ServiceObjectCore::UpdateFirmware,       &ServiceObjectCore::WriteTracks,
                                &ServiceObjectCore::AuthenticateDevice,   &ServiceObjectCore::DeauthenticateDevice,
                                &ServiceObjectCore::RetrieveDeviceAuthenticationData, &ServiceObjectCore::UpdateKey,
                                &ServiceObjectCore::ResetStatistics,      &ServiceObjectCore::UpdateStatistics};
    for (bool claimed : {false, true}) {
        if (claimed) {
            int32_t rc = -1;
            so().ClaimDevice(0, &rc);
        }
        for (Refusal refusal : refusals) {
            Get(so(), PIDX_OutputID);
            int32_t rc = -1;
            (so().*refusal)(&rc);
            EXPECT_EQ(rc, OPOS_E_ILLEGAL);
            EXPECT_EQ(ResultCode(), OPOS_E_ILLEGAL);
            EXPECT_EQ(ResultCodeExtended(), 0);
        }
        int32_t result = 0x5EED, rc = -1;
        so().CompareFirmwareVersion(&result, &rc);
        EXPECT_EQ(rc, OPOS_E_ILLEGAL);
        EXPECT_EQ(result, 0x5EED);
    }
    EXPECT_EQ(events->Count(), 0u);
}

}  // namespace
}  // namespace norvik::test

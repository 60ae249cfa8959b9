// OpenService: logical device names and their aliases, the device key's
// values, and every property's value after opening.
#include "support/ServiceFixture.h"

namespace norvik::test {
namespace {

constexpr char kFluxScribe[] = "FLUXSCRIBE \x96 VER 01";

class ConfigurationTest : public ServiceTest {
protected:
    // The model named by the device key that `name` opens, or the result code.
    std::string Resolve(const std::string& name) {
        ServiceObjectCore& instance = NewInstance();
        const int32_t rc = Open(instance, name);
        return rc == 0 ? Text(instance, PIDX_DeviceName) : "rc " + std::to_string(rc);
    }
    void AddDevice(const std::string& key, const std::string& model) {
        registry.SetDword(kMsrKey + "\\" + key, "DeviceType", 0);
        registry.SetString(kMsrKey + "\\" + key, "DeviceName", model);
    }
};

TEST_F(ConfigurationTest, EveryPropertyHasItsValueAfterOpeningABasicReader) {
    ServiceObjectCore& so = NewInstance();
    ASSERT_EQ(Open(so, kDevice1), 0);
    EXPECT_EQ(Get(so, PIDX_ResultCode), 0);
    EXPECT_EQ(Get(so, PIDX_ResultCodeExtended), 0);
    for (int32_t index : {PIDX_Claimed, PIDX_DeviceEnabled, PIDX_DataEventEnabled, PIDX_FreezeEvents,
                          PIDX_AutoDisable, PIDX_BinaryConversion, PIDX_DataCount, PIDXMsr_TransmitSentinels,
                          PIDXMsr_ErrorReportingType, PIDX_CapUpdateStatistics, PIDXMsr_CapTrackDataMasking,
                          PIDXMsr_TracksToWrite, PIDXMsr_CardAuthenticationDataLength,
                          PIDXMsr_Track1EncryptedDataLength}) {
        EXPECT_EQ(Get(so, index), 0) << "index " << index;
    }
    for (int32_t index : {PIDXMsr_DecodeData, PIDXMsr_ParseDecodeData, PIDXMsr_CapISO,
                          PIDXMsr_CapTransmitSentinels, PIDX_CapStatisticsReporting}) {
        EXPECT_EQ(Get(so, index), 1) << "index " << index;
    }
    EXPECT_EQ(Get(so, PIDX_State), OPOS_S_IDLE);
    EXPECT_EQ(Get(so, PIDXMsr_TracksToRead), 7);
    EXPECT_EQ(Get(so, PIDX_ServiceObjectVersion), 1013004);
    EXPECT_EQ(Get(so, PIDXMsr_CapDataEncryption), MSR_DE_NONE);
    EXPECT_EQ(Get(so, PIDXMsr_DataEncryptionAlgorithm), OPOS_E_ILLEGAL);  // not claimed

    EXPECT_EQ(Text(so, PIDX_CheckHealthText), "MSR CheckHealth INTERNAL: Successful");
    EXPECT_EQ(Text(so, PIDX_DeviceDescription), "Norvik USB swipe reader");
    EXPECT_EQ(Text(so, PIDX_DeviceName), kBasicModel);
    EXPECT_EQ(Text(so, PIDXMsr_CardPropertyList),
              "AccountNumber,ExpirationDate,FirstName,MiddleInitial,ServiceCode,Suffix,Surname,Title");
    for (int32_t index : {PIDXMsr_CardType, PIDXMsr_CardTypeList, PIDXMsr_WriteCardType}) {
        EXPECT_EQ(Text(so, index), "BANK");
    }
    EXPECT_EQ(Text(so, PIDXMsr_CapCardAuthentication), "");
    EXPECT_EQ(Text(so, PIDXMsr_Track1Data), "");
    EXPECT_EQ(Text(so, PIDXMsr_AccountNumber), "");
}

TEST_F(ConfigurationTest, EncryptionCapabilitiesFollowTheReaderKindInTheRegistry) {
    struct Case {
        const char* what;
        std::function<void(const std::string&)> write;
        int32_t capDataEncryption, algorithm, masking;
        const char* capCardAuthentication;
    };
    const Case cases[] = {
        {"dword 1", [&](const std::string& key) { registry.SetDword(key, "DeviceType", 1); }, 2, 2, 1, ""},
        {"string 1", [&](const std::string& key) { registry.SetString(key, "DeviceType", "1"); }, 2, 2, 1, ""},
        {"dword 0", [&](const std::string& key) { registry.SetDword(key, "DeviceType", 0); }, 1, 106, 0, ""},
        {"binary", [&](const std::string& key) { registry.SetBinary(key, "DeviceType", {1}); }, 1, 106, 0, ""},
        {"string 5", [&](const std::string& key) { registry.SetString(key, "DeviceType", "5"); }, 1, 1, 1,
         kFluxScribe},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        claims.Reset();
        c.write(kMsrKey + "\\" + kDevice2);
        ServiceObjectCore& so = NewInstance();
        ASSERT_EQ(Open(so, kDevice2), 0);
        int32_t rc = -1;
        so.ClaimDevice(0, &rc);
        ASSERT_EQ(rc, 0);
        EXPECT_EQ(Get(so, PIDXMsr_CapDataEncryption), c.capDataEncryption);
        EXPECT_EQ(Get(so, PIDXMsr_DataEncryptionAlgorithm), c.algorithm);
        EXPECT_EQ(Get(so, PIDXMsr_CapTrackDataMasking), c.masking);
        EXPECT_EQ(Text(so, PIDXMsr_CapCardAuthentication), c.capCardAuthentication);
        so.CloseService(&rc);
    }
}

TEST_F(ConfigurationTest, OpeningAgainStartsOverFromTheValuesAfterOpening) {
    ServiceObjectCore& so = NewInstance();
    ASSERT_EQ(Open(so, kDevice1), 0);
    Set(so, PIDXMsr_TracksToRead, 3);
    Set(so, PIDXMsr_ErrorReportingType, 1);
    Set(so, PIDXMsr_TransmitSentinels, 1);
    Set(so, PIDX_FreezeEvents, 1);
    Set(so, PIDX_AutoDisable, 1);
    Set(so, PIDX_BinaryConversion, 1);
    Set(so, PIDXMsr_ParseDecodeData, 0);
    Get(so, PIDX_OutputID);  // leaves ResultCode 106

    ASSERT_EQ(Open(so, kDevice2), 0);
    EXPECT_EQ(Get(so, PIDXMsr_TracksToRead), 7);
    EXPECT_EQ(Get(so, PIDXMsr_ErrorReportingType), 0);
    EXPECT_EQ(Get(so, PIDXMsr_TransmitSentinels), 0);
    EXPECT_EQ(Get(so, PIDX_FreezeEvents), 0);
    EXPECT_EQ(Get(so, PIDX_AutoDisable), 0);
    EXPECT_EQ(Get(so, PIDX_BinaryConversion), 0);
    EXPECT_EQ(Get(so, PIDXMsr_ParseDecodeData), 1);
    EXPECT_EQ(Get(so, PIDX_ResultCode), 0);
    EXPECT_EQ(Text(so, PIDX_DeviceName), kSecureModel);
    EXPECT_EQ(Get(so, PIDXMsr_CapDataEncryption), MSR_DE_3DEA_DUKPT);
}

TEST_F(ConfigurationTest, AliasesResolveByExactCaseSensitiveName) {
    registry.SetString(kMsrKey, "Lane7", kDevice2);
    registry.SetString(kMsrKey, "Lane8", kDevice2);
    registry.SetString(kMsrKey, kDevice1, kDevice2);  // an alias that shadows a device key
    EXPECT_EQ(Resolve("FrontLane"), kBasicModel);
    EXPECT_EQ(Resolve("SecureLane"), kSecureModel);
    EXPECT_EQ(Resolve("Lane7"), kSecureModel);
    EXPECT_EQ(Resolve("Lane8"), kSecureModel);
    EXPECT_EQ(Resolve(kDevice1), kSecureModel);
    EXPECT_EQ(Resolve(kDevice2), kSecureModel);  // not an alias: the device key itself
    EXPECT_EQ(Resolve("frontlane"), "rc 109");
    EXPECT_EQ(Resolve("FrontLane "), "rc 109");

    // The claim is recorded under the target, never under the alias.
    ServiceObjectCore& so = NewInstance();
    ASSERT_EQ(Open(so, "SecureLane"), 0);
    int32_t rc = -1;
    so.ClaimDevice(0, &rc);
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(ClaimSlots(), (std::vector<std::string>{kDevice2, ""}));
}

TEST_F(ConfigurationTest, AliasCountsByTheFirstTwelveCharactersOfItsDataAndTargetsTheWholeData) {
    AddDevice("Norvik_MSR-2-Lane3", "lane three reader");
    registry.SetString(kMsrKey, "Lane3", "Norvik_MSR-2-Lane3");
    registry.SetString(kMsrKey, "Shouting", "NORVIK_MSR-2");
    registry.SetString(kMsrKey, "Elsewhere", "Other_MSR-1");
    registry.SetDword(kMsrKey, "Numeric", 1);
    registry.SetString(kMsrKey, "Truncated", "Norvik_MSR-");
    EXPECT_EQ(Resolve("Lane3"), "lane three reader");
    EXPECT_EQ(Resolve("Shouting"), "rc 109");
    EXPECT_EQ(Resolve("Elsewhere"), "rc 109");
    EXPECT_EQ(Resolve("Numeric"), "rc 109");
    EXPECT_EQ(Resolve("Truncated"), "rc 109");
}

TEST_F(ConfigurationTest, UnknownDeviceFailsWithNoExistAndResultCodeFailure) {
    ServiceObjectCore& so = NewInstance();
    EXPECT_EQ(Open(so, "Norvik_MSR-9"), OPOS_E_NOEXIST);
    EXPECT_EQ(Get(so, PIDX_ResultCode), OPOS_E_FAILURE);
    EXPECT_EQ(Get(so, PIDX_ResultCodeExtended), OPOS_E_FAILURE);

    registry.DeleteKey(kMsrKey + "\\" + kDevice1);
    EXPECT_EQ(Resolve("FrontLane"), "rc 109");
    EXPECT_EQ(Resolve(kDevice2), kSecureModel);
}

TEST_F(ConfigurationTest, LongRegistryTextsAreCutToTheirProperties) {
    const std::string key = kMsrKey + "\\" + kDevice1;
    registry.SetString(key, "DeviceDesc", std::string(100, 'd'));
    registry.SetString(key, "DeviceName", std::string(120, 'n'));
    ServiceObjectCore& so = NewInstance();
    ASSERT_EQ(Open(so, kDevice1), 0);
    EXPECT_EQ(Text(so, PIDX_DeviceDescription), std::string(63, 'd'));
    EXPECT_EQ(Text(so, PIDX_DeviceName), std::string(95, 'n'));
}

TEST_F(ConfigurationTest, AliasTableKeepsTheFirstTwentyAliasesThatFit) {
    // Two aliases come from the fixture; names or targets of 30 characters
    // and more do not fit an entry and take none.
    registry.SetString(kMsrKey, "AnAliasNameOfThirtyCharacters!", kDevice2);
    registry.SetString(kMsrKey, "LongTarget", "Norvik_MSR-2-and-a-long-suffix");
    registry.SetString(kMsrKey, std::string(128, 'n'), kDevice2);  // unreadable name: skipped, the scan goes on
    AddDevice("Norvik_MSR-2-and-a-long-suffix", "long target reader");
    for (int i = 1; i <= 19; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "Lane%02d", i);
        registry.SetString(kMsrKey, name, kDevice2);
    }
    EXPECT_EQ(Resolve("Lane18"), kSecureModel);
    EXPECT_EQ(Resolve("Lane19"), "rc 109");
    EXPECT_EQ(Resolve("AnAliasNameOfThirtyCharacters!"), "rc 109");
    EXPECT_EQ(Resolve("LongTarget"), "rc 109");
}

}  // namespace
}  // namespace norvik::test

// The OPOS property values of one service object instance, in their fixed
// order, with the capacity of every text (terminator included). Texts are
// narrow, in the system ANSI code page.
#pragma once

#include <cstdint>

#include "common/BoundedText.h"

namespace norvik {

// OPOS values the service object uses.
enum : int32_t {
    OPOS_SUCCESS = 0,
    OPOS_E_CLAIMED = 102,
    OPOS_E_NOTCLAIMED = 103,
    OPOS_E_DISABLED = 105,
    OPOS_E_ILLEGAL = 106,
    OPOS_E_NOEXIST = 109,
    OPOS_E_FAILURE = 111,
    OPOS_E_TIMEOUT = 112,
    OPOS_E_EXTENDED = 114,
    OPOS_S_CLOSED = 1,
    OPOS_S_IDLE = 2,
    OPOS_S_BUSY = 3,
    OPOS_S_ERROR = 4,
    OPOS_CH_INTERNAL = 1,
    OPOS_PR_NONE = 0,
    OPOS_PR_STANDARD = 1,
    OPOS_PN_DISABLED = 0,
    OPOS_PN_ENABLED = 1,
    OPOS_PS_UNKNOWN = 2000,
    OPOS_PS_ONLINE = 2001,
    OPOS_PS_OFF_OFFLINE = 2004,
    OPOS_EL_INPUT = 2,
    OPOS_ER_CLEAR = 12,
    MSR_ERT_CARD = 0,
    MSR_ERT_TRACK = 1,
    MSR_TR_1 = 1,
    MSR_TR_2 = 2,
    MSR_TR_3 = 4,
    MSR_TR_4 = 8,
    MSR_TR_1_2_3 = 7,
    MSR_DE_NONE = 1,
    MSR_DE_3DEA_DUKPT = 2,
};

// ResultCodeExtended of a 111 when the claim table's lock was held elsewhere
// beyond its bound (a hung process, most likely).
inline constexpr int32_t kClaimTableBusy = OPOS_E_TIMEOUT;

// "FLUXSCRIBE", blank, en dash (0x96 in Windows-1252), blank, "VER 01".
inline constexpr const char kFluxScribeCapability[] = "FLUXSCRIBE \x96 VER 01";
inline constexpr const char kCardPropertyList[] =
    "AccountNumber,ExpirationDate,FirstName,MiddleInitial,ServiceCode,Suffix,Surname,Title";
inline constexpr const char kBankCardType[] = "BANK";

struct PropertyBlock {
    bool Claimed = false;
    bool ClaimedElsewhere = false;
    bool BinaryConversion = false;
    int32_t DirectIOEventNumber = 0;
    int32_t ResultCode = 0;
    int32_t ResultCodeExtended = 0;
    Text<64> CheckHealthText;
    Text<64> DeviceDescription;
    Text<96> DeviceName;
    int32_t ReaderKind = 0;

    bool AutoDisable = false;
    bool DataEventEnabled = false;
    bool DeviceEnabled = false;
    bool CapStatisticsReporting = false;
    bool CapUpdateStatistics = false;
    bool CapCompareFirmwareVersion = false;
    bool CapUpdateFirmware = false;
    int32_t State = OPOS_S_IDLE;
    int32_t CapPowerReporting = OPOS_PR_NONE;
    int32_t PowerNotify = OPOS_PN_DISABLED;
    bool ReaderOnline = false;  // the reader is open (PowerState while notifying)

    bool CapISO = false;
    bool CapJISOne = false;
    bool CapJISTwo = false;
    bool CapTransmitSentinels = false;
    bool CapWritableTracks = false;
    bool CapTrackDataMasking = false;
    bool DecodeData = false;
    bool DeviceAuthenticated = false;
    bool ParseDecodeData = false;
    bool TransmitSentinels = false;

    int32_t CapDataEncryption = 0;
    int32_t CapDeviceAuthentication = 0;
    int32_t TracksToRead = 0;
    int32_t ErrorReportingType = 0;
    int32_t EncodingMaxLength = 0;
    int32_t TracksToWrite = 0;
    int32_t CardAuthenticationDataLength = 0;
    int32_t DataEncryptionAlgorithm = 0;
    int32_t DeviceAuthenticationProtocol = 0;
    int32_t Track1EncryptedDataLength = 0;
    int32_t Track2EncryptedDataLength = 0;
    int32_t Track3EncryptedDataLength = 0;
    int32_t Track4EncryptedDataLength = 0;

    Text<256> CapCardAuthentication;

    Text<32> AccountNumber;
    Text<8> ExpirationDate;
    Text<32> FirstName;
    Text<16> MiddleInitial;
    Text<32> ServiceCode;
    Text<8> Suffix;
    Text<32> Surname;
    Text<16> Title;

    Text<256> Track1Data;
    Text<256> Track1DiscretionaryData;
    Text<256> Track2Data;
    Text<256> Track2DiscretionaryData;
    Text<256> Track3Data;
    Text<256> Track4Data;
    Text<256> AdditionalSecurityInformation;
    Text<256> CardAuthenticationData;
    Text<256> CardPropertyList;
    Text<32> CardType;
    Text<256> CardTypeList;
    Text<256> Track1EncryptedData;
    Text<256> Track2EncryptedData;
    Text<256> Track3EncryptedData;
    Text<256> Track4EncryptedData;
    Text<8> WriteCardType;
};

}  // namespace norvik

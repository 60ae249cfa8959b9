// OPOS values the control uses: result codes, states and the property indices under
// which it reaches the service object's properties.
#pragma once

namespace norvik::control {

enum OposResult : long {
    kOposSuccess = 0,
    kOposClosed = 101,
    kOposNoService = 104,
    kOposIllegal = 106,
    kOposNoExist = 109,
};

enum OposState : long { kOposStateClosed = 1 };

// Property indices: numbers as given, strings at 1000000 + n.
namespace pidx {
constexpr long kClaimed = 1;
constexpr long kDataEventEnabled = 2;
constexpr long kDeviceEnabled = 3;
constexpr long kFreezeEvents = 4;
constexpr long kResultCode = 6;
constexpr long kResultCodeExtended = 7;
constexpr long kServiceObjectVersion = 8;
constexpr long kState = 9;
constexpr long kAutoDisable = 10;
constexpr long kBinaryConversion = 11;
constexpr long kDataCount = 12;
constexpr long kPowerNotify = 13;
constexpr long kPowerState = 14;
constexpr long kCapPowerReporting = 501;
constexpr long kCapStatisticsReporting = 502;
constexpr long kCapUpdateStatistics = 503;
constexpr long kCapCompareFirmwareVersion = 504;
constexpr long kCapUpdateFirmware = 505;

constexpr long kDecodeData = 7001;
constexpr long kParseDecodeData = 7002;
constexpr long kTracksToRead = 7003;
constexpr long kErrorReportingType = 7004;
constexpr long kTransmitSentinels = 7005;
constexpr long kEncodingMaxLength = 7006;
constexpr long kTracksToWrite = 7007;
constexpr long kCardAuthenticationDataLength = 7008;
constexpr long kDataEncryptionAlgorithm = 7009;
constexpr long kDeviceAuthenticated = 7010;
constexpr long kDeviceAuthenticationProtocol = 7011;
constexpr long kTrack1EncryptedDataLength = 7012;
constexpr long kTrack2EncryptedDataLength = 7013;
constexpr long kTrack3EncryptedDataLength = 7014;
constexpr long kTrack4EncryptedDataLength = 7015;
constexpr long kCapISO = 7501;
constexpr long kCapJISOne = 7502;
constexpr long kCapJISTwo = 7503;
constexpr long kCapTransmitSentinels = 7504;
constexpr long kCapWritableTracks = 7505;
constexpr long kCapDataEncryption = 7506;
constexpr long kCapDeviceAuthentication = 7507;
constexpr long kCapTrackDataMasking = 7508;

constexpr long kCheckHealthText = 1000001;
constexpr long kDeviceDescription = 1000002;
constexpr long kDeviceName = 1000003;
constexpr long kServiceObjectDescription = 1000004;

constexpr long kAccountNumber = 1007001;
constexpr long kExpirationDate = 1007002;
constexpr long kFirstName = 1007003;
constexpr long kMiddleInitial = 1007004;
constexpr long kServiceCode = 1007005;
constexpr long kSuffix = 1007006;
constexpr long kSurname = 1007007;
constexpr long kTitle = 1007008;
constexpr long kTrack1Data = 1007009;
constexpr long kTrack1DiscretionaryData = 1007010;
constexpr long kTrack2Data = 1007011;
constexpr long kTrack2DiscretionaryData = 1007012;
constexpr long kTrack3Data = 1007013;
constexpr long kTrack4Data = 1007014;
constexpr long kAdditionalSecurityInformation = 1007015;
constexpr long kCapCardAuthentication = 1007016;
constexpr long kCardAuthenticationData = 1007017;
constexpr long kCardPropertyList = 1007018;
constexpr long kCardType = 1007019;
constexpr long kCardTypeList = 1007020;
constexpr long kTrack1EncryptedData = 1007021;
constexpr long kTrack2EncryptedData = 1007022;
constexpr long kTrack3EncryptedData = 1007023;
constexpr long kTrack4EncryptedData = 1007024;
constexpr long kWriteCardType = 1007025;
}  // namespace pidx

}  // namespace norvik::control

// OPOS property indices as the control object passes them, and the result
// codes the tests compare with.
#pragma once

#include <cstdint>

#include "properties/PropertyBlock.h"

namespace norvik::test {

enum PropertyIndex : int32_t {
    PIDX_Claimed = 1,
    PIDX_DataEventEnabled = 2,
    PIDX_DeviceEnabled = 3,
    PIDX_FreezeEvents = 4,
    PIDX_OutputID = 5,
    PIDX_ResultCode = 6,
    PIDX_ResultCodeExtended = 7,
    PIDX_ServiceObjectVersion = 8,
    PIDX_State = 9,
    PIDX_AutoDisable = 10,
    PIDX_BinaryConversion = 11,
    PIDX_DataCount = 12,
    PIDX_PowerNotify = 13,
    PIDX_PowerState = 14,
    PIDX_CapPowerReporting = 501,
    PIDX_CapStatisticsReporting = 502,
    PIDX_CapUpdateStatistics = 503,
    PIDX_CapCompareFirmwareVersion = 504,
    PIDX_CapUpdateFirmware = 505,
    PIDXMsr_DecodeData = 7001,
    PIDXMsr_ParseDecodeData = 7002,
    PIDXMsr_TracksToRead = 7003,
    PIDXMsr_ErrorReportingType = 7004,
    PIDXMsr_TransmitSentinels = 7005,
    PIDXMsr_TracksToWrite = 7007,
    PIDXMsr_CardAuthenticationDataLength = 7008,
    PIDXMsr_DataEncryptionAlgorithm = 7009,
    PIDXMsr_Track1EncryptedDataLength = 7012,
    PIDXMsr_CapISO = 7501,
    PIDXMsr_CapTransmitSentinels = 7504,
    PIDXMsr_CapDataEncryption = 7506,
    PIDXMsr_CapTrackDataMasking = 7508,

    PIDX_CheckHealthText = 1000001,
    PIDX_DeviceDescription = 1000002,
    PIDX_DeviceName = 1000003,
    PIDX_ServiceObjectDescription = 1000004,
    PIDXMsr_AccountNumber = 1007001,
    PIDXMsr_ExpirationDate = 1007002,
    PIDXMsr_FirstName = 1007003,
    PIDXMsr_MiddleInitial = 1007004,
    PIDXMsr_ServiceCode = 1007005,
    PIDXMsr_Surname = 1007007,
    PIDXMsr_Track1Data = 1007009,
    PIDXMsr_Track1DiscretionaryData = 1007010,
    PIDXMsr_Track2Data = 1007011,
    PIDXMsr_Track2DiscretionaryData = 1007012,
    PIDXMsr_Track3Data = 1007013,
    PIDXMsr_Track4Data = 1007014,
    PIDXMsr_AdditionalSecurityInformation = 1007015,
    PIDXMsr_CapCardAuthentication = 1007016,
    PIDXMsr_CardAuthenticationData = 1007017,
    PIDXMsr_CardPropertyList = 1007018,
    PIDXMsr_CardType = 1007019,
    PIDXMsr_CardTypeList = 1007020,
    PIDXMsr_Track1EncryptedData = 1007021,
    PIDXMsr_WriteCardType = 1007025,
};

}  // namespace norvik::test

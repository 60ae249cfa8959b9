#include "logic/PropertyRules.h"

#include "common/OposProperties.h"

namespace norvik {
namespace {

constexpr char kServiceObjectDescription[] =
    "Norvik OPOS MSR Service Object, (C) 2026 Norvik Retail Systems";

}  // namespace

NumberRead ReadNumberProperty(const PropertyBlock& props, int32_t index, const SharedPropertyValues& shared) {
    NumberRead read;
    read.value = OPOS_E_ILLEGAL;
    switch (index) {
        case PIDX_Claimed: read.value = props.Claimed; break;
        case PIDX_DataEventEnabled: read.value = props.DataEventEnabled; break;
        case PIDX_DeviceEnabled: read.value = props.DeviceEnabled; break;
        case PIDX_FreezeEvents: read.value = shared.freezeEvents; break;
        case PIDX_OutputID: read.resultCode = OPOS_E_ILLEGAL; read.resultCodeExtended = -1; break;
        case PIDX_ResultCode:
        case PIDX_ResultCodeExtended:
            // Reading the outcome leaves it as it is.
            read.value = index == PIDX_ResultCode ? props.ResultCode : props.ResultCodeExtended;
            read.setsResult = false;
            return read;
        case PIDX_ServiceObjectVersion: read.value = kServiceObjectVersion; break;
        case PIDX_State: read.value = props.State; break;
        case PIDX_AutoDisable: read.value = props.AutoDisable; break;
        case PIDX_BinaryConversion: read.value = props.BinaryConversion; break;
        case PIDX_DataCount: read.value = shared.dataCount; break;
        case PIDX_PowerNotify: read.value = props.PowerNotify; break;
        case PIDX_PowerState: read.value = PowerState(props); break;
        case PIDX_CapPowerReporting: read.value = props.CapPowerReporting; break;
        case PIDX_CapStatisticsReporting: read.value = props.CapStatisticsReporting; break;
        case PIDX_CapUpdateStatistics: read.value = props.CapUpdateStatistics; break;
        case PIDX_CapCompareFirmwareVersion: read.value = props.CapCompareFirmwareVersion; read.resultCode = OPOS_E_ILLEGAL; break;
        case PIDX_CapUpdateFirmware: read.value = props.CapUpdateFirmware; read.resultCode = OPOS_E_ILLEGAL; break;
        case PIDXMsr_DecodeData: read.value = props.DecodeData; break;
        case PIDXMsr_ParseDecodeData: read.value = props.ParseDecodeData; break;
        case PIDXMsr_TracksToRead: read.value = props.TracksToRead; break;
        case PIDXMsr_ErrorReportingType: read.value = props.ErrorReportingType; break;
        case PIDXMsr_TransmitSentinels: read.value = props.TransmitSentinels; break;
        case PIDXMsr_EncodingMaxLength: read.value = props.EncodingMaxLength; break;
        case PIDXMsr_TracksToWrite: read.value = props.TracksToWrite; break;
        case PIDXMsr_CardAuthenticationDataLength: read.value = props.CardAuthenticationDataLength; break;
        case PIDXMsr_DataEncryptionAlgorithm:
            if (props.Claimed) {
                read.value = props.DataEncryptionAlgorithm;
            } else {
                read.resultCode = OPOS_E_ILLEGAL;
            }
            break;
        case PIDXMsr_DeviceAuthenticated: read.value = props.DeviceAuthenticated; break;
        case PIDXMsr_DeviceAuthenticationProtocol: read.value = props.DeviceAuthenticationProtocol; break;
        case PIDXMsr_Track1EncryptedDataLength: read.value = props.Track1EncryptedDataLength; break;
        case PIDXMsr_Track2EncryptedDataLength: read.value = props.Track2EncryptedDataLength; break;
        case PIDXMsr_Track3EncryptedDataLength: read.value = props.Track3EncryptedDataLength; break;
        case PIDXMsr_Track4EncryptedDataLength: read.value = props.Track4EncryptedDataLength; break;
        case PIDXMsr_CapISO: read.value = props.CapISO; break;
        case PIDXMsr_CapJISOne: read.value = props.CapJISOne; break;
        case PIDXMsr_CapJISTwo: read.value = props.CapJISTwo; break;
        case PIDXMsr_CapTransmitSentinels: read.value = props.CapTransmitSentinels; break;
        case PIDXMsr_CapWritableTracks: read.value = props.CapWritableTracks; break;
        case PIDXMsr_CapDataEncryption: read.value = props.CapDataEncryption; break;
        case PIDXMsr_CapDeviceAuthentication: read.value = props.CapDeviceAuthentication; break;
        case PIDXMsr_CapTrackDataMasking: read.value = props.CapTrackDataMasking; break;
        default:
            // Unknown index: 106, and the outcome of the last call stays.
            read.value = OPOS_E_ILLEGAL;
            read.setsResult = false;
            return read;
    }
    return read;
}

NumberWrite WriteNumberProperty(PropertyBlock& props, int32_t index, int32_t number) {
    const bool flag = number == 1;
    props.ResultCode = props.ResultCodeExtended = OPOS_SUCCESS;
    switch (index) {
        case PIDX_DeviceEnabled: return NumberWrite::DeviceEnabled;
        case PIDX_DataEventEnabled:
            props.DataEventEnabled = flag;
            return NumberWrite::DataEventEnabled;
        case PIDX_FreezeEvents: return NumberWrite::FreezeEvents;
        case PIDX_PowerNotify:
            // Without power reporting the write is ignored, as for any read-only property.
            if (props.CapPowerReporting == OPOS_PR_NONE) break;
            if (props.DeviceEnabled || (number != OPOS_PN_DISABLED && number != OPOS_PN_ENABLED)) {
                props.ResultCode = OPOS_E_ILLEGAL;
                break;
            }
            props.PowerNotify = number;
            break;
        case PIDX_AutoDisable: props.AutoDisable = flag; break;
        case PIDX_BinaryConversion: props.BinaryConversion = flag; break;
        case PIDXMsr_DecodeData: props.DecodeData = flag; break;
        case PIDXMsr_ParseDecodeData:
            if (flag) props.DecodeData = true;
            props.ParseDecodeData = flag;
            break;
        case PIDXMsr_TracksToRead:
            if (static_cast<uint32_t>(number) <= 15) {
                props.TracksToRead = number;
            } else {
                props.ResultCode = OPOS_E_ILLEGAL;
            }
            break;
        case PIDXMsr_ErrorReportingType:
            if (number == MSR_ERT_CARD || number == MSR_ERT_TRACK) {
                props.ErrorReportingType = number;
            } else {
                props.ResultCode = OPOS_E_ILLEGAL;
            }
            break;
        case PIDXMsr_TransmitSentinels:
            props.TransmitSentinels = flag;
            return NumberWrite::TransmitSentinels;
        case PIDXMsr_TracksToWrite: props.ResultCode = OPOS_E_ILLEGAL; break;
        case PIDXMsr_DataEncryptionAlgorithm:
            if (!props.Claimed || props.DeviceEnabled) {
                props.ResultCode = OPOS_E_ILLEGAL;
                break;
            }
            ApplyEncryptionCapabilities(props, false);
            if (props.ReaderKind == 0) props.ResultCode = OPOS_E_ILLEGAL;
            break;
        default: break;  // read-only, capability or unknown: ignored
    }
    return NumberWrite::Done;
}

int32_t PowerState(const PropertyBlock& props) {
    if (props.CapPowerReporting == OPOS_PR_NONE || !props.DeviceEnabled || props.PowerNotify != OPOS_PN_ENABLED) {
        return OPOS_PS_UNKNOWN;
    }
    return props.ReaderOnline ? OPOS_PS_ONLINE : OPOS_PS_OFF_OFFLINE;
}

bool NotifiesPower(const PropertyBlock& props) {
    return props.CapPowerReporting != OPOS_PR_NONE && props.PowerNotify == OPOS_PN_ENABLED;
}

std::string_view ReadStringProperty(const PropertyBlock& props, int32_t index) {
    switch (index) {
        case PIDX_CheckHealthText: return props.CheckHealthText.view();
        case PIDX_DeviceDescription: return props.DeviceDescription.view();
        case PIDX_DeviceName: return props.DeviceName.view();
        case PIDX_ServiceObjectDescription: return kServiceObjectDescription;
        case PIDXMsr_AccountNumber: return props.AccountNumber.view();
        case PIDXMsr_ExpirationDate: return props.ExpirationDate.view();
        case PIDXMsr_FirstName: return props.FirstName.view();
        case PIDXMsr_MiddleInitial: return props.MiddleInitial.view();
        case PIDXMsr_ServiceCode: return props.ServiceCode.view();
        case PIDXMsr_Suffix: return props.Suffix.view();
        case PIDXMsr_Surname: return props.Surname.view();
        case PIDXMsr_Title: return props.Title.view();
        case PIDXMsr_Track1Data: return props.Track1Data.view();
        case PIDXMsr_Track1DiscretionaryData: return props.Track1DiscretionaryData.view();
        case PIDXMsr_Track2Data: return props.Track2Data.view();
        case PIDXMsr_Track2DiscretionaryData: return props.Track2DiscretionaryData.view();
        case PIDXMsr_Track3Data: return props.Track3Data.view();
        case PIDXMsr_Track4Data: return props.Track4Data.view();
        case PIDXMsr_AdditionalSecurityInformation: return props.AdditionalSecurityInformation.view();
        case PIDXMsr_CapCardAuthentication: return props.CapCardAuthentication.view();
        case PIDXMsr_CardAuthenticationData: return props.CardAuthenticationData.view();
        case PIDXMsr_CardPropertyList: return props.CardPropertyList.view();
        case PIDXMsr_CardType: return props.CardType.view();
        case PIDXMsr_CardTypeList: return props.CardTypeList.view();
        case PIDXMsr_Track1EncryptedData: return props.Track1EncryptedData.view();
        case PIDXMsr_Track2EncryptedData: return props.Track2EncryptedData.view();
        case PIDXMsr_Track3EncryptedData: return props.Track3EncryptedData.view();
        case PIDXMsr_Track4EncryptedData: return props.Track4EncryptedData.view();
        case PIDXMsr_WriteCardType: return props.WriteCardType.view();
        default: return {};
    }
}

void WriteStringProperty(PropertyBlock& props, int32_t index) {
    props.ResultCode = props.ResultCodeExtended = OPOS_SUCCESS;
    if (index == PIDXMsr_WriteCardType) props.ResultCode = OPOS_E_ILLEGAL;
}

void ResetPropertiesForOpen(PropertyBlock& props) {
    const int32_t readerKind = props.ReaderKind;
    props = PropertyBlock{};
    props.ReaderKind = readerKind;
    props.ResultCode = props.ResultCodeExtended = -1;
    props.DirectIOEventNumber = 1;
    props.State = OPOS_S_IDLE;
    props.CheckHealthText = kHealthSuccessful;
    props.CapISO = props.CapTransmitSentinels = true;
    props.DecodeData = props.ParseDecodeData = true;
    props.TracksToRead = MSR_TR_1_2_3;
    props.ErrorReportingType = MSR_ERT_CARD;
    props.CapCardAuthentication = kFluxScribeCapability;
    props.CapTrackDataMasking = true;
    props.CardPropertyList = kCardPropertyList;
    props.CardType = kBankCardType;
    props.CardTypeList = kBankCardType;
    props.WriteCardType = kBankCardType;
}

void ApplyEncryptionCapabilities(PropertyBlock& props, bool atOpen) {
    switch (props.ReaderKind) {
        case 0:
            props.CapDataEncryption = MSR_DE_NONE;
            props.DataEncryptionAlgorithm = OPOS_E_ILLEGAL;
            props.CapTrackDataMasking = false;
            if (atOpen) props.CapCardAuthentication.Clear();
            break;
        case 1:
            props.CapDataEncryption = MSR_DE_3DEA_DUKPT;
            props.DataEncryptionAlgorithm = MSR_DE_3DEA_DUKPT;
            props.CapTrackDataMasking = true;
            if (atOpen) props.CapCardAuthentication.Clear();
            break;
        default:
            // Unknown kinds keep what they hold; at open that is the defaults
            // (no encryption offered), never values left from an earlier open.
            if (atOpen) {
                props.CapDataEncryption = MSR_DE_NONE;
                props.DataEncryptionAlgorithm = MSR_DE_NONE;
            }
            break;
    }
}

}  // namespace norvik

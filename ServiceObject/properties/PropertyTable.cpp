// The numeric and string properties by OPOS index, with their validation,
// result codes and the side effects of writes.
#include "card_input/TrackParser.h"
#include "common/OposProperties.h"
#include "framework/ServiceObjectImpl.h"

namespace norvik {
namespace {


constexpr char kServiceObjectDescription[] =
    "Norvik OPOS MSR Service Object, (C) 2026 Norvik Retail Systems";

}  // namespace

void ServiceObjectCore::Impl::GetPropertyNumber(int32_t propIndex, int32_t* pNumber) {
    ProcessState& ps = Process();
    std::lock_guard<std::mutex> lock(ps.mutex);
    int32_t value = OPOS_E_ILLEGAL;
    int32_t rc = OPOS_SUCCESS;
    int32_t rce = OPOS_SUCCESS;
    switch (propIndex) {
        case PIDX_Claimed: value = props.Claimed; break;
        case PIDX_DataEventEnabled: value = props.DataEventEnabled; break;
        case PIDX_DeviceEnabled: value = props.DeviceEnabled; break;
        case PIDX_FreezeEvents: value = ps.freezeEvents; break;
        case PIDX_OutputID: rc = OPOS_E_ILLEGAL; rce = -1; break;
        case PIDX_ResultCode:
        case PIDX_ResultCodeExtended:
            // Reading the outcome leaves it as it is.
            if (pNumber) *pNumber = propIndex == PIDX_ResultCode ? props.ResultCode : props.ResultCodeExtended;
            return;
        case PIDX_ServiceObjectVersion: value = kServiceObjectVersion; break;
        case PIDX_State: value = props.State; break;
        case PIDX_AutoDisable: value = props.AutoDisable; break;
        case PIDX_BinaryConversion: value = props.BinaryConversion; break;
        case PIDX_DataCount: value = ps.dataCount; break;
        case PIDX_PowerNotify: value = OPOS_PN_DISABLED; break;
        case PIDX_PowerState: value = OPOS_PS_UNKNOWN; break;
        case PIDX_CapPowerReporting: value = OPOS_PR_NONE; break;
        case PIDX_CapStatisticsReporting: value = props.CapStatisticsReporting; break;
        case PIDX_CapUpdateStatistics: value = props.CapUpdateStatistics; break;
        case PIDX_CapCompareFirmwareVersion: value = props.CapCompareFirmwareVersion; rc = OPOS_E_ILLEGAL; break;
        case PIDX_CapUpdateFirmware: value = props.CapUpdateFirmware; rc = OPOS_E_ILLEGAL; break;
        case PIDXMsr_DecodeData: value = props.DecodeData; break;
        case PIDXMsr_ParseDecodeData: value = props.ParseDecodeData; break;
        case PIDXMsr_TracksToRead: value = props.TracksToRead; break;
        case PIDXMsr_ErrorReportingType: value = props.ErrorReportingType; break;
        case PIDXMsr_TransmitSentinels: value = props.TransmitSentinels; break;
        case PIDXMsr_EncodingMaxLength: value = props.EncodingMaxLength; break;
        case PIDXMsr_TracksToWrite: value = props.TracksToWrite; break;
        case PIDXMsr_CardAuthenticationDataLength: value = props.CardAuthenticationDataLength; break;
        case PIDXMsr_DataEncryptionAlgorithm:
            if (props.Claimed) {
                value = props.DataEncryptionAlgorithm;
            } else {
                rc = OPOS_E_ILLEGAL;
            }
            break;
        case PIDXMsr_DeviceAuthenticated: value = props.DeviceAuthenticated; break;
        case PIDXMsr_DeviceAuthenticationProtocol: value = props.DeviceAuthenticationProtocol; break;
        case PIDXMsr_Track1EncryptedDataLength: value = props.Track1EncryptedDataLength; break;
        case PIDXMsr_Track2EncryptedDataLength: value = props.Track2EncryptedDataLength; break;
        case PIDXMsr_Track3EncryptedDataLength: value = props.Track3EncryptedDataLength; break;
        case PIDXMsr_Track4EncryptedDataLength: value = props.Track4EncryptedDataLength; break;
        case PIDXMsr_CapISO: value = props.CapISO; break;
        case PIDXMsr_CapJISOne: value = props.CapJISOne; break;
        case PIDXMsr_CapJISTwo: value = props.CapJISTwo; break;
        case PIDXMsr_CapTransmitSentinels: value = props.CapTransmitSentinels; break;
        case PIDXMsr_CapWritableTracks: value = props.CapWritableTracks; break;
        case PIDXMsr_CapDataEncryption: value = props.CapDataEncryption; break;
        case PIDXMsr_CapDeviceAuthentication: value = props.CapDeviceAuthentication; break;
        case PIDXMsr_CapTrackDataMasking: value = props.CapTrackDataMasking; break;
        default:
            // Unknown index: 106, and the outcome of the last call stays.
            if (pNumber) *pNumber = OPOS_E_ILLEGAL;
            return;
    }
    if (pNumber) *pNumber = value;
    props.ResultCode = rc;
    props.ResultCodeExtended = rce;
}

void ServiceObjectCore::Impl::SetPropertyNumber(int32_t propIndex, int32_t number) {
    ProcessState& ps = Process();
    const bool flag = number == 1;
    std::unique_lock<std::mutex> lock(ps.mutex);
    props.ResultCode = props.ResultCodeExtended = OPOS_SUCCESS;
    switch (propIndex) {
        case PIDX_DeviceEnabled:
            if (flag) {
                if (!props.Claimed) {
                    props.ResultCode = OPOS_E_NOTCLAIMED;
                    if (props.DeviceEnabled) {
                        // Released while enabled: the flag goes false, and the
                        // reader goes with it rather than stay open for good.
                        lock.unlock();
                        setDeviceEnabled(false);
                        return;
                    }
                } else if (props.ClaimedElsewhere) {
                    props.ResultCode = OPOS_E_CLAIMED;
                } else if (!props.DeviceEnabled) {
                    lock.unlock();
                    const bool enabled = setDeviceEnabled(true);
                    lock.lock();
                    if (!enabled) {
                        props.DeviceEnabled = false;
                        props.ResultCode = OPOS_E_FAILURE;
                    }
                }
            } else if (props.DeviceEnabled) {
                lock.unlock();
                setDeviceEnabled(false);
            }
            return;
        case PIDX_DataEventEnabled: {
            props.DataEventEnabled = flag;
            const bool deliver = flag && ps.dataCount > 0;
            lock.unlock();
            if (deliver) FireEnqueuedDataEvents();
            return;
        }
        case PIDX_FreezeEvents: {
            ps.freezeEvents = flag;
            const bool thaw = !flag && ps.frozenLast >= 0;
            lock.unlock();
            if (thaw) FireEnqueuedEvents();
            return;
        }
        case PIDX_AutoDisable: props.AutoDisable = flag; return;
        case PIDX_BinaryConversion: props.BinaryConversion = flag; return;
        case PIDXMsr_DecodeData: props.DecodeData = flag; return;
        case PIDXMsr_ParseDecodeData:
            if (flag) props.DecodeData = true;
            props.ParseDecodeData = flag;
            return;
        case PIDXMsr_TracksToRead:
            if (static_cast<uint32_t>(number) <= 15) {
                props.TracksToRead = number;
            } else {
                props.ResultCode = OPOS_E_ILLEGAL;
            }
            return;
        case PIDXMsr_ErrorReportingType:
            if (number == MSR_ERT_CARD || number == MSR_ERT_TRACK) {
                props.ErrorReportingType = number;
            } else {
                props.ResultCode = OPOS_E_ILLEGAL;
            }
            return;
        case PIDXMsr_TransmitSentinels: {
            props.TransmitSentinels = flag;
            // The rebuild works on the current instance, the one constructed last.
            if (Impl* instance = ps.current) ProcessSentinels(instance->props, ps.currentRecord);
            return;
        }
        case PIDXMsr_TracksToWrite:
            props.ResultCode = OPOS_E_ILLEGAL;
            return;
        case PIDXMsr_DataEncryptionAlgorithm:
            if (!props.Claimed || props.DeviceEnabled) {
                props.ResultCode = OPOS_E_ILLEGAL;
                return;
            }
            ApplyEncryptionCapabilities(false);
            if (props.ReaderKind == 0) props.ResultCode = OPOS_E_ILLEGAL;
            return;
        default:
            return;  // read-only, capability or unknown: ignored
    }
}

void ServiceObjectCore::Impl::GetPropertyString(int32_t propIndex, std::string& value) {
    std::lock_guard<std::mutex> lock(Process().mutex);
    props.ResultCode = props.ResultCodeExtended = OPOS_SUCCESS;
    std::string_view text;
    switch (propIndex) {
        case PIDX_CheckHealthText: text = props.CheckHealthText.view(); break;
        case PIDX_DeviceDescription: text = props.DeviceDescription.view(); break;
        case PIDX_DeviceName: text = props.DeviceName.view(); break;
        case PIDX_ServiceObjectDescription: text = kServiceObjectDescription; break;
        case PIDXMsr_AccountNumber: text = props.AccountNumber.view(); break;
        case PIDXMsr_ExpirationDate: text = props.ExpirationDate.view(); break;
        case PIDXMsr_FirstName: text = props.FirstName.view(); break;
        case PIDXMsr_MiddleInitial: text = props.MiddleInitial.view(); break;
        case PIDXMsr_ServiceCode: text = props.ServiceCode.view(); break;
        case PIDXMsr_Suffix: text = props.Suffix.view(); break;
        case PIDXMsr_Surname: text = props.Surname.view(); break;
        case PIDXMsr_Title: text = props.Title.view(); break;
        case PIDXMsr_Track1Data: text = props.Track1Data.view(); break;
        case PIDXMsr_Track1DiscretionaryData: text = props.Track1DiscretionaryData.view(); break;
        case PIDXMsr_Track2Data: text = props.Track2Data.view(); break;
        case PIDXMsr_Track2DiscretionaryData: text = props.Track2DiscretionaryData.view(); break;
        case PIDXMsr_Track3Data: text = props.Track3Data.view(); break;
        case PIDXMsr_Track4Data: text = props.Track4Data.view(); break;
        case PIDXMsr_AdditionalSecurityInformation: text = props.AdditionalSecurityInformation.view(); break;
        case PIDXMsr_CapCardAuthentication: text = props.CapCardAuthentication.view(); break;
        case PIDXMsr_CardAuthenticationData: text = props.CardAuthenticationData.view(); break;
        case PIDXMsr_CardPropertyList: text = props.CardPropertyList.view(); break;
        case PIDXMsr_CardType: text = props.CardType.view(); break;
        case PIDXMsr_CardTypeList: text = props.CardTypeList.view(); break;
        case PIDXMsr_Track1EncryptedData: text = props.Track1EncryptedData.view(); break;
        case PIDXMsr_Track2EncryptedData: text = props.Track2EncryptedData.view(); break;
        case PIDXMsr_Track3EncryptedData: text = props.Track3EncryptedData.view(); break;
        case PIDXMsr_Track4EncryptedData: text = props.Track4EncryptedData.view(); break;
        case PIDXMsr_WriteCardType: text = props.WriteCardType.view(); break;
        default: break;  // an empty string
    }
    value.assign(text);
}

void ServiceObjectCore::Impl::SetPropertyString(int32_t propIndex) {
    std::lock_guard<std::mutex> lock(Process().mutex);
    props.ResultCode = props.ResultCodeExtended = OPOS_SUCCESS;
    if (propIndex == PIDXMsr_WriteCardType) props.ResultCode = OPOS_E_ILLEGAL;
}

}  // namespace norvik

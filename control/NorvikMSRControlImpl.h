// CNorvikMSRControl: the OPOS MSR control object. It opens the service object of a
// logical device through the OPOS registry, forwards the application's calls to it by
// name-resolved dispatch identifiers, and turns the service object's SOData, SOError,
// SODirectIO and SOStatusUpdate calls into events on its creating thread.
//
// Threads: the control lives in its creating (apartment) thread; that thread must pump
// messages for events raised on other threads to arrive. A service-object thread that
// raises an event waits until the handlers have run. Close and the final Release first
// release every such waiter (its event is dropped) and refuse new events, and only then
// call CloseService, so a service object may stop its event thread there. The service
// object must not wait for a thread that may be raising an event in any other call (for
// instance while DeviceEnabled is written false). The final Release belongs on the
// creating thread, as COM's apartment rules already demand.
#pragma once

#include <ocidl.h>

#include <initializer_list>

#include "ComResources.h"
#include "ConnectionPoint.h"
#include "EventRelay.h"
#include "MessageWindow.h"
#include "NorvikMSRControlIdl.h"
#include "OposCodes.h"
#include "ServiceObjectClient.h"

namespace norvik::control {

enum class EventKind { Data, DirectIO, Error, StatusUpdate };

class CNorvikMSRControl final : public INorvikMSRControl,
                                public IConnectionPointContainer,
                                public IProvideClassInfo2 {
public:
    static HRESULT CreateInstance(REFIID riid, void** ppv);

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    // IDispatch, through the type library
    STDMETHODIMP GetTypeInfoCount(UINT* count) override;
    STDMETHODIMP GetTypeInfo(UINT index, LCID locale, ITypeInfo** typeInfo) override;
    STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID locale, DISPID* ids) override;
    STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID locale, WORD flags, DISPPARAMS* parameters, VARIANT* result,
                        EXCEPINFO* exception, UINT* argumentError) override;

    // IConnectionPointContainer
    STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints** points) override;
    STDMETHODIMP FindConnectionPoint(REFIID riid, IConnectionPoint** point) override;

    // IProvideClassInfo2
    STDMETHODIMP GetClassInfo(ITypeInfo** typeInfo) override;
    STDMETHODIMP GetGUID(DWORD kind, GUID* guid) override;

    // Life cycle
    STDMETHODIMP Open(BSTR DeviceName, LONG* pRC) override;
    STDMETHODIMP Close(LONG* pRC) override;

    // Methods forwarded to the service object
    STDMETHODIMP ClaimDevice(LONG Timeout, LONG* pRC) override;
    STDMETHODIMP CheckHealth(LONG Level, LONG* pRC) override;
    STDMETHODIMP ClearInput(LONG* pRC) override;
    STDMETHODIMP DirectIO(LONG Command, LONG* pData, BSTR* pString, LONG* pRC) override;
    STDMETHODIMP ReleaseDevice(LONG* pRC) override;
    STDMETHODIMP ResetStatistics(BSTR StatisticsBuffer, LONG* pRC) override;
    STDMETHODIMP RetrieveStatistics(BSTR* pStatisticsBuffer, LONG* pRC) override;
    STDMETHODIMP UpdateStatistics(BSTR StatisticsBuffer, LONG* pRC) override;
    STDMETHODIMP CompareFirmwareVersion(BSTR FirmwareFileName, LONG* pResult, LONG* pRC) override;
    STDMETHODIMP UpdateFirmware(BSTR FirmwareFileName, LONG* pRC) override;
    STDMETHODIMP ClearInputProperties(LONG* pRC) override;
    STDMETHODIMP WriteTracks(VARIANT Data, LONG Timeout, LONG* pRC) override;
    STDMETHODIMP AuthenticateDevice(BSTR Response, LONG* pRC) override;
    STDMETHODIMP DeauthenticateDevice(BSTR Response, LONG* pRC) override;
    STDMETHODIMP RetrieveCardProperty(BSTR Name, BSTR* pValue, LONG* pRC) override;
    STDMETHODIMP RetrieveDeviceAuthenticationData(BSTR* pChallenge, LONG* pRC) override;
    STDMETHODIMP UpdateKey(BSTR Key, BSTR KeyName, LONG* pRC) override;

    // Property pass-throughs by OPOS property index
    STDMETHODIMP GetPropertyNumber(LONG PropIndex, LONG* pNumber) override;
    STDMETHODIMP SetPropertyNumber(LONG PropIndex, LONG Number) override;
    STDMETHODIMP GetPropertyString(LONG PropIndex, BSTR* pString) override;
    STDMETHODIMP SetPropertyString(LONG PropIndex, BSTR String) override;

    // Properties the control answers itself, or answers itself while closed
    STDMETHODIMP get_OpenResult(LONG* pValue) override;
    STDMETHODIMP get_ControlObjectDescription(BSTR* pValue) override;
    STDMETHODIMP get_ControlObjectVersion(LONG* pValue) override;
    STDMETHODIMP get_ResultCode(LONG* pValue) override;
    STDMETHODIMP get_ResultCodeExtended(LONG* pValue) override;
    STDMETHODIMP get_State(LONG* pValue) override;

    // Properties forwarded by index: one line each.
#define NORVIK_LONG_GET(Name, Index) \
    STDMETHODIMP get_##Name(LONG* pValue) override { return GetNumberProperty(Index, pValue); }
#define NORVIK_LONG_PUT(Name, Index) \
    STDMETHODIMP put_##Name(LONG Value) override { return PutNumberProperty(Index, Value); }
#define NORVIK_BOOL_GET(Name, Index) \
    STDMETHODIMP get_##Name(VARIANT_BOOL* pValue) override { return GetBoolProperty(Index, pValue); }
#define NORVIK_BOOL_PUT(Name, Index) \
    STDMETHODIMP put_##Name(VARIANT_BOOL Value) override { return PutNumberProperty(Index, Value ? 1 : 0); }
#define NORVIK_STRING_GET(Name, Index) \
    STDMETHODIMP get_##Name(BSTR* pValue) override { return GetStringProperty(Index, pValue); }

    NORVIK_BOOL_GET(DataEventEnabled, PIDX_DataEventEnabled)
    NORVIK_BOOL_PUT(DataEventEnabled, PIDX_DataEventEnabled)
    NORVIK_BOOL_GET(DeviceEnabled, PIDX_DeviceEnabled)
    NORVIK_BOOL_PUT(DeviceEnabled, PIDX_DeviceEnabled)
    NORVIK_BOOL_GET(AutoDisable, PIDX_AutoDisable)
    NORVIK_BOOL_PUT(AutoDisable, PIDX_AutoDisable)
    NORVIK_BOOL_GET(BinaryConversion, PIDX_BinaryConversion)
    NORVIK_BOOL_PUT(BinaryConversion, PIDX_BinaryConversion)
    NORVIK_BOOL_GET(Claimed, PIDX_Claimed)
    NORVIK_LONG_GET(DataCount, PIDX_DataCount)
    NORVIK_BOOL_GET(FreezeEvents, PIDX_FreezeEvents)
    NORVIK_BOOL_PUT(FreezeEvents, PIDX_FreezeEvents)
    NORVIK_LONG_GET(PowerNotify, PIDX_PowerNotify)
    NORVIK_LONG_PUT(PowerNotify, PIDX_PowerNotify)
    NORVIK_LONG_GET(PowerState, PIDX_PowerState)
    NORVIK_LONG_GET(ServiceObjectVersion, PIDX_ServiceObjectVersion)
    NORVIK_LONG_GET(CapPowerReporting, PIDX_CapPowerReporting)
    NORVIK_BOOL_GET(CapStatisticsReporting, PIDX_CapStatisticsReporting)
    NORVIK_BOOL_GET(CapUpdateStatistics, PIDX_CapUpdateStatistics)
    NORVIK_BOOL_GET(CapCompareFirmwareVersion, PIDX_CapCompareFirmwareVersion)
    NORVIK_BOOL_GET(CapUpdateFirmware, PIDX_CapUpdateFirmware)
    NORVIK_STRING_GET(CheckHealthText, PIDX_CheckHealthText)
    NORVIK_STRING_GET(DeviceDescription, PIDX_DeviceDescription)
    NORVIK_STRING_GET(DeviceName, PIDX_DeviceName)
    NORVIK_STRING_GET(ServiceObjectDescription, PIDX_ServiceObjectDescription)

    NORVIK_BOOL_GET(DecodeData, PIDXMsr_DecodeData)
    NORVIK_BOOL_PUT(DecodeData, PIDXMsr_DecodeData)
    NORVIK_BOOL_GET(ParseDecodeData, PIDXMsr_ParseDecodeData)
    NORVIK_BOOL_PUT(ParseDecodeData, PIDXMsr_ParseDecodeData)
    NORVIK_LONG_GET(TracksToRead, PIDXMsr_TracksToRead)
    NORVIK_LONG_PUT(TracksToRead, PIDXMsr_TracksToRead)
    NORVIK_LONG_GET(ErrorReportingType, PIDXMsr_ErrorReportingType)
    NORVIK_LONG_PUT(ErrorReportingType, PIDXMsr_ErrorReportingType)
    NORVIK_BOOL_GET(TransmitSentinels, PIDXMsr_TransmitSentinels)
    NORVIK_BOOL_PUT(TransmitSentinels, PIDXMsr_TransmitSentinels)
    NORVIK_LONG_GET(EncodingMaxLength, PIDXMsr_EncodingMaxLength)
    NORVIK_LONG_GET(TracksToWrite, PIDXMsr_TracksToWrite)
    NORVIK_LONG_PUT(TracksToWrite, PIDXMsr_TracksToWrite)
    NORVIK_LONG_GET(CardAuthenticationDataLength, PIDXMsr_CardAuthenticationDataLength)
    NORVIK_LONG_GET(DataEncryptionAlgorithm, PIDXMsr_DataEncryptionAlgorithm)
    NORVIK_LONG_PUT(DataEncryptionAlgorithm, PIDXMsr_DataEncryptionAlgorithm)
    NORVIK_BOOL_GET(DeviceAuthenticated, PIDXMsr_DeviceAuthenticated)
    NORVIK_LONG_GET(DeviceAuthenticationProtocol, PIDXMsr_DeviceAuthenticationProtocol)
    NORVIK_LONG_GET(Track1EncryptedDataLength, PIDXMsr_Track1EncryptedDataLength)
    NORVIK_LONG_GET(Track2EncryptedDataLength, PIDXMsr_Track2EncryptedDataLength)
    NORVIK_LONG_GET(Track3EncryptedDataLength, PIDXMsr_Track3EncryptedDataLength)
    NORVIK_LONG_GET(Track4EncryptedDataLength, PIDXMsr_Track4EncryptedDataLength)
    NORVIK_BOOL_GET(CapISO, PIDXMsr_CapISO)
    NORVIK_BOOL_GET(CapJISOne, PIDXMsr_CapJISOne)
    NORVIK_BOOL_GET(CapJISTwo, PIDXMsr_CapJISTwo)
    NORVIK_BOOL_GET(CapTransmitSentinels, PIDXMsr_CapTransmitSentinels)
    NORVIK_LONG_GET(CapWritableTracks, PIDXMsr_CapWritableTracks)
    NORVIK_LONG_GET(CapDataEncryption, PIDXMsr_CapDataEncryption)
    NORVIK_LONG_GET(CapDeviceAuthentication, PIDXMsr_CapDeviceAuthentication)
    NORVIK_BOOL_GET(CapTrackDataMasking, PIDXMsr_CapTrackDataMasking)

    NORVIK_STRING_GET(AccountNumber, PIDXMsr_AccountNumber)
    NORVIK_STRING_GET(ExpirationDate, PIDXMsr_ExpirationDate)
    NORVIK_STRING_GET(FirstName, PIDXMsr_FirstName)
    NORVIK_STRING_GET(MiddleInitial, PIDXMsr_MiddleInitial)
    NORVIK_STRING_GET(ServiceCode, PIDXMsr_ServiceCode)
    NORVIK_STRING_GET(Suffix, PIDXMsr_Suffix)
    NORVIK_STRING_GET(Surname, PIDXMsr_Surname)
    NORVIK_STRING_GET(Title, PIDXMsr_Title)
    NORVIK_STRING_GET(Track1Data, PIDXMsr_Track1Data)
    NORVIK_STRING_GET(Track1DiscretionaryData, PIDXMsr_Track1DiscretionaryData)
    NORVIK_STRING_GET(Track2Data, PIDXMsr_Track2Data)
    NORVIK_STRING_GET(Track2DiscretionaryData, PIDXMsr_Track2DiscretionaryData)
    NORVIK_STRING_GET(Track3Data, PIDXMsr_Track3Data)
    NORVIK_STRING_GET(Track4Data, PIDXMsr_Track4Data)
    NORVIK_STRING_GET(AdditionalSecurityInformation, PIDXMsr_AdditionalSecurityInformation)
    NORVIK_STRING_GET(CapCardAuthentication, PIDXMsr_CapCardAuthentication)
    NORVIK_STRING_GET(CardAuthenticationData, PIDXMsr_CardAuthenticationData)
    NORVIK_STRING_GET(CardPropertyList, PIDXMsr_CardPropertyList)
    NORVIK_STRING_GET(CardType, PIDXMsr_CardType)
    NORVIK_STRING_GET(CardTypeList, PIDXMsr_CardTypeList)
    NORVIK_STRING_GET(Track1EncryptedData, PIDXMsr_Track1EncryptedData)
    NORVIK_STRING_GET(Track2EncryptedData, PIDXMsr_Track2EncryptedData)
    NORVIK_STRING_GET(Track3EncryptedData, PIDXMsr_Track3EncryptedData)
    NORVIK_STRING_GET(Track4EncryptedData, PIDXMsr_Track4EncryptedData)
    NORVIK_STRING_GET(WriteCardType, PIDXMsr_WriteCardType)
    STDMETHODIMP put_WriteCardType(BSTR Value) override { return SetPropertyString(PIDXMsr_WriteCardType, Value); }

#undef NORVIK_LONG_GET
#undef NORVIK_LONG_PUT
#undef NORVIK_BOOL_GET
#undef NORVIK_BOOL_PUT
#undef NORVIK_STRING_GET

    // Called by the service object, from any thread
    STDMETHODIMP SOData(LONG Status) override;
    STDMETHODIMP SODirectIO(LONG EventNumber, LONG* pData, BSTR* pString) override;
    STDMETHODIMP SOError(LONG ResultCode, LONG ResultCodeExtended, LONG ErrorLocus, LONG* pErrorResponse) override;
    STDMETHODIMP SOStatusUpdate(LONG Data) override;

private:
    class EventCall;

    CNorvikMSRControl();
    ~CNorvikMSRControl();
    HRESULT Initialize();

    HRESULT CallMethod(SoMethod method, std::initializer_list<VARIANT> arguments, LONG* pRC);
    HRESULT GetNumberProperty(long index, LONG* value);
    HRESULT GetBoolProperty(long index, VARIANT_BOOL* value);
    HRESULT GetStringProperty(long index, BSTR* value);
    HRESULT PutNumberProperty(long index, LONG value);
    long FailOpen(long result, long openResult);
    long CloseServiceObject();

    // Raises an event to the sinks on the creating thread and copies what the handlers
    // left in the by-reference values back to the caller.
    HRESULT RaiseEvent(EventKind kind, std::initializer_list<LONG> values, LONG* number, BSTR* text);
    void FireToSinks(EventKind kind, const LONG* values, LONG* number, BSTR* text);

    LONG _references = 1;
    ComPtr<ITypeInfo> _typeInfo;
    CEventConnectionPoint _connectionPoint;
    EventRelay _relay;      // before the window: the window goes first, then the relay
    MessageWindow _window;
    ServiceObjectClient _serviceObject;
    long _closedResultCode = kOposClosed;  // ResultCode while no service object is open
    long _closedResultCodeExtended = 0;
    long _openResult = 0;
};

}  // namespace norvik::control

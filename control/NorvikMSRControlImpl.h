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

    NORVIK_BOOL_GET(DataEventEnabled, pidx::kDataEventEnabled)
    NORVIK_BOOL_PUT(DataEventEnabled, pidx::kDataEventEnabled)
    NORVIK_BOOL_GET(DeviceEnabled, pidx::kDeviceEnabled)
    NORVIK_BOOL_PUT(DeviceEnabled, pidx::kDeviceEnabled)
    NORVIK_BOOL_GET(AutoDisable, pidx::kAutoDisable)
    NORVIK_BOOL_PUT(AutoDisable, pidx::kAutoDisable)
    NORVIK_BOOL_GET(BinaryConversion, pidx::kBinaryConversion)
    NORVIK_BOOL_PUT(BinaryConversion, pidx::kBinaryConversion)
    NORVIK_BOOL_GET(Claimed, pidx::kClaimed)
    NORVIK_LONG_GET(DataCount, pidx::kDataCount)
    NORVIK_BOOL_GET(FreezeEvents, pidx::kFreezeEvents)
    NORVIK_BOOL_PUT(FreezeEvents, pidx::kFreezeEvents)
    NORVIK_LONG_GET(PowerNotify, pidx::kPowerNotify)
    NORVIK_LONG_PUT(PowerNotify, pidx::kPowerNotify)
    NORVIK_LONG_GET(PowerState, pidx::kPowerState)
    NORVIK_LONG_GET(ServiceObjectVersion, pidx::kServiceObjectVersion)
    NORVIK_LONG_GET(CapPowerReporting, pidx::kCapPowerReporting)
    NORVIK_BOOL_GET(CapStatisticsReporting, pidx::kCapStatisticsReporting)
    NORVIK_BOOL_GET(CapUpdateStatistics, pidx::kCapUpdateStatistics)
    NORVIK_BOOL_GET(CapCompareFirmwareVersion, pidx::kCapCompareFirmwareVersion)
    NORVIK_BOOL_GET(CapUpdateFirmware, pidx::kCapUpdateFirmware)
    NORVIK_STRING_GET(CheckHealthText, pidx::kCheckHealthText)
    NORVIK_STRING_GET(DeviceDescription, pidx::kDeviceDescription)
    NORVIK_STRING_GET(DeviceName, pidx::kDeviceName)
    NORVIK_STRING_GET(ServiceObjectDescription, pidx::kServiceObjectDescription)

    NORVIK_BOOL_GET(DecodeData, pidx::kDecodeData)
    NORVIK_BOOL_PUT(DecodeData, pidx::kDecodeData)
    NORVIK_BOOL_GET(ParseDecodeData, pidx::kParseDecodeData)
    NORVIK_BOOL_PUT(ParseDecodeData, pidx::kParseDecodeData)
    NORVIK_LONG_GET(TracksToRead, pidx::kTracksToRead)
    NORVIK_LONG_PUT(TracksToRead, pidx::kTracksToRead)
    NORVIK_LONG_GET(ErrorReportingType, pidx::kErrorReportingType)
    NORVIK_LONG_PUT(ErrorReportingType, pidx::kErrorReportingType)
    NORVIK_BOOL_GET(TransmitSentinels, pidx::kTransmitSentinels)
    NORVIK_BOOL_PUT(TransmitSentinels, pidx::kTransmitSentinels)
    NORVIK_LONG_GET(EncodingMaxLength, pidx::kEncodingMaxLength)
    NORVIK_LONG_GET(TracksToWrite, pidx::kTracksToWrite)
    NORVIK_LONG_PUT(TracksToWrite, pidx::kTracksToWrite)
    NORVIK_LONG_GET(CardAuthenticationDataLength, pidx::kCardAuthenticationDataLength)
    NORVIK_LONG_GET(DataEncryptionAlgorithm, pidx::kDataEncryptionAlgorithm)
    NORVIK_LONG_PUT(DataEncryptionAlgorithm, pidx::kDataEncryptionAlgorithm)
    NORVIK_BOOL_GET(DeviceAuthenticated, pidx::kDeviceAuthenticated)
    NORVIK_LONG_GET(DeviceAuthenticationProtocol, pidx::kDeviceAuthenticationProtocol)
    NORVIK_LONG_GET(Track1EncryptedDataLength, pidx::kTrack1EncryptedDataLength)
    NORVIK_LONG_GET(Track2EncryptedDataLength, pidx::kTrack2EncryptedDataLength)
    NORVIK_LONG_GET(Track3EncryptedDataLength, pidx::kTrack3EncryptedDataLength)
    NORVIK_LONG_GET(Track4EncryptedDataLength, pidx::kTrack4EncryptedDataLength)
    NORVIK_BOOL_GET(CapISO, pidx::kCapISO)
    NORVIK_BOOL_GET(CapJISOne, pidx::kCapJISOne)
    NORVIK_BOOL_GET(CapJISTwo, pidx::kCapJISTwo)
    NORVIK_BOOL_GET(CapTransmitSentinels, pidx::kCapTransmitSentinels)
    NORVIK_LONG_GET(CapWritableTracks, pidx::kCapWritableTracks)
    NORVIK_LONG_GET(CapDataEncryption, pidx::kCapDataEncryption)
    NORVIK_LONG_GET(CapDeviceAuthentication, pidx::kCapDeviceAuthentication)
    NORVIK_BOOL_GET(CapTrackDataMasking, pidx::kCapTrackDataMasking)

    NORVIK_STRING_GET(AccountNumber, pidx::kAccountNumber)
    NORVIK_STRING_GET(ExpirationDate, pidx::kExpirationDate)
    NORVIK_STRING_GET(FirstName, pidx::kFirstName)
    NORVIK_STRING_GET(MiddleInitial, pidx::kMiddleInitial)
    NORVIK_STRING_GET(ServiceCode, pidx::kServiceCode)
    NORVIK_STRING_GET(Suffix, pidx::kSuffix)
    NORVIK_STRING_GET(Surname, pidx::kSurname)
    NORVIK_STRING_GET(Title, pidx::kTitle)
    NORVIK_STRING_GET(Track1Data, pidx::kTrack1Data)
    NORVIK_STRING_GET(Track1DiscretionaryData, pidx::kTrack1DiscretionaryData)
    NORVIK_STRING_GET(Track2Data, pidx::kTrack2Data)
    NORVIK_STRING_GET(Track2DiscretionaryData, pidx::kTrack2DiscretionaryData)
    NORVIK_STRING_GET(Track3Data, pidx::kTrack3Data)
    NORVIK_STRING_GET(Track4Data, pidx::kTrack4Data)
    NORVIK_STRING_GET(AdditionalSecurityInformation, pidx::kAdditionalSecurityInformation)
    NORVIK_STRING_GET(CapCardAuthentication, pidx::kCapCardAuthentication)
    NORVIK_STRING_GET(CardAuthenticationData, pidx::kCardAuthenticationData)
    NORVIK_STRING_GET(CardPropertyList, pidx::kCardPropertyList)
    NORVIK_STRING_GET(CardType, pidx::kCardType)
    NORVIK_STRING_GET(CardTypeList, pidx::kCardTypeList)
    NORVIK_STRING_GET(Track1EncryptedData, pidx::kTrack1EncryptedData)
    NORVIK_STRING_GET(Track2EncryptedData, pidx::kTrack2EncryptedData)
    NORVIK_STRING_GET(Track3EncryptedData, pidx::kTrack3EncryptedData)
    NORVIK_STRING_GET(Track4EncryptedData, pidx::kTrack4EncryptedData)
    NORVIK_STRING_GET(WriteCardType, pidx::kWriteCardType)
    STDMETHODIMP put_WriteCardType(BSTR Value) override { return SetPropertyString(pidx::kWriteCardType, Value); }

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

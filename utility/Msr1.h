// CMsr1 wraps the OPOS MSR control object: it binds to the control by
// dispatch, calls its members by their standard dispatch identifiers and
// receives its DataEvent and ErrorEvent through a connection-point sink.
#pragma once

#include <windows.h>
#include <ocidl.h>

#include <string>
#include <vector>

#include "UtilityHandles.h"

namespace swipebench {

// OPOS result code for a control that cannot be reached.
constexpr long OPOS_E_NOSERVICE = 104;

// Receives the control's events on the thread that created the control.
class IMsrEventHandler {
public:
    virtual void OnDataEvent(long status) = 0;
    // `errorResponse` is the control's by-reference argument.
    virtual void OnErrorEvent(long resultCode, long resultCodeExtended, long errorLocus,
                              long* errorResponse) = 0;
    // A power state change (2001 online, 2004 off or offline) while PowerNotify is on.
    virtual void OnStatusUpdateEvent(long status) = 0;

protected:
    ~IMsrEventHandler() = default;
};

// Creates the control object and returns its dispatch (one reference).
using ControlFactory = HRESULT (*)(IDispatch** control);

class CMsrEventSink;

class CMsr1 {
public:
    // Dispatch identifiers of the standard OPOS MSR control.
    enum DispatchId : DISPID {
        DISPID_DataEventEnabled = 16,
        DISPID_DeviceEnabled = 17,
        DISPID_ResultCode = 22,
        DISPID_ResultCodeExtended = 23,
        DISPID_ClaimDevice = 32,
        DISPID_Close = 35,
        DISPID_Open = 37,
        DISPID_Track1Data = 65,
        DISPID_Track2Data = 67,
        DISPID_Track3Data = 69,
        DISPID_AdditionalSecurityInformation = 77,
        DISPID_Track1EncryptedData = 110,
        DISPID_Track2EncryptedData = 112,
        DISPID_Track3EncryptedData = 114,
    };
    // Dispatch identifiers of the control's events.
    enum EventId : DISPID {
        DISPID_DataEvent = 1,
        DISPID_DirectIOEvent = 2,
        DISPID_ErrorEvent = 3,
        DISPID_OutputCompleteEvent = 4,
        DISPID_StatusUpdateEvent = 5,
    };

    static const wchar_t kStandardProgId[];     // "OPOS.MSR"
    static const wchar_t kReplacementProgId[];  // "NorvikMSR.Control"

    CMsr1();
    ~CMsr1();
    CMsr1(const CMsr1&) = delete;
    CMsr1& operator=(const CMsr1&) = delete;

    // The registered ProgIDs among the two, the standard control first.
    static std::vector<std::wstring> RegisteredProgIds();
    // Default factory: the standard control when registered, otherwise ours.
    static HRESULT CreateRegisteredControl(IDispatch** control);

    // Creates the control (with `factory`, or the default one) and connects
    // the event sink. Without a control every call fails with OPOS_E_NOSERVICE.
    HRESULT Create(ControlFactory factory, IMsrEventHandler* handler);
    // Disconnects the sink and releases the control, which closes the device.
    void Destroy();
    bool IsBound() const { return static_cast<bool>(control_); }

    long Open(const std::string& deviceName);
    long ClaimDevice(long timeout);
    long Close();
    void SetDeviceEnabled(bool enabled);
    void SetDataEventEnabled(bool enabled);
    long GetResultCode();
    long GetResultCodeExtended();
    std::wstring GetTrack1Data() { return GetString(DISPID_Track1Data); }
    std::wstring GetTrack2Data() { return GetString(DISPID_Track2Data); }
    std::wstring GetTrack3Data() { return GetString(DISPID_Track3Data); }
    std::wstring GetTrack1EncryptedData() { return GetString(DISPID_Track1EncryptedData); }
    std::wstring GetTrack2EncryptedData() { return GetString(DISPID_Track2EncryptedData); }
    std::wstring GetTrack3EncryptedData() { return GetString(DISPID_Track3EncryptedData); }
    std::wstring GetAdditionalSecurityInformation() {
        return GetString(DISPID_AdditionalSecurityInformation);
    }
    // Power reporting, by member name: controls differ in these identifiers.
    long GetCapPowerReporting() { return GetNamedLong(L"CapPowerReporting", 0); }
    long GetPowerState() { return GetNamedLong(L"PowerState", 2000); }
    void SetPowerNotify(long value);

private:
    HRESULT Invoke(DISPID id, WORD flags, VARIANT* arguments, UINT count, VARIANT* result);
    long CallLong(DISPID id, VARIANT* arguments, UINT count);
    long GetLong(DISPID id, long fallback);
    void PutBool(DISPID id, bool value);
    std::wstring GetString(DISPID id);
    DISPID IdOf(const wchar_t* name);  // DISPID_UNKNOWN when the control has no such member
    long GetNamedLong(const wchar_t* name, long fallback);
    HRESULT ConnectSink(IMsrEventHandler* handler);

    ComPtr<IDispatch> control_;
    ComPtr<IConnectionPoint> connectionPoint_;
    DWORD cookie_ = 0;
    ComPtr<CMsrEventSink> sink_;
};

}  // namespace swipebench

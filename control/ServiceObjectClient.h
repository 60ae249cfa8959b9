// The control's side of the service object: the 24 methods, resolved by name once when
// the service object is bound and then called by dispatch identifier.
#pragma once

#include <initializer_list>

#include "ComResources.h"

namespace norvik::control {

enum class SoMethod : int {
    COFreezeEvents,
    GetPropertyNumber,
    SetPropertyNumber,
    GetPropertyString,
    SetPropertyString,
    OpenService,
    CheckHealth,
    ClaimDevice,
    CloseService,
    DirectIO,
    ReleaseDevice,
    ClearInput,
    ClearInputProperties,
    ResetStatistics,
    RetrieveStatistics,
    UpdateStatistics,
    CompareFirmwareVersion,
    UpdateFirmware,
    WriteTracks,
    AuthenticateDevice,
    DeauthenticateDevice,
    RetrieveCardProperty,
    RetrieveDeviceAuthenticationData,
    UpdateKey,
    Count
};

const wchar_t* SoMethodName(SoMethod method);

// Borrowing argument builders: the variants own nothing and need no clearing.
namespace arg {
VARIANT Long(LONG value);
VARIANT String(BSTR text);
VARIANT Dispatch(IDispatch* dispatch);
VARIANT LongRef(LONG* value);
VARIANT StringRef(BSTR* text);
}  // namespace arg

class ServiceObjectClient {
public:
    ServiceObjectClient() = default;
    ServiceObjectClient(const ServiceObjectClient&) = delete;
    ServiceObjectClient& operator=(const ServiceObjectClient&) = delete;
    ServiceObjectClient(ServiceObjectClient&&) = default;
    ServiceObjectClient& operator=(ServiceObjectClient&&) = default;

    // Resolves every method name; on any failure nothing is kept and the caller's
    // reference is all that holds the service object.
    HRESULT Bind(IDispatch* serviceObject);
    bool IsBound() const { return static_cast<bool>(_serviceObject); }
    void Release() { _serviceObject.reset(); }

    // Calls a method whose result is its pRC. A failed call yields 104 (no service).
    long Call(SoMethod method, std::initializer_list<VARIANT> arguments);
    // Arguments are given in declaration order. `result` may be nullptr.
    HRESULT Invoke(SoMethod method, std::initializer_list<VARIANT> arguments, VARIANT* result);

    HRESULT GetNumber(long index, LONG* value);
    void SetNumber(long index, LONG value);
    HRESULT GetString(long index, BSTR* value);
    void SetString(long index, BSTR value);

private:
    ComPtr<IDispatch> _serviceObject;
    DISPID _ids[static_cast<int>(SoMethod::Count)] = {};
};

}  // namespace norvik::control

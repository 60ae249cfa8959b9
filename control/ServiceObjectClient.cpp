#include "ServiceObjectClient.h"

#include "OposCodes.h"

namespace norvik::control {
namespace {

constexpr const wchar_t* kMethodNames[] = {
    L"COFreezeEvents",       L"GetPropertyNumber",      L"SetPropertyNumber",
    L"GetPropertyString",    L"SetPropertyString",      L"OpenService",
    L"CheckHealth",          L"ClaimDevice",            L"CloseService",
    L"DirectIO",             L"ReleaseDevice",          L"ClearInput",
    L"ClearInputProperties", L"ResetStatistics",        L"RetrieveStatistics",
    L"UpdateStatistics",     L"CompareFirmwareVersion", L"UpdateFirmware",
    L"WriteTracks",          L"AuthenticateDevice",     L"DeauthenticateDevice",
    L"RetrieveCardProperty", L"RetrieveDeviceAuthenticationData", L"UpdateKey",
};
static_assert(sizeof(kMethodNames) / sizeof(kMethodNames[0]) == static_cast<size_t>(SoMethod::Count),
              "one name per service-object method");

constexpr UINT kMaxArguments = 4;

}  // namespace

const wchar_t* SoMethodName(SoMethod method) { return kMethodNames[static_cast<int>(method)]; }

namespace arg {
VARIANT Long(LONG value) {
    VARIANT v;
    ::VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = value;
    return v;
}
VARIANT String(BSTR text) {
    VARIANT v;
    ::VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = text;
    return v;
}
VARIANT Dispatch(IDispatch* dispatch) {
    VARIANT v;
    ::VariantInit(&v);
    v.vt = VT_DISPATCH;
    v.pdispVal = dispatch;
    return v;
}
VARIANT LongRef(LONG* value) {
    VARIANT v;
    ::VariantInit(&v);
    v.vt = VT_BYREF | VT_I4;
    v.plVal = value;
    return v;
}
VARIANT StringRef(BSTR* text) {
    VARIANT v;
    ::VariantInit(&v);
    v.vt = VT_BYREF | VT_BSTR;
    v.pbstrVal = text;
    return v;
}
}  // namespace arg

HRESULT ServiceObjectClient::Bind(IDispatch* serviceObject) {
    _serviceObject.reset();
    if (!serviceObject) return E_POINTER;
    for (int i = 0; i < static_cast<int>(SoMethod::Count); ++i) {
        LPOLESTR name = const_cast<LPOLESTR>(kMethodNames[i]);
        HRESULT hr = serviceObject->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &_ids[i]);
        if (FAILED(hr)) return hr;
    }
    _serviceObject = serviceObject;
    return S_OK;
}

HRESULT ServiceObjectClient::Invoke(SoMethod method, std::initializer_list<VARIANT> arguments, VARIANT* result) {
    // Our own reference: a handler may close the control inside this very call.
    ComPtr<IDispatch> serviceObject = _serviceObject;
    if (!serviceObject) return E_UNEXPECTED;
    if (arguments.size() > kMaxArguments) return E_INVALIDARG;

    VARIANTARG reversed[kMaxArguments];
    UINT count = 0;
    for (auto it = arguments.end(); it != arguments.begin();) reversed[count++] = *--it;
    DISPPARAMS parameters = {count ? reversed : nullptr, nullptr, count, 0};
    return serviceObject->Invoke(_ids[static_cast<int>(method)], IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD,
                                 &parameters, result, nullptr, nullptr);
}

long ServiceObjectClient::Call(SoMethod method, std::initializer_list<VARIANT> arguments) {
    UniqueVariant result;
    if (FAILED(Invoke(method, arguments, &result))) return kOposNoService;
    if (FAILED(::VariantChangeType(&result, &result, 0, VT_I4))) return kOposNoService;
    return result.lVal;
}

HRESULT ServiceObjectClient::GetNumber(long index, LONG* value) {
    UniqueVariant result;
    HRESULT hr = Invoke(SoMethod::GetPropertyNumber, {arg::Long(index)}, &result);
    if (SUCCEEDED(hr)) hr = ::VariantChangeType(&result, &result, 0, VT_I4);
    if (FAILED(hr)) return hr;
    *value = result.lVal;
    return S_OK;
}

void ServiceObjectClient::SetNumber(long index, LONG value) {
    Invoke(SoMethod::SetPropertyNumber, {arg::Long(index), arg::Long(value)}, nullptr);
}

HRESULT ServiceObjectClient::GetString(long index, BSTR* value) {
    UniqueVariant result;
    HRESULT hr = Invoke(SoMethod::GetPropertyString, {arg::Long(index)}, &result);
    if (SUCCEEDED(hr)) hr = ::VariantChangeType(&result, &result, 0, VT_BSTR);
    if (FAILED(hr)) return hr;
    *value = result.bstrVal;  // handed over: the variant no longer owns it
    result.vt = VT_EMPTY;
    return S_OK;
}

void ServiceObjectClient::SetString(long index, BSTR value) {
    Invoke(SoMethod::SetPropertyString, {arg::Long(index), arg::String(value)}, nullptr);
}

}  // namespace norvik::control

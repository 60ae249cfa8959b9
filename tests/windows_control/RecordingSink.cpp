#include "RecordingSink.h"

#include <shlwapi.h>

#include "NorvikMSRControl.h"

namespace norvik::control::test {

ComPtr<RecordingSink> RecordingSink::Create() {
    ComPtr<RecordingSink> sink;
    sink = ComPtr<RecordingSink>::Attach(new RecordingSink());
    return sink;
}

RecordingSink::RecordingSink()
    : names{{L"DataEvent", DISPID_NORVIKMSR_DATAEVENT},
            {L"DirectIOEvent", DISPID_NORVIKMSR_DIRECTIOEVENT},
            {L"ErrorEvent", DISPID_NORVIKMSR_ERROREVENT},
            {L"StatusUpdateEvent", DISPID_NORVIKMSR_STATUSUPDATEEVENT}} {}

STDMETHODIMP RecordingSink::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IDispatch || riid == DIID__INorvikMSRControlEvents) {
        *ppv = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) RecordingSink::AddRef() { return ::InterlockedIncrement(&_references); }

STDMETHODIMP_(ULONG) RecordingSink::Release() {
    const LONG references = ::InterlockedDecrement(&_references);
    if (references == 0) delete this;
    return references;
}

STDMETHODIMP RecordingSink::GetTypeInfoCount(UINT* count) {
    *count = 0;
    return S_OK;
}

STDMETHODIMP RecordingSink::GetTypeInfo(UINT, LCID, ITypeInfo**) { return E_NOTIMPL; }

STDMETHODIMP RecordingSink::GetIDsOfNames(REFIID, LPOLESTR* requested, UINT count, LCID, DISPID* ids) {
    if (count != 1) return E_INVALIDARG;
    askedNames.emplace_back(requested[0]);
    auto it = names.find(requested[0]);
    if (it == names.end()) {
        ids[0] = DISPID_UNKNOWN;
        return DISP_E_UNKNOWNNAME;
    }
    ids[0] = it->second;
    return S_OK;
}

STDMETHODIMP RecordingSink::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* parameters, VARIANT*, EXCEPINFO*,
                                   UINT*) {
    if (!(flags & DISPATCH_METHOD)) return DISP_E_MEMBERNOTFOUND;
    SinkEvent event;
    event.id = id;
    event.thread = ::GetCurrentThreadId();
    for (UINT i = parameters->cArgs; i-- > 0;) {  // declaration order
        VARIANT& argument = parameters->rgvarg[i];
        switch (argument.vt) {
            case VT_I4: event.values.push_back(argument.lVal); break;
            case VT_BYREF | VT_I4:
                event.values.push_back(*argument.plVal);
                if (numberReply) *argument.plVal = *numberReply;
                break;
            case VT_BYREF | VT_BSTR:
                if (*argument.pbstrVal) event.text.assign(*argument.pbstrVal, ::SysStringLen(*argument.pbstrVal));
                if (textReply) {
                    ::SysFreeString(*argument.pbstrVal);
                    *argument.pbstrVal = ::SysAllocString(textReply->c_str());
                }
                break;
            default: return DISP_E_TYPEMISMATCH;
        }
    }
    events.push_back(event);
    if (onEvent) onEvent(event);
    return S_OK;
}

}  // namespace norvik::control::test

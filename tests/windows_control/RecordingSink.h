// An event sink for the control: answers GetIDsOfNames for the event names it is given,
// records every event with its thread, and plays the handler's part for by-reference
// arguments. Lives on the test's main thread.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "ComResources.h"

namespace norvik::control::test {

struct SinkEvent {
    DISPID id = DISPID_UNKNOWN;
    DWORD thread = 0;
    std::vector<LONG> values;  // by-value longs in declaration order, then the by-reference long
    std::wstring text;         // the by-reference string as the handler received it
};

class RecordingSink final : public IDispatch {
public:
    static ComPtr<RecordingSink> Create();

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP GetTypeInfoCount(UINT* count) override;
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override;
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override;
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* parameters, VARIANT* result, EXCEPINFO*,
                        UINT*) override;

    // Names the sink answers for, with the identifiers it gives; the standard ones by default.
    std::map<std::wstring, DISPID> names;
    std::vector<std::wstring> askedNames;
    std::vector<SinkEvent> events;
    // What the handler writes back through by-reference arguments, if anything.
    std::optional<LONG> numberReply;
    std::optional<std::wstring> textReply;
    std::function<void(const SinkEvent&)> onEvent;

private:
    RecordingSink();
    ~RecordingSink() = default;
    LONG _references = 1;
};

}  // namespace norvik::control::test

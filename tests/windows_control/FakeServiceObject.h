// A stand-in service object for the control's tests: an IDispatch class that answers
// the 24 service-object method names, records every call, and raises SOData, SOError,
// SODirectIO and SOStatusUpdate on the control's dispatch the way a service object
// does: by name, through the raw pointer that OpenService handed over, from its own
// thread or the caller's.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <functional>
#include <future>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "ComResources.h"

namespace norvik::control::test {

// {AA1A2B5C-9E43-47E6-9EB2-7E2EAF50DA80}
extern const CLSID CLSID_FakeServiceObject;
constexpr wchar_t kFakeProgId[] = L"NorvikTest.FakeServiceObject";

struct FakeArgument {
    VARTYPE type = VT_EMPTY;  // without VT_BYREF
    bool byRef = false;
    LONG number = 0;
    std::wstring text;
    IDispatch* dispatch = nullptr;
};

struct FakeCall {
    std::wstring method;
    std::vector<FakeArgument> arguments;  // in declaration order
};

struct FakeSettings {
    LONG version = 1013004;
    std::wstring refusedName;  // GetIDsOfNames fails for this one
    LONG openServiceResult = 0;
    LONG closeServiceResult = 0;
};

struct RaisedEvent {
    HRESULT hr = E_FAIL;
    LONG number = 0;   // the by-reference long after the call
    std::wstring text;  // the by-reference string after the call
};

// One call on a control's dispatch, made exactly as a service object makes it: looked up
// by name, the by-reference long for SOError and SODirectIO, the by-reference string for
// SODirectIO.
RaisedEvent RaiseOn(IDispatch* control, const std::wstring& method, const std::vector<LONG>& values, LONG number = 0,
                    const wchar_t* text = nullptr);

class FakeServiceObject final : public IDispatch {
public:
    // Settings used by the next instance the class factory creates.
    static FakeSettings& NextSettings();
    // Forgets the settings, the counts and the journal.
    static void ResetAll();
    // Every method called on any instance since the last reset, in order.
    static const std::vector<std::wstring>& Journal();
    static int Created();
    static int Alive();
    static FakeServiceObject* Latest();  // the last one created, while it is alive
    static HRESULT RegisterClassFactory(DWORD* cookie);

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP GetTypeInfoCount(UINT* count) override;
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override;
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override;
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* parameters, VARIANT* result, EXCEPINFO*,
                        UINT*) override;

    const std::vector<FakeCall>& Calls() const { return _calls; }
    std::vector<std::wstring> MethodNames() const;
    const FakeCall* LastCall(const wchar_t* method) const;

    void SetNumber(long index, LONG value) { _numbers[index] = value; }
    void SetResult(const wchar_t* method, LONG result) { _results[method] = result; }
    // Runs inside Invoke after the call was recorded, on the caller's thread.
    void SetHook(std::function<void(const FakeCall&)> hook) { _hook = std::move(hook); }

    IDispatch* Control() const { return _control; }
    // Raises `method` on the control on this thread.
    RaisedEvent Raise(const wchar_t* method, std::vector<LONG> values, LONG number = 0, const wchar_t* text = nullptr);
    // Raises it from the service object's event thread; one at a time.
    void RaiseFromThread(const wchar_t* method, std::vector<LONG> values, LONG number = 0,
                         const wchar_t* text = nullptr);
    bool ThreadReturned() const;
    bool WaitForThread(DWORD timeoutMs);
    RaisedEvent ThreadResult();
    // CloseService waits for the event thread as a service object stopping it would;
    // bounded, so a deadlock shows up as this flag instead of a hung test.
    bool EventThreadJoinTimedOut() const { return _joinTimedOut; }

private:
    friend class FakeFactoryAccess;
    explicit FakeServiceObject(const FakeSettings& settings);
    ~FakeServiceObject();
    LONG Respond(const FakeCall& call, DISPPARAMS* parameters);
    void JoinEventThread(DWORD timeoutMs);

    LONG _references = 1;
    FakeSettings _settings;
    std::vector<FakeCall> _calls;
    std::map<long, LONG> _numbers;
    std::map<long, std::wstring> _strings;
    std::map<std::wstring, LONG> _results;
    std::function<void(const FakeCall&)> _hook;
    IDispatch* _control = nullptr;  // as received by OpenService: no reference taken
    std::thread _eventThread;
    std::future<RaisedEvent> _eventResult;
    bool _joinTimedOut = false;
};

}  // namespace norvik::control::test

// A small POS-style client of the OPOS MSR control object: it binds to the
// control by dispatch, as applications do, calls its members by dispatch
// identifier and records the events that the control raises on this
// thread. Used by the demo session and the end-to-end tests.
#pragma once

#include <windows.h>
#include <ocidl.h>
#include <oleauto.h>

#include <string>
#include <vector>

#include "NorvikMSRControl.h"
#include "common/win32/ComResources.h"

namespace norvik::pos {

using win32::ComPtr;
using win32::UniqueBstr;

std::string Narrow(BSTR text);
UniqueBstr Wide(const std::string& text);

// One event as the sink saw it: numbers in parameter order, the string of a DirectIO event.
struct Event {
    DISPID id;
    std::vector<long> numbers;
    std::string text;
};

// The application's event sink: answers the event names and records every event.
class SessionEvents final : public IDispatch {
public:
    static ComPtr<SessionEvents> Create();

    STDMETHODIMP QueryInterface(REFIID riid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP GetTypeInfoCount(UINT* count) override;
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override;
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override;
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                        UINT*) override;

    // Pumps the thread's messages until an event with `id` arrives (the control
    // raises events on this thread through its window); false after `timeoutMs`.
    bool WaitFor(DISPID id, Event& out, DWORD timeoutMs = 5000);
    // Runs inside every event, on this thread, before it is recorded.
    void SetHandler(void (*handler)(void* context, Event& event, DISPPARAMS* params), void* context);

private:
    SessionEvents() = default;
    ~SessionEvents() = default;
    LONG references_ = 1;
    std::vector<Event> events_;
    void (*handler_)(void*, Event&, DISPPARAMS*) = nullptr;
    void* handlerContext_ = nullptr;
};

// The control object, called by dispatch identifier.
class MsrControl {
public:
    // Creates the control by ProgID and advises the event sink.
    bool Create(const wchar_t* progId = NORVIKMSR_CONTROL_PROGID);
    ~MsrControl();

    long Method(DISPID id, std::vector<VARIANT> args = {});
    long Number(DISPID id);
    std::string Text(DISPID id);
    void Set(DISPID id, VARIANT value);
    void SetFlag(DISPID id, bool on);
    void SetNumber(DISPID id, long value);
    long Open(const std::string& name);
    // DirectIO(Command, &Data, &String): the two by-reference arguments come back.
    long DirectIO(long command, long& data, UniqueBstr& text);
    long RetrieveStatistics(UniqueBstr& buffer);
    SessionEvents& Events() { return *events_.get(); }
    void Release();  // lets go of the control now

    static VARIANT Long(long v);
    static VARIANT String(BSTR text);

private:
    long InvokeRaw(DISPID id, WORD flags, VARIANT* args, UINT count, VARIANT* result);

    ComPtr<IDispatch> control_;
    ComPtr<SessionEvents> events_;
    ComPtr<IConnectionPoint> point_;
    DWORD cookie_ = 0;
};

}  // namespace norvik::pos

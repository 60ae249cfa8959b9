// A scripted stand-in for the OPOS MSR control, for driving the main dialog
// through every outcome of its steps. It answers the standard dispatch
// identifiers, keeps the OPOS open/claim state, records every call, and raises
// DataEvent and ErrorEvent on its creating thread the way the real control
// does: by looking the event up on the sink by name, then invoking it.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace uitest {

struct FakeControlScript {
    // Results the next calls give (and leave in ResultCode).
    long openResult = 0;
    long claimResult = 0;
    long closeResult = 0;  // for a Close while open; a refused Close leaves the device open
    long deviceEnabledResult = 0;
    long dataEventEnabledResult = 0;
    long resultCodeExtended = 0;
    std::map<DISPID, std::wstring> strings;  // property id -> value

    // Filled by the control.
    std::vector<std::string> Calls();
    void ClearCalls();
    bool created = false;
    bool released = false;
    long errorResponseAfterEvent = -1;  // what the sink left in the by-reference argument
    HRESULT lastLookup = S_OK;          // GetIDsOfNames on the sink for the last event
    HWND eventWindow = nullptr;         // message-only window on the control's thread

    std::mutex mutex;
    std::vector<std::string> calls;
};

// Factory for CSwipeBenchDlg: creates a fake control driven by `Script()`.
HRESULT CreateFakeControl(IDispatch** control);
// A factory that finds no control.
HRESULT CreateNoControl(IDispatch** control);
FakeControlScript& Script();
void ResetScript();

// Raise events from any thread; they run on the control's thread. DataEvent
// is sent (returns when handled); ErrorEvent is posted, since its handler
// shows a message box.
void FireDataEvent(long status);
void PostErrorEvent(long resultCode, long resultCodeExtended, long errorLocus, long errorResponse);
// Asks the sink for a name it should not know; returns its answer.
HRESULT LookUpUnknownEvent();

}  // namespace uitest

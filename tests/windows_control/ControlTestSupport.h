// What the control's tests share: the COM apartment and registrations for the whole run,
// calls by name through IDispatch, OPOS registry entries that clean up after
// themselves, and bounded message pumping for events that arrive from other threads.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ComResources.h"
#include "ServiceObjectClient.h"

namespace norvik::control::test {

// The registered control, created through COM as an application would.
ComPtr<IDispatch> CreateControl();

// Calls `name` through IDispatch (GetIDsOfNames, then Invoke). Arguments in declaration
// order; a property put passes its value as the only argument.
HRESULT CallByName(IDispatch* target, const wchar_t* name, WORD flags, std::initializer_list<VARIANT> arguments,
                   VARIANT* result);
LONG CallLong(IDispatch* target, const wchar_t* name, std::initializer_list<VARIANT> arguments = {});
LONG GetLong(IDispatch* target, const wchar_t* name);
bool GetBool(IDispatch* target, const wchar_t* name);
std::wstring GetString(IDispatch* target, const wchar_t* name);
void Put(IDispatch* target, const wchar_t* name, const VARIANT& value);
DISPID IdOf(IDispatch* target, const wchar_t* name);

// Borrowing arguments, as the control builds its own.
using arg::Long;
using arg::LongRef;
using arg::StringRef;
inline VARIANT Text(BSTR borrowed) { return arg::String(borrowed); }
VARIANT Bool(bool value);

// Advises `sink` on the control's event connection point; the cookie, 0 on failure.
DWORD Advise(IDispatch* control, IUnknown* sink);

// Pumps this thread's messages until `done` holds or `timeoutMs` passes.
bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs = 5000);
// Waits, without dispatching anything, until a message was posted to this thread.
bool WaitForPostedMessage(DWORD timeoutMs = 5000);

// A device key (and optionally aliases) under the OPOS MSR key, removed again at scope end.
class ScopedMsrDevice {
public:
    ScopedMsrDevice(std::wstring deviceKey, const wchar_t* progId, std::vector<std::wstring> aliases = {});
    ScopedMsrDevice(const ScopedMsrDevice&) = delete;
    ScopedMsrDevice& operator=(const ScopedMsrDevice&) = delete;
    ~ScopedMsrDevice();

private:
    std::wstring _deviceKey;
    std::vector<std::wstring> _aliases;
};

// A string value under the MSR key, removed at scope end (an alias to nowhere, say).
class ScopedMsrAlias {
public:
    ScopedMsrAlias(std::wstring alias, const wchar_t* target);
    ~ScopedMsrAlias();

private:
    std::wstring _alias;
};

// A control created through COM for each test, and a device whose key names the fake
// service object, reachable as "NorvikTest_MSR-A" or through the alias "NorvikTest Reader".
class ControlTest : public testing::Test {
protected:
    static constexpr wchar_t kDeviceKey[] = L"NorvikTest_MSR-A";
    static constexpr wchar_t kAlias[] = L"NorvikTest Reader";

    void SetUp() override;
    void TearDown() override;
    LONG Open(const wchar_t* name = kDeviceKey);

    ScopedMsrDevice device{kDeviceKey, L"NorvikTest.FakeServiceObject", {kAlias}};
    ComPtr<IDispatch> control;
};

}  // namespace norvik::control::test

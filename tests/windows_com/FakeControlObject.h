// Stands in for the OPOS control object's own dispatch: it answers the three
// event method names, records every call it gets (from any thread), and its
// handlers change by-reference arguments as an application's handler may.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

namespace norvik::com::testing {

// What one Invoke received, copied out while the call was running.
struct RecordedCall {
    std::wstring method;
    DISPID dispid = 0;
    bool nullInterface = false;
    LCID lcid = 0;
    WORD flags = 0;
    UINT namedArguments = 0;
    bool outputsNull = false;
    std::vector<VARTYPE> types;       // in the order Invoke got them (last parameter first)
    std::vector<LONG> values;         // VT_I4 values and the values behind VT_I4|VT_BYREF
    std::vector<std::wstring> texts;  // the strings behind VT_BSTR|VT_BYREF
};

class FakeControlObject final : public IDispatch {
public:
    static constexpr DISPID kSOData = 100;
    static constexpr DISPID kSOError = 101;
    static constexpr DISPID kSODirectIO = 102;
    // What the handlers leave in the by-reference arguments.
    static constexpr LONG kErrorResponse = 11;
    static constexpr LONG kDirectIOData = 77;
    static constexpr const wchar_t* kDirectIOText = L"handler reply";

    IFACEMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (riid == IID_IUnknown || riid == IID_IDispatch) {
            *ppv = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    // Lives on the test's stack: counts, never deletes.
    IFACEMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
    IFACEMETHODIMP_(ULONG) Release() override { return --refs_; }
    ULONG refs() const { return refs_; }

    IFACEMETHODIMP GetTypeInfoCount(UINT* count) override {
        *count = 0;
        return S_OK;
    }
    IFACEMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }

    IFACEMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid,
                                 DISPID* dispids) override {
        std::lock_guard<std::mutex> lock(mutex_);
        lookups_.push_back(names[0]);
        lookupsWellFormed_ = lookupsWellFormed_ && riid == IID_NULL && count == 1 && lcid == 0x400;
        const wchar_t* const known[] = {L"SOData", L"SOError", L"SODirectIO"};
        for (DISPID i = 0; i < 3; ++i) {
            if (wcscmp(names[0], known[i]) == 0) {
                *dispids = kSOData + i;
                return S_OK;
            }
        }
        *dispids = DISPID_UNKNOWN;
        return DISP_E_UNKNOWNNAME;
    }

    IFACEMETHODIMP Invoke(DISPID dispid, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params,
                          VARIANT* result, EXCEPINFO* exception, UINT* argumentError) override {
        RecordedCall call;
        const wchar_t* const names[] = {L"SOData", L"SOError", L"SODirectIO"};
        if (dispid >= kSOData && dispid <= kSODirectIO) call.method = names[dispid - kSOData];
        call.dispid = dispid;
        call.nullInterface = riid == IID_NULL;
        call.lcid = lcid;
        call.flags = flags;
        call.namedArguments = params->cNamedArgs;
        call.outputsNull = !result && !exception && !argumentError;
        for (UINT i = 0; i < params->cArgs; ++i) {
            VARIANTARG& argument = params->rgvarg[i];
            call.types.push_back(V_VT(&argument));
            if (V_VT(&argument) == VT_I4) call.values.push_back(V_I4(&argument));
            if (V_VT(&argument) == (VT_I4 | VT_BYREF)) call.values.push_back(*V_I4REF(&argument));
            if (V_VT(&argument) == (VT_BSTR | VT_BYREF)) {
                BSTR text = *V_BSTRREF(&argument);
                call.texts.emplace_back(text ? text : L"");
            }
        }
        const bool wellFormed = params->cArgs >= 1 && params->cArgs <= 4;
        if (wellFormed && dispid == kSOError && V_VT(&params->rgvarg[0]) == (VT_I4 | VT_BYREF)) {
            *V_I4REF(&params->rgvarg[0]) = kErrorResponse;
        }
        if (wellFormed && dispid == kSODirectIO && params->cArgs == 3 &&
            V_VT(&params->rgvarg[0]) == (VT_BSTR | VT_BYREF) &&
            V_VT(&params->rgvarg[1]) == (VT_I4 | VT_BYREF)) {
            *V_I4REF(&params->rgvarg[1]) = kDirectIOData;
            ::SysFreeString(*V_BSTRREF(&params->rgvarg[0]));
            *V_BSTRREF(&params->rgvarg[0]) = ::SysAllocString(kDirectIOText);
        }
        {
            std::lock_guard<std::mutex> lock(mutex_);
            calls_.push_back(std::move(call));
        }
        changed_.notify_all();
        return failInvoke ? DISP_E_EXCEPTION : S_OK;
    }

    // Waits until `count` calls have arrived, however long the event thread takes.
    bool WaitForCalls(size_t count, std::chrono::seconds limit = std::chrono::seconds(20)) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, limit, [&] { return calls_.size() >= count; });
    }
    std::vector<RecordedCall> calls() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return calls_;
    }
    std::vector<std::wstring> lookups() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return lookups_;
    }
    bool lookupsWellFormed() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return lookupsWellFormed_;
    }

    std::atomic<bool> failInvoke{false};

private:
    std::atomic<ULONG> refs_{1};
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<RecordedCall> calls_;
    std::vector<std::wstring> lookups_;
    bool lookupsWellFormed_ = true;
};

}  // namespace norvik::com::testing

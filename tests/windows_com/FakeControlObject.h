// Stands in for the OPOS control object's own dispatch: it answers the three
// event names, records every call (from any thread), and its handlers change
// by-reference arguments as an application's event handler may.
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

// One Invoke as the fake saw it, arguments in the order Invoke got them.
struct RecordedCall {
    std::wstring method;
    bool wellFormed = false;  // IID_NULL, locale 0x400, a method, no named args, no outputs
    std::vector<VARTYPE> types;
    std::vector<LONG> values;         // VT_I4 values and the values behind VT_I4|VT_BYREF
    std::vector<std::wstring> texts;  // the strings behind VT_BSTR|VT_BYREF
};

class FakeControlObject final : public IDispatch {
public:
    static constexpr LONG kErrorResponse = 11;  // what the SOError handler answers
    static constexpr LONG kDirectIOData = 77;   // what the SODirectIO handler leaves
    static constexpr const wchar_t* kDirectIOText = L"handler reply";

    IFACEMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        *ppv = riid == IID_IUnknown || riid == IID_IDispatch ? this : nullptr;
        if (!*ppv) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    // Lives on the test's stack: it counts and never deletes itself.
    IFACEMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
    IFACEMETHODIMP_(ULONG) Release() override { return --refs_; }
    IFACEMETHODIMP GetTypeInfoCount(UINT* count) override {
        *count = 0;
        return S_OK;
    }
    IFACEMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }

    IFACEMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid,
                                 DISPID* dispids) override {
        std::lock_guard<std::mutex> lock(mutex_);
        lookups_.push_back(riid == IID_NULL && count == 1 && lcid == 0x400 ? names[0] : L"<bad>");
        for (DISPID i = 0; i < 3; ++i) {
            if (wcscmp(names[0], kNames[i]) == 0) {
                *dispids = 100 + i;
                return S_OK;
            }
        }
        *dispids = DISPID_UNKNOWN;
        return DISP_E_UNKNOWNNAME;
    }

    IFACEMETHODIMP Invoke(DISPID dispid, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params,
                          VARIANT* result, EXCEPINFO* exception, UINT* argumentError) override {
        RecordedCall call;
        const DISPID index = dispid - 100;
        call.method = index >= 0 && index < 3 ? kNames[index] : L"?";
        call.wellFormed = riid == IID_NULL && lcid == 0x400 && flags == DISPATCH_METHOD &&
                          params->cNamedArgs == 0 && !result && !exception && !argumentError;
        for (UINT i = 0; i < params->cArgs; ++i) {
            VARIANTARG& argument = params->rgvarg[i];
            call.types.push_back(V_VT(&argument));
            if (V_VT(&argument) == VT_I4) call.values.push_back(V_I4(&argument));
            if (V_VT(&argument) == (VT_I4 | VT_BYREF)) call.values.push_back(*V_I4REF(&argument));
            if (V_VT(&argument) == (VT_BSTR | VT_BYREF)) {
                call.texts.emplace_back(*V_BSTRREF(&argument) ? *V_BSTRREF(&argument) : L"");
            }
        }
        const auto typesAre = [&](std::vector<VARTYPE> expected) { return call.types == expected; };
        if (typesAre({VT_I4 | VT_BYREF, VT_I4, VT_I4, VT_I4})) {  // SOError's response
            *V_I4REF(&params->rgvarg[0]) = kErrorResponse;
        }
        if (typesAre({VT_BSTR | VT_BYREF, VT_I4 | VT_BYREF, VT_I4})) {  // SODirectIO's data
            *V_I4REF(&params->rgvarg[1]) = kDirectIOData;
            // As a careful handler does: the text it replaces may carry card data.
            BSTR replaced = *V_BSTRREF(&params->rgvarg[0]);
            if (replaced) ::SecureZeroMemory(replaced, ::SysStringByteLen(replaced));
            ::SysFreeString(replaced);
            *V_BSTRREF(&params->rgvarg[0]) = ::SysAllocString(directIOText_);
        }
        {
            std::lock_guard<std::mutex> lock(mutex_);
            calls_.push_back(std::move(call));
        }
        changed_.notify_all();
        return DISP_E_EXCEPTION;  // a failing handler must not matter to the caller
    }

    // Waits for `count` calls, however long the service object's event thread takes.
    bool WaitForCalls(size_t count) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(20),
                                 [&] { return calls_.size() >= count; });
    }
    std::vector<RecordedCall> calls() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return calls_;
    }
    std::vector<std::wstring> lookups() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return lookups_;
    }
    ULONG refs() const { return refs_; }
    // What the SODirectIO handler leaves in the text from now on.
    void ReplyToDirectIO(const wchar_t* text) { directIOText_ = text; }
    // The recorded texts may carry card data: wiped for the memory scans.
    void WipeTexts() {
        std::lock_guard<std::mutex> lock(mutex_);
        for (RecordedCall& call : calls_) {
            for (std::wstring& text : call.texts) {
                text.resize(text.capacity());
                ::SecureZeroMemory(text.data(), text.size() * sizeof(wchar_t));
                text.clear();
            }
        }
    }

private:
    static constexpr const wchar_t* kNames[] = {L"SOData", L"SOError", L"SODirectIO"};
    std::atomic<ULONG> refs_{1};
    std::atomic<const wchar_t*> directIOText_{kDirectIOText};
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<RecordedCall> calls_;
    std::vector<std::wstring> lookups_;
};

}  // namespace norvik::com::testing

// The boundary pieces on their own: ANSI conversions and the control object
// adapter, against a recording stand-in for the control object's dispatch.
#include <windows.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "com/AnsiText.h"
#include "com/ComControlObject.h"
#include "com/ComResources.h"

namespace norvik::com {
namespace {

// ---- ANSI conversions ---------------------------------------------------------

TEST(AnsiTextTest, NullAndEmptyStringsAreEmptyText) {
    EXPECT_EQ("", NarrowFromBstr(nullptr));
    UniqueBstr empty(::SysAllocString(L""));
    EXPECT_EQ("", NarrowFromBstr(empty.get()));
}

TEST(AnsiTextTest, RoundTripsThroughTheAnsiCodePage) {
    // Whatever the code page, a character it holds comes back unchanged.
    wchar_t wide[] = L"Card 4111 \x00E9";
    char narrow[32] = {};
    BOOL lossy = FALSE;
    ::WideCharToMultiByte(CP_ACP, 0, wide, -1, narrow, sizeof narrow, nullptr, &lossy);

    UniqueBstr in(::SysAllocString(wide));
    const std::string text = NarrowFromBstr(in.get());
    EXPECT_EQ(std::string(narrow), text);

    UniqueBstr out;
    ASSERT_EQ(S_OK, BstrFromNarrow(text, out));
    if (!lossy) {
        EXPECT_STREQ(wide, out.get());
    }
    EXPECT_EQ(wcslen(out.get()), out.length());
}

TEST(AnsiTextTest, EmptyTextGivesANewNonNullString) {
    UniqueBstr out;
    ASSERT_EQ(S_OK, BstrFromNarrow("", out));
    ASSERT_NE(nullptr, out.get());
    EXPECT_EQ(0u, out.length());
}

TEST(AnsiTextTest, LongTextsKeepTheirLength) {
    const std::wstring wide(100000, L'A');
    UniqueBstr in(::SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size())));
    const std::string text = NarrowFromBstr(in.get());
    EXPECT_EQ(wide.size(), text.size());
    UniqueBstr out;
    ASSERT_EQ(S_OK, BstrFromNarrow(text, out));
    EXPECT_EQ(wide.size(), out.length());
}

// ---- The control object adapter -----------------------------------------------

// What one Invoke received, copied out while the call was running.
struct RecordedCall {
    DISPID dispid = 0;
    bool nullInterface = false;
    LCID lcid = 0;
    WORD flags = 0;
    UINT namedArguments = 0;
    bool outputsNull = false;
    std::vector<VARTYPE> types;        // in the order Invoke got them (last parameter first)
    std::vector<LONG> values;          // VT_I4 value, or the value behind VT_I4|VT_BYREF
    std::vector<std::wstring> texts;   // the string behind VT_BSTR|VT_BYREF
};

// Stands in for the OPOS control object's own dispatch. Its handlers change
// by-reference arguments the way an application's event handler may.
class FakeControlObject final : public IDispatch {
public:
    IFACEMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (riid == IID_IUnknown || riid == IID_IDispatch) {
            *ppv = this;
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    IFACEMETHODIMP_(ULONG) AddRef() override { return ++refs; }
    IFACEMETHODIMP_(ULONG) Release() override { return --refs; }
    IFACEMETHODIMP GetTypeInfoCount(UINT* count) override {
        *count = 0;
        return S_OK;
    }
    IFACEMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    IFACEMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid,
                                 DISPID* dispids) override {
        lookups.push_back(names[0]);
        lookupOk = lookupOk && riid == IID_NULL && count == 1 && lcid == 0x400;
        for (size_t i = 0; i < ARRAYSIZE(kNames); ++i) {
            if (wcscmp(names[0], kNames[i]) == 0) {
                *dispids = static_cast<DISPID>(100 + i);
                return S_OK;
            }
        }
        *dispids = DISPID_UNKNOWN;
        return DISP_E_UNKNOWNNAME;
    }
    IFACEMETHODIMP Invoke(DISPID dispid, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params,
                          VARIANT* result, EXCEPINFO* exception, UINT* argumentError) override {
        RecordedCall call;
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
        calls.push_back(call);
        // Handlers: SOError answers with a response, SODirectIO rewrites data and text.
        if (dispid == 101) *V_I4REF(&params->rgvarg[0]) = 12;
        if (dispid == 102) {
            *V_I4REF(&params->rgvarg[1]) = 77;
            ::SysFreeString(*V_BSTRREF(&params->rgvarg[0]));
            *V_BSTRREF(&params->rgvarg[0]) = ::SysAllocString(L"handler reply");
        }
        return failInvoke ? DISP_E_EXCEPTION : S_OK;
    }

    static constexpr const wchar_t* kNames[] = {L"SOData", L"SOError", L"SODirectIO"};
    ULONG refs = 1;
    bool lookupOk = true;
    bool failInvoke = false;
    std::vector<std::wstring> lookups;
    std::vector<RecordedCall> calls;
};

class ComControlObjectTest : public ::testing::Test {
protected:
    FakeControlObject control_;
};

TEST_F(ComControlObjectTest, DataEventIsOneLongByValue) {
    {
        ComControlObject adapter(&control_);
        const EventArgument status = EventArgument::Long(9548);
        EXPECT_TRUE(adapter.Call("SOData", &status, 1));
    }
    ASSERT_EQ(1u, control_.calls.size());
    const RecordedCall& call = control_.calls[0];
    EXPECT_EQ(100, call.dispid);
    EXPECT_TRUE(call.nullInterface);
    EXPECT_EQ(0x400u, call.lcid);
    EXPECT_EQ(DISPATCH_METHOD, call.flags);
    EXPECT_EQ(0u, call.namedArguments);
    EXPECT_TRUE(call.outputsNull);
    EXPECT_EQ(std::vector<VARTYPE>{VT_I4}, call.types);
    EXPECT_EQ(std::vector<LONG>{9548}, call.values);
    EXPECT_EQ(std::vector<std::wstring>{L"SOData"}, control_.lookups);
    EXPECT_TRUE(control_.lookupOk);
}

TEST_F(ComControlObjectTest, ErrorEventPassesArgumentsLastFirstAndSeesTheResponse) {
    ComControlObject adapter(&control_);
    int32_t response = 11;
    const EventArgument arguments[] = {EventArgument::Long(114), EventArgument::Long(0x020304),
                                       EventArgument::Long(2), EventArgument::LongRef(&response)};
    EXPECT_TRUE(adapter.Call("SOError", arguments, 4));

    ASSERT_EQ(1u, control_.calls.size());
    const RecordedCall& call = control_.calls[0];
    EXPECT_EQ(101, call.dispid);
    EXPECT_EQ((std::vector<VARTYPE>{VT_I4 | VT_BYREF, VT_I4, VT_I4, VT_I4}), call.types);
    EXPECT_EQ((std::vector<LONG>{11, 2, 0x020304, 114}), call.values);
    EXPECT_EQ(12, response);
}

TEST_F(ComControlObjectTest, DirectIOEventBringsTheHandlersChangesBack) {
    ComControlObject adapter(&control_);
    int32_t data = 4;
    std::string text = "0A1B";
    const EventArgument arguments[] = {EventArgument::Long(3), EventArgument::LongRef(&data),
                                       EventArgument::StringRef(&text)};
    EXPECT_TRUE(adapter.Call("SODirectIO", arguments, 3));

    ASSERT_EQ(1u, control_.calls.size());
    const RecordedCall& call = control_.calls[0];
    EXPECT_EQ(102, call.dispid);
    EXPECT_EQ((std::vector<VARTYPE>{VT_BSTR | VT_BYREF, VT_I4 | VT_BYREF, VT_I4}), call.types);
    EXPECT_EQ((std::vector<LONG>{4, 3}), call.values);
    EXPECT_EQ(std::vector<std::wstring>{L"0A1B"}, call.texts);
    EXPECT_EQ(77, data);
    EXPECT_EQ("handler reply", text);
}

TEST_F(ComControlObjectTest, UnknownNameDropsTheEventWithoutInvoke) {
    ComControlObject adapter(&control_);
    const EventArgument status = EventArgument::Long(1);
    EXPECT_FALSE(adapter.Call("SOStatusUpdate", &status, 1));
    EXPECT_EQ(std::vector<std::wstring>{L"SOStatusUpdate"}, control_.lookups);
    EXPECT_TRUE(control_.calls.empty());
}

TEST_F(ComControlObjectTest, LooksTheNameUpForEveryCallAndIgnoresInvokeFailures) {
    ComControlObject adapter(&control_);
    control_.failInvoke = true;
    const EventArgument status = EventArgument::Long(5);
    EXPECT_TRUE(adapter.Call("SOData", &status, 1));
    EXPECT_TRUE(adapter.Call("SOData", &status, 1));
    EXPECT_EQ(2u, control_.lookups.size());
    EXPECT_EQ(2u, control_.calls.size());
}

TEST_F(ComControlObjectTest, RefusesMalformedCallsBeforeReachingTheControlObject) {
    ComControlObject adapter(&control_);
    const EventArgument missingLong = EventArgument::LongRef(nullptr);
    const EventArgument missingText = EventArgument::StringRef(nullptr);
    EXPECT_FALSE(adapter.Call(nullptr, nullptr, 0));
    EXPECT_FALSE(adapter.Call("", nullptr, 0));
    EXPECT_FALSE(adapter.Call("SOData", nullptr, 1));
    EXPECT_FALSE(adapter.Call("SOData", &missingLong, -1));
    EXPECT_FALSE(adapter.Call("SOData", &missingLong, ComControlObject::kMaxArguments + 1));
    EXPECT_FALSE(adapter.Call("SOData", &missingLong, 1));
    EXPECT_FALSE(adapter.Call("SOData", &missingText, 1));
    EXPECT_TRUE(control_.calls.empty());

    ComControlObject detached(nullptr);
    const EventArgument status = EventArgument::Long(1);
    EXPECT_FALSE(detached.Call("SOData", &status, 1));
}

TEST_F(ComControlObjectTest, TakesNoReferenceOnTheControlObject) {
    {
        ComControlObject adapter(&control_);
        const EventArgument status = EventArgument::Long(1);
        adapter.Call("SOData", &status, 1);
        EXPECT_EQ(1u, control_.refs);
    }
    EXPECT_EQ(1u, control_.refs);
}

}  // namespace
}  // namespace norvik::com

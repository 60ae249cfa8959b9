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
#include "FakeControlObject.h"

namespace norvik::com {
namespace {

using testing::FakeControlObject;
using testing::RecordedCall;

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
    const std::vector<RecordedCall> calls = control_.calls();
    ASSERT_EQ(1u, calls.size());
    const RecordedCall& call = calls[0];
    EXPECT_EQ(FakeControlObject::kSOData, call.dispid);
    EXPECT_TRUE(call.nullInterface);
    EXPECT_EQ(0x400u, call.lcid);
    EXPECT_EQ(DISPATCH_METHOD, call.flags);
    EXPECT_EQ(0u, call.namedArguments);
    EXPECT_TRUE(call.outputsNull);
    EXPECT_EQ(std::vector<VARTYPE>{VT_I4}, call.types);
    EXPECT_EQ(std::vector<LONG>{9548}, call.values);
    EXPECT_EQ(std::vector<std::wstring>{L"SOData"}, control_.lookups());
    EXPECT_TRUE(control_.lookupsWellFormed());
}

TEST_F(ComControlObjectTest, ErrorEventPassesArgumentsLastFirstAndSeesTheResponse) {
    ComControlObject adapter(&control_);
    int32_t response = 12;
    const EventArgument arguments[] = {EventArgument::Long(114), EventArgument::Long(0x020304),
                                       EventArgument::Long(2), EventArgument::LongRef(&response)};
    EXPECT_TRUE(adapter.Call("SOError", arguments, 4));

    const std::vector<RecordedCall> calls = control_.calls();
    ASSERT_EQ(1u, calls.size());
    const RecordedCall& call = calls[0];
    EXPECT_EQ(FakeControlObject::kSOError, call.dispid);
    EXPECT_EQ((std::vector<VARTYPE>{VT_I4 | VT_BYREF, VT_I4, VT_I4, VT_I4}), call.types);
    EXPECT_EQ((std::vector<LONG>{12, 2, 0x020304, 114}), call.values);
    EXPECT_EQ(FakeControlObject::kErrorResponse, response);
}

TEST_F(ComControlObjectTest, DirectIOEventBringsTheHandlersChangesBack) {
    ComControlObject adapter(&control_);
    int32_t data = 4;
    std::string text = "0A1B";
    const EventArgument arguments[] = {EventArgument::Long(3), EventArgument::LongRef(&data),
                                       EventArgument::StringRef(&text)};
    EXPECT_TRUE(adapter.Call("SODirectIO", arguments, 3));

    const std::vector<RecordedCall> calls = control_.calls();
    ASSERT_EQ(1u, calls.size());
    const RecordedCall& call = calls[0];
    EXPECT_EQ(FakeControlObject::kSODirectIO, call.dispid);
    EXPECT_EQ((std::vector<VARTYPE>{VT_BSTR | VT_BYREF, VT_I4 | VT_BYREF, VT_I4}), call.types);
    EXPECT_EQ((std::vector<LONG>{4, 3}), call.values);
    EXPECT_EQ(std::vector<std::wstring>{L"0A1B"}, call.texts);
    EXPECT_EQ(FakeControlObject::kDirectIOData, data);
    EXPECT_EQ("handler reply", text);
}

TEST_F(ComControlObjectTest, UnknownNameDropsTheEventWithoutInvoke) {
    ComControlObject adapter(&control_);
    const EventArgument status = EventArgument::Long(1);
    EXPECT_FALSE(adapter.Call("SOStatusUpdate", &status, 1));
    EXPECT_EQ(std::vector<std::wstring>{L"SOStatusUpdate"}, control_.lookups());
    EXPECT_TRUE(control_.calls().empty());
}

TEST_F(ComControlObjectTest, LooksTheNameUpForEveryCallAndIgnoresInvokeFailures) {
    ComControlObject adapter(&control_);
    control_.failInvoke = true;
    const EventArgument status = EventArgument::Long(5);
    EXPECT_TRUE(adapter.Call("SOData", &status, 1));
    EXPECT_TRUE(adapter.Call("SOData", &status, 1));
    EXPECT_EQ(2u, control_.lookups().size());
    EXPECT_EQ(2u, control_.calls().size());
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
    EXPECT_TRUE(control_.calls().empty());

    ComControlObject detached(nullptr);
    const EventArgument status = EventArgument::Long(1);
    EXPECT_FALSE(detached.Call("SOData", &status, 1));
}

TEST_F(ComControlObjectTest, TakesNoReferenceOnTheControlObject) {
    {
        ComControlObject adapter(&control_);
        const EventArgument status = EventArgument::Long(1);
        adapter.Call("SOData", &status, 1);
        EXPECT_EQ(1u, control_.refs());
    }
    EXPECT_EQ(1u, control_.refs());
}

}  // namespace
}  // namespace norvik::com

// The control object adapter on its own, against a recording stand-in for the
// control object's dispatch. The service object tests drive it with real events.
#include <windows.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include "FakeControlObject.h"
#include "com/ComControlObject.h"

namespace norvik::com {
namespace {

using testing::FakeControlObject;
using testing::RecordedCall;

class ComControlObjectTest : public ::testing::Test {
protected:
    FakeControlObject control_;
};

TEST_F(ComControlObjectTest, EveryCallLooksTheNameUpThenInvokesIt) {
    {
        ComControlObject adapter(&control_);
        const EventArgument status = EventArgument::Long(9548);
        EXPECT_TRUE(adapter.Call("SOData", &status, 1));  // though the handler fails
        EXPECT_TRUE(adapter.Call("SOData", &status, 1));
        ASSERT_EQ(2u, control_.calls().size());
        const RecordedCall call = control_.calls()[1];
        EXPECT_EQ(L"SOData", call.method);
        EXPECT_TRUE(call.wellFormed);
        EXPECT_EQ(std::vector<VARTYPE>{VT_I4}, call.types);
        EXPECT_EQ(std::vector<LONG>{9548}, call.values);
    }
    // No reference is taken on the control object, and none is left behind.
    EXPECT_EQ(1u, control_.refs());
    // Looked up again for every call.
    EXPECT_EQ((std::vector<std::wstring>{L"SOData", L"SOData"}), control_.lookups());
}

TEST_F(ComControlObjectTest, UnknownNamesAndMalformedCallsNeverReachInvoke) {
    ComControlObject adapter(&control_);
    const EventArgument status = EventArgument::Long(1);
    const EventArgument noLong = EventArgument::LongRef(nullptr);
    const EventArgument noText = EventArgument::StringRef(nullptr);
    EXPECT_FALSE(adapter.Call("SOStatusUpdate", &status, 1));  // dropped: the name is unknown
    EXPECT_FALSE(adapter.Call(nullptr, nullptr, 0));
    EXPECT_FALSE(adapter.Call("", nullptr, 0));
    EXPECT_FALSE(adapter.Call("SOData", nullptr, 1));
    EXPECT_FALSE(adapter.Call("SOData", &status, -1));
    EXPECT_FALSE(adapter.Call("SOData", &status, ComControlObject::kMaxArguments + 1));
    EXPECT_FALSE(adapter.Call("SOData", &noLong, 1));
    EXPECT_FALSE(adapter.Call("SOData", &noText, 1));
    EXPECT_FALSE(ComControlObject(nullptr).Call("SOData", &status, 1));
    EXPECT_TRUE(control_.calls().empty());
    EXPECT_EQ(L"SOStatusUpdate", control_.lookups().at(0));
}

}  // namespace
}  // namespace norvik::com

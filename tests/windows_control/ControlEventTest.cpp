// Events: the service object's SOData, SOError, SODirectIO and SOStatusUpdate become
// events on the control's creating thread; a caller on another thread waits for the
// handlers and gets their by-reference changes; Close and the final Release never leave
// such a caller waiting.
#include <gtest/gtest.h>
#include <ocidl.h>

#include <chrono>
#include <future>

#include "ControlTestSupport.h"
#include "FakeServiceObject.h"
#include "NorvikMSRControl.h"
#include "RecordingSink.h"

namespace norvik::control::test {
namespace {

class ControlEvents : public ControlTest {
protected:
    void SetUp() override {
        ControlTest::SetUp();
        ASSERT_EQ(Open(), 0);
        so = FakeServiceObject::Latest();
        ASSERT_NE(so, nullptr);
        so->AddRef();  // inspected after the control has let go of it
        sink = RecordingSink::Create();
        ASSERT_NE(Advise(control.get(), sink.get()), 0u);
    }
    void TearDown() override {
        control.reset();
        if (so) so->Release();
        ControlTest::TearDown();
    }

    // As the service object raises it: on this thread, or on its own event thread while
    // this thread pumps messages.
    RaisedEvent Deliver(bool fromOtherThread, const wchar_t* method, std::vector<LONG> values, LONG number = 0,
                        const wchar_t* text = nullptr) {
        if (!fromOtherThread) return so->Raise(method, std::move(values), number, text);
        so->RaiseFromThread(method, std::move(values), number, text);
        EXPECT_TRUE(PumpUntil([this] { return so->ThreadReturned(); }));
        return so->ThreadResult();
    }
    // Raises from the event thread and returns once the event is waiting in this thread's
    // queue; nothing has been dispatched yet.
    void BlockEventThread() {
        so->RaiseFromThread(L"SOData", {1});
        ASSERT_TRUE(WaitForPostedMessage());
        ASSERT_FALSE(so->ThreadReturned()) << "the caller must wait for the handler";
    }
    void ExpectEventThreadReleased() {
        EXPECT_TRUE(so->WaitForThread(0)) << "released before Close returned";
        EXPECT_FALSE(so->EventThreadJoinTimedOut());
        EXPECT_EQ(so->ThreadResult().hr, S_OK);
        PumpUntil([] { return true; });  // whatever is still queued
        EXPECT_TRUE(sink->events.empty()) << "a dropped event never reaches the sink";
    }

    FakeServiceObject* so = nullptr;
    ComPtr<RecordingSink> sink;
};

TEST_F(ControlEvents, EventOnTheCreatingThreadReachesTheSinkInsideTheCall) {
    RaisedEvent raised;
    size_t eventsDuringCall = 0;
    so->SetHook([&](const FakeCall& call) {
        if (call.method != L"SetPropertyNumber" || call.arguments.at(0).number != 2) return;
        raised = so->Raise(L"SOData", {9548});
        eventsDuringCall = sink->events.size();
    });
    Put(control.get(), L"DataEventEnabled", Bool(true));
    EXPECT_EQ(raised.hr, S_OK);
    EXPECT_EQ(eventsDuringCall, 1u);
    ASSERT_EQ(sink->events.size(), 1u);
    EXPECT_EQ(sink->events[0].id, DISPID_NORVIKMSR_DATAEVENT);
    EXPECT_EQ(sink->events[0].values, std::vector<LONG>({9548}));
    EXPECT_EQ(sink->events[0].thread, ::GetCurrentThreadId());
}

TEST_F(ControlEvents, EventFromAnotherThreadIsHandledOnTheCreatingThreadWhileItsCallerWaits) {
    BlockEventThread();
    EXPECT_TRUE(sink->events.empty());
    ASSERT_TRUE(PumpUntil([this] { return so->ThreadReturned(); }));
    EXPECT_EQ(so->ThreadResult().hr, S_OK);
    ASSERT_EQ(sink->events.size(), 1u);
    EXPECT_EQ(sink->events[0].thread, ::GetCurrentThreadId());
    EXPECT_EQ(sink->events[0].values, std::vector<LONG>({1}));
}

class ControlEventArguments : public ControlEvents, public testing::WithParamInterface<bool> {};

TEST_P(ControlEventArguments, EveryEventCarriesItsArgumentsAndReturnsTheHandlersChanges) {
    const bool fromOtherThread = GetParam();

    // No handler changes: the references come back as they went.
    RaisedEvent error = Deliver(fromOtherThread, L"SOError", {111, 0x0203, 2}, 11);
    EXPECT_EQ(error.hr, S_OK);
    EXPECT_EQ(error.number, 11);
    RaisedEvent direct = Deliver(fromOtherThread, L"SODirectIO", {7}, 3, L"in");
    EXPECT_EQ(direct.number, 3);
    EXPECT_EQ(direct.text, L"in");

    sink->numberReply = 12;
    sink->textReply = L"out";
    error = Deliver(fromOtherThread, L"SOError", {111, 0x0203, 2}, 11);
    EXPECT_EQ(error.number, 12);
    direct = Deliver(fromOtherThread, L"SODirectIO", {7}, 3, L"in");
    EXPECT_EQ(direct.number, 12);
    EXPECT_EQ(direct.text, L"out");
    EXPECT_EQ(Deliver(fromOtherThread, L"SOStatusUpdate", {2001}).hr, S_OK);
    EXPECT_EQ(Deliver(fromOtherThread, L"SOData", {0x2504c}).hr, S_OK);

    ASSERT_EQ(sink->events.size(), 6u);
    const SinkEvent& errorEvent = sink->events[2];
    EXPECT_EQ(errorEvent.id, DISPID_NORVIKMSR_ERROREVENT);
    EXPECT_EQ(errorEvent.values, std::vector<LONG>({111, 0x0203, 2, 11}));
    const SinkEvent& directEvent = sink->events[3];
    EXPECT_EQ(directEvent.id, DISPID_NORVIKMSR_DIRECTIOEVENT);
    EXPECT_EQ(directEvent.values, std::vector<LONG>({7, 3}));
    EXPECT_EQ(directEvent.text, L"in");
    EXPECT_EQ(sink->events[4].id, DISPID_NORVIKMSR_STATUSUPDATEEVENT);
    EXPECT_EQ(sink->events[4].values, std::vector<LONG>({2001}));
    EXPECT_EQ(sink->events[5].id, DISPID_NORVIKMSR_DATAEVENT);
    EXPECT_EQ(sink->events[5].values, std::vector<LONG>({0x2504c}));
    for (const auto& event : sink->events) EXPECT_EQ(event.thread, ::GetCurrentThreadId());
}

INSTANTIATE_TEST_SUITE_P(FromEitherThread, ControlEventArguments, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& info) {
                             return info.param ? "EventThread" : "CreatingThread";
                         });

TEST_F(ControlEvents, SinksAreLookedUpByEventNameAndCalledByTheirOwnId) {
    sink->names[L"DataEvent"] = 4242;
    sink->names.erase(L"ErrorEvent");
    auto plain = RecordingSink::Create();
    ASSERT_NE(Advise(control.get(), plain.get()), 0u);

    so->Raise(L"SOData", {1});
    so->Raise(L"SOError", {111, 0, 2}, 0);

    ASSERT_EQ(sink->events.size(), 1u) << "no ErrorEvent for a sink that does not know the name";
    EXPECT_EQ(sink->events[0].id, 4242);
    EXPECT_EQ(sink->askedNames, std::vector<std::wstring>({L"DataEvent", L"ErrorEvent"}));
    ASSERT_EQ(plain->events.size(), 2u);
    EXPECT_EQ(plain->events[0].id, DISPID_NORVIKMSR_DATAEVENT);
    EXPECT_EQ(plain->events[1].id, DISPID_NORVIKMSR_ERROREVENT);
}

TEST_F(ControlEvents, UnadvisedSinkHearsNothing) {
    auto other = RecordingSink::Create();
    const DWORD cookie = Advise(control.get(), other.get());
    ComPtr<IConnectionPointContainer> container;
    ComPtr<IConnectionPoint> point;
    ASSERT_HRESULT_SUCCEEDED(control.As(&container));
    ASSERT_HRESULT_SUCCEEDED(container->FindConnectionPoint(DIID__INorvikMSRControlEvents, point.put()));
    ASSERT_HRESULT_SUCCEEDED(point->Unadvise(cookie));
    so->Raise(L"SOData", {1});
    EXPECT_EQ(sink->events.size(), 1u);
    EXPECT_TRUE(other->events.empty());
}

TEST_F(ControlEvents, CloseReleasesAnEventThreadBlockedOnTheCreatingThread) {
    BlockEventThread();
    // The fake's CloseService waits for its event thread, as a real one stopping it would.
    EXPECT_EQ(CallLong(control.get(), L"Close"), 0);
    ExpectEventThreadReleased();
}

TEST_F(ControlEvents, FinalReleaseReleasesAnEventThreadBlockedOnTheCreatingThread) {
    BlockEventThread();
    control.reset();
    EXPECT_EQ(FakeServiceObject::Journal().back(), L"CloseService");
    ExpectEventThreadReleased();
}

TEST_F(ControlEvents, AfterCloseEventsReturnAtOnceAndReachNobody) {
    ASSERT_EQ(CallLong(control.get(), L"Close"), 0);
    IDispatch* dispatch = control.get();
    auto elsewhere =
        std::async(std::launch::async, [dispatch] { return RaiseOn(dispatch, L"SOError", {1, 2, 3}, 11); });
    ASSERT_EQ(elsewhere.wait_for(std::chrono::seconds(5)), std::future_status::ready) << "must not wait";
    const RaisedEvent dropped = elsewhere.get();
    EXPECT_EQ(dropped.hr, S_OK);
    EXPECT_EQ(dropped.number, 11);
    EXPECT_EQ(RaiseOn(dispatch, L"SOData", {1}).hr, S_OK);
    PumpUntil([] { return true; });
    EXPECT_TRUE(sink->events.empty());
}

TEST_F(ControlEvents, DisablingWhileAnEventWaitsLetsItThroughAfterwards) {
    BlockEventThread();
    Put(control.get(), L"DeviceEnabled", Bool(false));
    ASSERT_EQ(so->LastCall(L"SetPropertyNumber")->arguments.at(0).number, 3);
    EXPECT_FALSE(so->ThreadReturned());
    ASSERT_TRUE(PumpUntil([this] { return so->ThreadReturned(); }));
    EXPECT_EQ(sink->events.size(), 1u);
}

TEST_F(ControlEvents, HandlerThatClosesReleasesItsOwnCallerAndLaterSinksHearNothing) {
    auto later = RecordingSink::Create();
    ASSERT_NE(Advise(control.get(), later.get()), 0u);
    LONG closeResult = -1;
    sink->onEvent = [&](const SinkEvent&) { closeResult = CallLong(control.get(), L"Close"); };

    so->RaiseFromThread(L"SOData", {1});
    ASSERT_TRUE(PumpUntil([this] { return so->ThreadReturned(); }));
    EXPECT_EQ(closeResult, 0);
    EXPECT_FALSE(so->EventThreadJoinTimedOut());
    EXPECT_EQ(sink->events.size(), 1u);
    EXPECT_TRUE(later->events.empty());
}

TEST_F(ControlEvents, HandlerMayReleaseTheLastReferenceToTheControl) {
    sink->onEvent = [&](const SinkEvent&) { control.reset(); };
    so->RaiseFromThread(L"SOData", {1});
    ASSERT_TRUE(PumpUntil([this] { return so->ThreadReturned(); }));
    EXPECT_FALSE(so->EventThreadJoinTimedOut());
    EXPECT_EQ(FakeServiceObject::Journal().back(), L"CloseService");
    EXPECT_EQ(sink->events.size(), 1u);
}

}  // namespace
}  // namespace norvik::control::test

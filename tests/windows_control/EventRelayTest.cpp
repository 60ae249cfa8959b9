// The relay that carries events from a service-object thread to the control's thread:
// who runs a job where, who waits for whom, and that shutting it never leaves a caller
// stuck.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "EventRelay.h"

namespace norvik::control {
namespace {

using namespace std::chrono_literals;
using Outcome = EventRelay::Outcome;

class RecordingJob : public RelayJob {
public:
    explicit RecordingJob(std::function<void()> body = {}) : _body(std::move(body)) {}
    void Run() override {
        thread = std::this_thread::get_id();
        ++runs;
        if (_body) _body();
        finished = true;
    }
    std::thread::id thread;
    std::atomic<int> runs{0};
    std::atomic<bool> finished{false};

private:
    std::function<void()> _body;
};

// The relay's owner is the test thread; wakes are counted and, optionally, refused.
class EventRelayTest : public testing::Test {
protected:
    EventRelay relay{[this] {
        ++wakes;
        return acceptWakes.load();
    }};
    std::atomic<int> wakes{0};
    std::atomic<bool> acceptWakes{true};

    std::future<Outcome> RunElsewhere(std::shared_ptr<RelayJob> job) {
        return std::async(std::launch::async, [this, job] { return relay.Run(job); });
    }
    // Bounded: the caller has queued its job once it has woken the owner.
    bool WaitForWakes(int count) {
        for (int i = 0; i < 500 && wakes < count; ++i) std::this_thread::sleep_for(1ms);
        return wakes >= count;
    }
};

TEST_F(EventRelayTest, OwnerThreadRunsItsJobInlineWithoutWaking) {
    auto job = std::make_shared<RecordingJob>();
    relay.Open();
    EXPECT_EQ(relay.Run(job), Outcome::Handled);
    EXPECT_EQ(job->runs, 1);
    EXPECT_EQ(job->thread, std::this_thread::get_id());
    EXPECT_EQ(wakes, 0);
}

TEST_F(EventRelayTest, OtherThreadWaitsUntilTheOwnerHasRunTheJob) {
    auto job = std::make_shared<RecordingJob>();
    auto caller = RunElsewhere(job);
    ASSERT_TRUE(WaitForWakes(1));
    // Queued and woken, but only the owner can run it: the caller is still waiting.
    EXPECT_EQ(caller.wait_for(0ms), std::future_status::timeout);
    EXPECT_EQ(job->runs, 0);

    relay.RunPending();
    ASSERT_EQ(caller.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(caller.get(), Outcome::Handled);
    EXPECT_EQ(job->runs, 1);
    EXPECT_EQ(job->thread, std::this_thread::get_id());
}

TEST_F(EventRelayTest, ShutReleasesAWaitingCallerAndTheJobNeverRuns) {
    auto job = std::make_shared<RecordingJob>();
    auto caller = RunElsewhere(job);
    ASSERT_TRUE(WaitForWakes(1));

    relay.Shut();
    ASSERT_EQ(caller.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(caller.get(), Outcome::Dropped);
    relay.RunPending();
    EXPECT_EQ(job->runs, 0);
}

TEST_F(EventRelayTest, AShutRelayDropsNewJobsAtOnceOnEveryThread) {
    relay.Shut();
    auto here = std::make_shared<RecordingJob>();
    EXPECT_EQ(relay.Run(here), Outcome::Dropped);

    auto there = std::make_shared<RecordingJob>();
    auto caller = RunElsewhere(there);
    ASSERT_EQ(caller.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(caller.get(), Outcome::Dropped);
    EXPECT_EQ(wakes, 0);
    EXPECT_EQ(here->runs + there->runs, 0);

    relay.Open();
    EXPECT_EQ(relay.Run(here), Outcome::Handled);
}

TEST_F(EventRelayTest, ShutInsideARunningJobReleasesItsCallerBeforeTheJobEnds) {
    std::future<Outcome> caller;
    bool callerReturnedWhileRunning = false;
    auto job = std::make_shared<RecordingJob>([&] {
        relay.Shut();
        callerReturnedWhileRunning = caller.wait_for(5s) == std::future_status::ready;
    });
    caller = RunElsewhere(job);
    ASSERT_TRUE(WaitForWakes(1));

    relay.RunPending();
    EXPECT_TRUE(callerReturnedWhileRunning);
    EXPECT_EQ(caller.get(), Outcome::Dropped);
    EXPECT_TRUE(job->finished);
}

TEST_F(EventRelayTest, RefusedWakeDropsTheJobInsteadOfWaitingForever) {
    acceptWakes = false;
    auto job = std::make_shared<RecordingJob>();
    auto caller = RunElsewhere(job);
    ASSERT_EQ(caller.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(caller.get(), Outcome::Dropped);
    relay.RunPending();
    EXPECT_EQ(job->runs, 0);
}

TEST_F(EventRelayTest, NestedRunPendingInsideAJobRunsTheNextJobAndReleasesItsCaller) {
    auto inner = std::make_shared<RecordingJob>();
    std::future<Outcome> innerCaller;
    bool innerDoneInsideOuter = false;
    auto outer = std::make_shared<RecordingJob>([&] {
        innerCaller = RunElsewhere(inner);
        ASSERT_TRUE(WaitForWakes(2));
        relay.RunPending();  // what a handler's modal loop does
        innerDoneInsideOuter = innerCaller.wait_for(5s) == std::future_status::ready;
    });
    auto outerCaller = RunElsewhere(outer);
    ASSERT_TRUE(WaitForWakes(1));

    relay.RunPending();
    EXPECT_TRUE(innerDoneInsideOuter);
    EXPECT_EQ(innerCaller.get(), Outcome::Handled);
    ASSERT_EQ(outerCaller.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(outerCaller.get(), Outcome::Handled);
    EXPECT_EQ(inner->runs + outer->runs, 2);
}

}  // namespace
}  // namespace norvik::control

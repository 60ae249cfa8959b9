// Stand-ins for the OPOS control object that the service object calls events
// on, and a clock that records pauses instead of taking them.
//
// EventRecorder: the application's side of the events. It records every call
// with its arguments as they were on entry, then runs the test's handler,
// which may change the by-reference arguments and call the service object
// back. Shared by the test and the control objects it hands to OpenService,
// so it outlives them and tells when they were released.
// RecordingControl: calls the recorder directly on whichever thread raises.
// MarshallingControl: behaves like the standard control: raised from a
// thread other than the application's, the event waits until the
// application thread pumps it (Marshaller::Pump), or until BeginClose.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "seams/ControlObject.h"
#include "seams/Clock.h"

namespace norvik::test {

constexpr std::chrono::milliseconds kWait{10000};  // bound of every wait for another thread

struct RecordedEvent {
    std::string method;
    std::vector<int32_t> values;  // the by-value arguments, in declaration order
    int32_t longRef = 0;          // what the by-reference number held on entry
    std::string stringRef;        // what the by-reference string held on entry
    std::thread::id thread;
};

using EventHandler = std::function<void(const std::string& method, const EventArgument* arguments, int count)>;

class EventRecorder {
public:
    void SetHandler(EventHandler handler);
    void Deliver(const char* method, const EventArgument* arguments, int count);

    std::vector<RecordedEvent> Events() const;
    std::vector<RecordedEvent> Events(const std::string& method) const;
    size_t Count() const;
    // Waits until `count` events in all have arrived and their handlers returned.
    bool WaitForCount(size_t count, std::chrono::milliseconds timeout = kWait) const;

    void MarkReleased();
    bool Released() const;

private:
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<RecordedEvent> events_;
    EventHandler handler_;
    size_t handled_ = 0;
    bool released_ = false;
};

class RecordingControl final : public ControlObject {
public:
    explicit RecordingControl(std::shared_ptr<EventRecorder> recorder) : recorder_(std::move(recorder)) {}
    ~RecordingControl() override { recorder_->MarkReleased(); }
    bool Call(const char* method, const EventArgument* arguments, int count) override;

private:
    std::shared_ptr<EventRecorder> recorder_;
};

// The application thread's message queue, bound to the thread that creates it.
class Marshaller {
public:
    Marshaller() : owner_(std::this_thread::get_id()) {}
    // On the application thread: delivers every waiting event, oldest first.
    size_t Pump();
    bool WaitForPending(size_t count, std::chrono::milliseconds timeout = kWait) const;
    // Close has begun: nothing more is delivered, and raisers stop waiting.
    void BeginClose();

    void Raise(EventRecorder& recorder, const char* method, const EventArgument* arguments, int count);

private:
    struct Posted {
        EventRecorder* recorder;
        const char* method;
        const EventArgument* arguments;
        int count;
        bool done = false;
    };
    const std::thread::id owner_;
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::deque<Posted*> queue_;
    Posted* delivering_ = nullptr;
    bool closing_ = false;
};

class MarshallingControl final : public ControlObject {
public:
    MarshallingControl(std::shared_ptr<EventRecorder> recorder, std::shared_ptr<Marshaller> marshaller)
        : recorder_(std::move(recorder)), marshaller_(std::move(marshaller)) {}
    ~MarshallingControl() override { recorder_->MarkReleased(); }
    bool Call(const char* method, const EventArgument* arguments, int count) override;

private:
    std::shared_ptr<EventRecorder> recorder_;
    std::shared_ptr<Marshaller> marshaller_;
};

// A thread that plays the application: it runs the tasks it is given, one at
// a time, and pumps its Marshaller only when a task says so.
class ApplicationThread {
public:
    ApplicationThread();
    ~ApplicationThread();
    // Runs `task` there; false when it did not finish within `timeout`.
    bool Run(std::function<void()> task, std::chrono::milliseconds timeout = kWait);
    std::shared_ptr<Marshaller> marshaller() const { return marshaller_; }

private:
    void Main();
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::packaged_task<void()>> tasks_;
    bool stop_ = false;
    std::shared_ptr<Marshaller> marshaller_;
    std::thread thread_;
};

class FakeClock final : public Clock {
public:
    static constexpr LocalDate kToday{2031, 7, 4};
    void SleepMilliseconds(uint32_t milliseconds) override;
    LocalDate Today() override { return kToday; }
    std::vector<uint32_t> Sleeps() const;

private:
    mutable std::mutex mutex_;
    std::vector<uint32_t> sleeps_;
};

}  // namespace norvik::test

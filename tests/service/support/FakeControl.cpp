#include "support/FakeControl.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace norvik::test {

void EventRecorder::SetHandler(EventHandler handler) {
    std::lock_guard<std::mutex> lock(mutex_);
    handler_ = std::move(handler);
}

void EventRecorder::Deliver(const char* method, const EventArgument* arguments, int count) {
    RecordedEvent event;
    event.method = method;
    event.thread = std::this_thread::get_id();
    for (int i = 0; i < count; ++i) {
        switch (arguments[i].type) {
            case EventArgument::Type::Long: event.values.push_back(arguments[i].value); break;
            case EventArgument::Type::LongRef: event.longRef = *arguments[i].longRef; break;
            case EventArgument::Type::StringRef: event.stringRef = *arguments[i].stringRef; break;
        }
    }
    EventHandler handler;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        events_.push_back(std::move(event));
        handler = handler_;
    }
    // The handler runs after the event is recorded, without our lock: it may
    // call the service object, which may raise the next event from inside.
    if (handler) handler(method, arguments, count);
    std::lock_guard<std::mutex> lock(mutex_);
    ++handled_;
    changed_.notify_all();
}

std::vector<RecordedEvent> EventRecorder::Events() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return events_;
}

std::vector<RecordedEvent> EventRecorder::Events(const std::string& method) const {
    std::vector<RecordedEvent> selected;
    for (RecordedEvent& event : Events()) {
        if (event.method == method) selected.push_back(std::move(event));
    }
    return selected;
}

size_t EventRecorder::Count() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return events_.size();
}

bool EventRecorder::WaitForCount(size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return handled_ >= count; });
}

void EventRecorder::MarkReleased() {
    std::lock_guard<std::mutex> lock(mutex_);
    released_ = true;
}

bool EventRecorder::Released() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return released_;
}

bool RecordingControl::Call(const char* method, const EventArgument* arguments, int count) {
    recorder_->Deliver(method, arguments, count);
    return true;
}

bool MarshallingControl::Call(const char* method, const EventArgument* arguments, int count) {
    marshaller_->Raise(*recorder_, method, arguments, count);
    return true;
}

void Marshaller::Raise(EventRecorder& recorder, const char* method, const EventArgument* arguments,
                       int count) {
    if (std::this_thread::get_id() == owner_) {
        bool closing;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            closing = closing_;
        }
        if (!closing) recorder.Deliver(method, arguments, count);
        return;
    }
    Posted posted{&recorder, method, arguments, count};
    std::unique_lock<std::mutex> lock(mutex_);
    if (closing_) return;
    queue_.push_back(&posted);
    changed_.notify_all();
    // The arguments live on this stack: wait while the application may still use them.
    changed_.wait(lock, [&] { return posted.done || (closing_ && delivering_ != &posted); });
    queue_.erase(std::remove(queue_.begin(), queue_.end(), &posted), queue_.end());
}

size_t Marshaller::Pump() {
    size_t delivered = 0;
    for (;;) {
        Posted* posted;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (queue_.empty() || closing_) return delivered;
            posted = queue_.front();
            queue_.pop_front();
            delivering_ = posted;
        }
        posted->recorder->Deliver(posted->method, posted->arguments, posted->count);
        ++delivered;
        std::lock_guard<std::mutex> lock(mutex_);
        posted->done = true;
        delivering_ = nullptr;
        changed_.notify_all();
    }
}

bool Marshaller::WaitForPending(size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return queue_.size() >= count; });
}

void Marshaller::BeginClose() {
    std::lock_guard<std::mutex> lock(mutex_);
    closing_ = true;
    changed_.notify_all();
}

ApplicationThread::ApplicationThread() {
    std::promise<std::shared_ptr<Marshaller>> created;
    std::future<std::shared_ptr<Marshaller>> marshaller = created.get_future();
    thread_ = std::thread([this, &created] {
        created.set_value(std::make_shared<Marshaller>());
        Main();
    });
    marshaller_ = marshaller.get();
}

ApplicationThread::~ApplicationThread() {
    // A task stuck for good would hang the join: let raisers go, then give up loudly.
    marshaller_->BeginClose();
    std::packaged_task<void()> last([] {});
    std::future<void> finished = last.get_future();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        tasks_.push_back(std::move(last));
        stop_ = true;
        changed_.notify_all();
    }
    if (finished.wait_for(kWait) != std::future_status::ready) {
        std::fprintf(stderr, "application thread still blocked after close\n");
        std::abort();
    }
    thread_.join();
}

bool ApplicationThread::Run(std::function<void()> task, std::chrono::milliseconds timeout) {
    std::packaged_task<void()> work(std::move(task));
    std::future<void> finished = work.get_future();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        tasks_.push_back(std::move(work));
        changed_.notify_all();
    }
    return finished.wait_for(timeout) == std::future_status::ready;
}

void ApplicationThread::Main() {
    for (;;) {
        std::packaged_task<void()> task;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            changed_.wait(lock, [&] { return !tasks_.empty() || stop_; });
            if (tasks_.empty()) return;
            task = std::move(tasks_.front());
            tasks_.pop_front();
        }
        task();
    }
}

void FakeClock::SleepMilliseconds(uint32_t milliseconds) {
    std::lock_guard<std::mutex> lock(mutex_);
    sleeps_.push_back(milliseconds);
}

std::vector<uint32_t> FakeClock::Sleeps() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return sleeps_;
}

}  // namespace norvik::test

// Records the reader library's callbacks (plain C function pointers, so the
// log is process-wide) and lets a test wait, bounded, for them.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "Vorlex.h"

namespace vorlex::testing {

struct CallbackEvent {
    enum Kind { CardData, DeviceState } kind;
    int32_t state;
    std::thread::id thread;
};

class CallbackLog {
public:
    static CallbackLog& Instance() {
        static CallbackLog log;
        return log;
    }

    void Reset() {
        std::lock_guard<std::mutex> lock(mutex_);
        events_.clear();
        onCardData_ = nullptr;
        onDeviceState_ = nullptr;
    }
    // Runs inside the callback, on the calling thread, after the event is recorded.
    void OnCardData(std::function<void(int32_t)> action) {
        std::lock_guard<std::mutex> lock(mutex_);
        onCardData_ = std::move(action);
    }
    void OnDeviceState(std::function<void(int32_t)> action) {
        std::lock_guard<std::mutex> lock(mutex_);
        onDeviceState_ = std::move(action);
    }
    std::vector<CallbackEvent> Events() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return events_;
    }
    std::vector<int32_t> States(CallbackEvent::Kind kind) const {
        std::vector<int32_t> states;
        for (const auto& e : Events()) {
            if (e.kind == kind) states.push_back(e.state);
        }
        return states;
    }
    // Whether any device-state change but "opened" (1) ran on `thread`: a
    // removal is reported from the read thread, never from the caller's.
    bool RemovalReportedOn(std::thread::id thread) const {
        for (const auto& e : Events()) {
            if (e.kind == CallbackEvent::DeviceState && e.state != 1 && e.thread == thread) return true;
        }
        return false;
    }
    size_t Count(CallbackEvent::Kind kind, int32_t state) const {
        size_t n = 0;
        for (const auto& e : Events()) n += (e.kind == kind && e.state == state) ? 1 : 0;
        return n;
    }
    // Waits until `count` events of that kind and state were seen; false after 10 s.
    bool WaitFor(CallbackEvent::Kind kind, int32_t state, size_t count = 1) const {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(10), [&] {
            size_t n = 0;
            for (const auto& e : events_) n += (e.kind == kind && e.state == state) ? 1 : 0;
            return n >= count;
        });
    }

    static int32_t VORLEX_CALL CardDataCallback(int32_t state) {
        Instance().Record(CallbackEvent::CardData, state);
        return 0;
    }
    static int32_t VORLEX_CALL DeviceStateCallback(int32_t state) {
        Instance().Record(CallbackEvent::DeviceState, state);
        return 0;
    }

private:
    void Record(CallbackEvent::Kind kind, int32_t state) {
        std::function<void(int32_t)> action;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            events_.push_back({kind, state, std::this_thread::get_id()});
            action = kind == CallbackEvent::CardData ? onCardData_ : onDeviceState_;
        }
        changed_.notify_all();
        if (action) action(state);
    }

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<CallbackEvent> events_;
    std::function<void(int32_t)> onCardData_;
    std::function<void(int32_t)> onDeviceState_;
};

}  // namespace vorlex::testing

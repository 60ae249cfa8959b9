// Owns: the thread that watches for a lost reader's return, and its stop flag.
// Threads: the reader's read thread starts it (a removal), application threads
//       start and stop it (enable, disable, close); it runs on its own thread.
// Lock: the process lock; every member takes its guard. The watch lets go of
//       the lock while it asks for the reader.
#pragma once

#include <chrono>
#include <memory>
#include <thread>

#include "seams/DeviceArrival.h"
#include "sync/ProcessLock.h"

namespace norvik {

// What the watch asks of the instance layer.
class ReaderReturn {
public:
    // With the lock held: the reader is still missing and wanted back.
    virtual bool ReaderMissing(ProcessGuard& guard) = 0;
    // Without the lock: one try at opening the reader again (bounded).
    virtual void TryReopen() = 0;

protected:
    ~ReaderReturn() = default;
};

class ReaderWatch {
public:
    ReaderWatch() = default;
    ReaderWatch(const ReaderWatch&) = delete;
    ReaderWatch& operator=(const ReaderWatch&) = delete;

    // After an arrival or a change, the device may not open at once: this
    // many more rounds try again.
    static constexpr int kFollowUpRounds = 6;
    // A listener that is woken by every change needs no timer; this one is
    // only a safety net.
    static constexpr std::chrono::milliseconds kQuietInterval{30000};

    // Starts watching unless a watch runs. Every `interval` (sooner on an
    // arrival) the watch asks `target` whether the reader is missing and, if
    // so, lets it try to reopen: on every round without `arrival` (or when it
    // cannot listen), otherwise only when it tells of a new or changed reader.
    // The watch ends once the reader is back.
    void Start(ProcessGuard& guard, ReaderReturn& target, DeviceArrival* arrival, std::chrono::milliseconds interval);
    // Ends the watch at once and waits for its thread, which may be inside
    // one try to reopen. Returns at once on the watch's own thread.
    void Stop(ProcessGuard& guard);

private:
    struct Watch {
        std::thread thread;
        ReaderReturn* target = nullptr;
        DeviceArrival* arrival = nullptr;
        ArrivalWatch* listening = nullptr;  // while the thread listens: Stop wakes it
        std::chrono::milliseconds interval{0};
        bool stop = false;
        bool finished = false;  // past its last step: joining returns at once
    };
    static void Run(Watch* self, ProcessLock& lock);
    // Joins a watch that has ended or been told to stop, with the lock let go of.
    void Retire(ProcessGuard& guard);

    std::unique_ptr<Watch> watch_;
};

// The process's own: one reader per process, so one watch.
ReaderWatch& ProcessReaderWatch();

}  // namespace norvik

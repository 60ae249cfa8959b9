// Owns: the swipe ring (swipes handed over by the reader, waiting for the
//       event thread), the data queue (records not yet delivered) and the
//       current record (the one behind the last data event).
// Threads: the reader's read thread stores swipes; the event thread takes
//       them and queues records; application threads clear and read.
// Lock: the process lock; every member takes its guard as proof.
#pragma once

#include <cstdint>

#include "Vorlex.h"
#include "sync/ProcessLock.h"

namespace norvik {

class SwipeRing {
public:
    static constexpr int32_t kCapacity = 32;

    // Starts taking swipes (an enabled device).
    void Open(ProcessGuard& guard);
    // Stops taking swipes and wipes those not yet processed; a read thread
    // waiting for room returns.
    void Close(ProcessGuard& guard);
    bool Empty(const ProcessGuard&) const { return count_ == 0; }

    // The reader's read thread: fetches the reader's swipe into the ring,
    // waiting for room rather than dropping it. Gives up when the ring closes
    // or the reader is being closed (the closer waits for the read thread,
    // and the event thread that would make room may be waiting in the
    // control object for that closer). The guard lets go of the lock while
    // the reader is asked. True when the swipe was stored.
    bool StoreFromReader(ProcessGuard& guard);

    // Moves the oldest swipe into `record` and wipes its slot; returns what
    // fetching it from the reader returned. The ring must not be empty.
    int32_t TakeOldest(ProcessGuard& guard, VorlexCardData& record);

private:
    struct Entry {
        VorlexCardData record;
        int32_t fetchResult;  // what VorlexGetCardData returned
    };
    Entry entries_[kCapacity];
    int32_t head_ = 0;
    int32_t count_ = 0;
    bool accepting_ = false;  // false while no device is enabled: producers stop waiting
};

class DataQueue {
public:
    static constexpr int32_t kCapacity = 25;

    int32_t Count(const ProcessGuard&) const { return count_; }
    // Queues a decoded record; a full queue drops it.
    void Push(ProcessGuard& guard, const VorlexCardData& record);
    // Last in, first out: the newest record becomes the current record, and
    // its slot is wiped. False when the queue is empty.
    bool TakeNewest(ProcessGuard& guard);
    VorlexCardData& Current(const ProcessGuard&) { return current_; }
    // Empties the queue; no copy of a card that was never delivered stays.
    void Clear(ProcessGuard& guard);
    // Empties the queue and wipes the current record too.
    void Forget(ProcessGuard& guard);

private:
    VorlexCardData records_[kCapacity];
    int32_t count_ = 0;
    VorlexCardData current_;
};

// The process's own: one reader can be open per process, so one of each.
SwipeRing& ProcessSwipeRing();
DataQueue& ProcessDataQueue();

}  // namespace norvik

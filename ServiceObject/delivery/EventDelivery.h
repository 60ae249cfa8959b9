// Owns: the control object and the instance that stored it, FreezeEvents and
//       the frozen events, the status updates not yet raised, and the event
//       threads (the running one and its owner, and those let go of while
//       inside a call to the control object).
// Threads: application threads raise events inside their calls and start and
//       stop the event thread; the event thread runs here.
// Lock: the process lock; every member takes its guard, and lets go of it
//       around each call to the control object (the only calls to it).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "Vorlex.h"
#include "seams/ControlObject.h"
#include "sync/ProcessLock.h"

namespace norvik {

class Trace;

// A service object instance as delivery sees it: the owner of the control
// object or of the event thread, and the target of the swipes the event
// thread takes. The instance layer implements it.
class ServedInstance {
public:
    // On the event thread, without the lock: the verdict, queueing and
    // delivery of one swipe. `record` is wiped once it is queued, before the
    // queue's new count can be seen.
    virtual void ProcessCardData(VorlexCardData& record, int32_t fetchResult) = 0;
    // On the event thread, without the lock: raises one status update.
    virtual void ProcessStatusUpdate(int32_t status) = 0;

protected:
    ~ServedInstance() = default;
};

// Names the instance that takes the next swipe or status update: the
// current, enabled one.
class InstanceDispatch {
public:
    // With the lock held; null drops the swipe.
    virtual ServedInstance* Target(ProcessGuard& guard) = 0;

protected:
    ~InstanceDispatch() = default;
};

enum class EventKind : int32_t { Data = 1, DirectIO = 2, Error = 3, StatusUpdate = 5 };

class EventDelivery {
public:
    static constexpr int32_t kFrozenCapacity = 50;
    static constexpr int32_t kStatusCapacity = 8;

    EventDelivery() = default;
    EventDelivery(const EventDelivery&) = delete;
    EventDelivery& operator=(const EventDelivery&) = delete;

    // Events go to `control` from now on, until its owner drops it.
    void SetControl(ProcessGuard& guard, std::shared_ptr<ControlObject> control, const ServedInstance* owner);
    // Drops the control object if `owner` stored it; it is never called again.
    void DropControl(ProcessGuard& guard, const ServedInstance* owner);

    bool Frozen(const ProcessGuard&) const { return frozen_; }
    // Sets FreezeEvents; true when thawing left held events to release.
    bool SetFrozen(ProcessGuard& guard, bool freeze);
    // At open: not frozen, and nothing held.
    void ResetFreezing(ProcessGuard& guard);

    // Traces the event to `trace` (when not null), then holds it while frozen
    // or calls the control object with the lock let go of. By-reference
    // arguments may be changed by the handler.
    void Fire(ProcessGuard& guard, EventKind kind, const char* name, const EventArgument* arguments, int count,
              Trace* trace);
    // Delivers the held events, oldest first, until events are frozen again.
    void FireFrozen(ProcessGuard& guard);

    // Hands a status update of `from` to the event thread, which raises it
    // through `from` if that is still the instance it serves. A full queue
    // drops the oldest.
    void PostStatusUpdate(ProcessGuard& guard, const ServedInstance* from, int32_t status);

    // Starts the event thread if none runs; `owner` (the enabled instance)
    // stops it. The thread takes swipes from the process's ring and hands
    // them to `dispatch`.
    void StartEventThread(ProcessGuard& guard, const ServedInstance* owner, InstanceDispatch& dispatch);
    // Stops the event thread when `owner` started it, closing the swipe ring.
    // Waits while the thread runs our code; a thread inside a call to the
    // control object (which may be waiting for this very thread) is let go
    // of instead, and ends on its own. Returns at once on the event thread.
    void StopEventThread(ProcessGuard& guard, const ServedInstance* owner);
    // Joins the let-go threads that have finished; true while any event
    // thread still runs (the module's code must stay loaded).
    bool ReapEventThreads(ProcessGuard& guard);
    // True on an event thread that was let go of, or whose instance was,
    // while it was calling out: it must not touch that instance again.
    bool LetGo(const ProcessGuard& guard) const;
    // `instance` goes away: the event thread stops serving it. Waits while
    // the thread runs its code, but not while it calls the control object.
    void ForgetInstance(ProcessGuard& guard, const ServedInstance* instance);

private:
    // An event held while frozen. By-reference arguments point into the
    // entry itself, since the raiser's storage is gone when it is delivered.
    struct FrozenEvent {
        EventKind kind = EventKind::Data;
        const char* name = "";
        int32_t values[3] = {};  // the by-value arguments, in declaration order
        int32_t longRef = 0;
        std::string stringRef;
    };
    // One event thread. A thread let go of while inside a call to the control
    // object finishes on its own and is joined later.
    struct EventThread {
        std::thread thread;
        const ServedInstance* user = nullptr;  // instance being served now; null once let go
        bool inCall = false;                   // inside a call to the control object
        bool finished = false;                 // past its last step: joining returns at once
        VorlexCardData processing{};           // the swipe at hand
    };

    void Deliver(ProcessGuard& guard, std::shared_ptr<ControlObject> control, const char* name,
                 const EventArgument* arguments, int count);
    static EventThread* CallingEventThread();  // null off the event threads
    void RunEventThread(EventThread* self, ProcessLock& lock, InstanceDispatch& dispatch);

    std::shared_ptr<ControlObject> control_;
    const ServedInstance* controlOwner_ = nullptr;

    bool frozen_ = false;
    FrozenEvent held_[kFrozenCapacity];
    int32_t heldLast_ = -1;

    struct StatusUpdate {
        const ServedInstance* from = nullptr;
        int32_t status = 0;
    };
    StatusUpdate statuses_[kStatusCapacity];
    int32_t statusHead_ = 0;
    int32_t statusCount_ = 0;

    std::unique_ptr<EventThread> eventThread_;         // the one that drains the ring
    const ServedInstance* eventThreadOwner_ = nullptr;  // the instance that enabled last
    std::vector<std::unique_ptr<EventThread>> letGo_;  // stopped inside a call, not yet joined
};

// The process's own.
EventDelivery& ProcessEventDelivery();

}  // namespace norvik

#include "delivery/EventDelivery.h"

#include <cstdio>
#include <utility>

#include "card_input/CardInput.h"
#include "common/NoDestructor.h"
#include "common/SecureWipe.h"
#include "trace/Trace.h"

namespace norvik {
namespace {

// The event thread record of the calling thread; null on any other thread.
thread_local void* t_eventThread = nullptr;

// Rebuilds the argument list of a held event, references pointing into it.
template <typename Held>
int HeldArguments(Held& entry, EventArgument (&arguments)[4]) {
    switch (entry.kind) {
        case EventKind::Data:
        case EventKind::StatusUpdate:
            arguments[0] = EventArgument::Long(entry.values[0]);
            return 1;
        case EventKind::DirectIO:
            arguments[0] = EventArgument::Long(entry.values[0]);
            arguments[1] = EventArgument::LongRef(&entry.longRef);
            arguments[2] = EventArgument::StringRef(&entry.stringRef);
            return 3;
        case EventKind::Error:
            arguments[0] = EventArgument::Long(entry.values[0]);
            arguments[1] = EventArgument::Long(entry.values[1]);
            arguments[2] = EventArgument::Long(entry.values[2]);
            arguments[3] = EventArgument::LongRef(&entry.longRef);
            return 4;
    }
    return 0;
}

// One line per event: numbers as they are, texts by their length only.
void TraceEvent(Trace& trace, const char* name, const EventArgument* arguments, int count, bool frozen) {
    const bool error = name[2] == 'E';  // "SOError"
    const TraceLevel level = error ? TraceLevel::Errors : TraceLevel::Calls;
    if (!trace.On(level)) return;
    char text[Trace::kLineCapacity] = {};
    size_t used = 0;
    for (int i = 0; i < count && used < sizeof text; ++i) {
        const char* separator = i == 0 ? "" : ", ";
        int n = 0;
        switch (arguments[i].type) {
            case EventArgument::Type::Long:
                n = std::snprintf(text + used, sizeof text - used, "%s%d", separator, arguments[i].value);
                break;
            case EventArgument::Type::LongRef:
                n = std::snprintf(text + used, sizeof text - used, "%s&%d", separator,
                                  arguments[i].longRef ? *arguments[i].longRef : 0);
                break;
            case EventArgument::Type::StringRef:
                n = std::snprintf(text + used, sizeof text - used, "%s&%u chars", separator,
                                  static_cast<unsigned>(arguments[i].stringRef ? arguments[i].stringRef->size() : 0));
                break;
        }
        used += n > 0 ? static_cast<size_t>(n) : 0;
    }
    trace.Write(level, "event %s(%s)%s", name, text, frozen ? " frozen" : "");
}

}  // namespace

EventDelivery::EventThread* EventDelivery::CallingEventThread() {
    return static_cast<EventThread*>(t_eventThread);
}

void EventDelivery::SetControl(ProcessGuard&, std::shared_ptr<ControlObject> control, const ServedInstance* owner) {
    control_ = std::move(control);
    controlOwner_ = owner;
}

void EventDelivery::DropControl(ProcessGuard&, const ServedInstance* owner) {
    if (controlOwner_ != owner) return;
    control_.reset();
    controlOwner_ = nullptr;
}

bool EventDelivery::SetFrozen(ProcessGuard&, bool freeze) {
    frozen_ = freeze;
    return !freeze && heldLast_ >= 0;
}

void EventDelivery::ResetFreezing(ProcessGuard&) {
    frozen_ = false;
    heldLast_ = -1;
    for (FrozenEvent& entry : held_) SecureWipe(entry.stringRef);  // a DirectIO reply may carry card data
}

void EventDelivery::Fire(ProcessGuard& guard, EventKind kind, const char* name, const EventArgument* arguments,
                         int count, Trace* trace) {
    if (trace != nullptr) TraceEvent(*trace, name, arguments, count, frozen_);
    if (!frozen_) {
        Deliver(guard, control_, name, arguments, count);
        return;
    }
    // A full queue keeps its first 49 entries; the last slot takes the newest.
    heldLast_ = heldLast_ + 1 == kFrozenCapacity ? kFrozenCapacity - 1 : heldLast_ + 1;
    FrozenEvent& entry = held_[heldLast_];
    entry.kind = kind;
    entry.name = name;
    int values = 0;
    for (int i = 0; i < count; ++i) {
        switch (arguments[i].type) {
            case EventArgument::Type::Long:
                entry.values[values++] = arguments[i].value;
                break;
            case EventArgument::Type::LongRef:
                entry.longRef = *arguments[i].longRef;
                break;
            case EventArgument::Type::StringRef:
                SecureWipe(entry.stringRef);  // the newest replaces the last slot's text in a full queue
                entry.stringRef = *arguments[i].stringRef;
                break;
        }
    }
}

void EventDelivery::FireFrozen(ProcessGuard& guard) {
    // A handler that freezes events again stops the delivery; the rest stay queued, oldest first.
    while (heldLast_ >= 0 && !frozen_) {
        // A moved-from text keeps its bytes in its own buffer: each is wiped.
        FrozenEvent entry = std::move(held_[0]);
        SecureWipe(held_[0].stringRef);
        for (int32_t i = 0; i < heldLast_; ++i) {
            held_[i] = std::move(held_[i + 1]);
            SecureWipe(held_[i + 1].stringRef);
        }
        held_[heldLast_] = FrozenEvent{};
        --heldLast_;
        EventArgument arguments[4];
        const int count = HeldArguments(entry, arguments);
        Deliver(guard, control_, entry.name, arguments, count);
        SecureWipe(entry.stringRef);
    }
}

void EventDelivery::Deliver(ProcessGuard& guard, std::shared_ptr<ControlObject> control, const char* name,
                            const EventArgument* arguments, int count) {
    // The control object stays alive for this call even if it is dropped meanwhile.
    if (!control) return;
    // The control object may make the event thread wait for the application's
    // thread; meanwhile that thread must not wait for this one (see StopEventThread).
    EventThread* self = CallingEventThread();
    if (self != nullptr) self->inCall = true;
    guard.Unlock();
    control->Call(name, arguments, count);
    control.reset();
    guard.Relock();
    if (self != nullptr) {
        self->inCall = false;
        guard.NotifyAll();
    }
}

void EventDelivery::PostStatusUpdate(ProcessGuard& guard, const ServedInstance* from, int32_t status) {
    if (statusCount_ == kStatusCapacity) {
        statusHead_ = (statusHead_ + 1) % kStatusCapacity;
        --statusCount_;
    }
    statuses_[(statusHead_ + statusCount_) % kStatusCapacity] = {from, status};
    ++statusCount_;
    guard.NotifyAll();
}

void EventDelivery::StartEventThread(ProcessGuard& guard, const ServedInstance* owner, InstanceDispatch& dispatch) {
    ReapEventThreads(guard);
    eventThreadOwner_ = owner;  // the enabled instance; only one can hold the reader
    if (eventThread_) return;
    auto record = std::make_unique<EventThread>();
    record->thread = std::thread(&EventDelivery::RunEventThread, this, record.get(), std::ref(guard.Lock()),
                                 std::ref(dispatch));
    eventThread_ = std::move(record);
}

void EventDelivery::StopEventThread(ProcessGuard& guard, const ServedInstance* owner) {
    if (eventThreadOwner_ != owner || !eventThread_) return;
    if (eventThread_.get() == CallingEventThread()) return;  // from inside an event
    eventThreadOwner_ = nullptr;
    // Nobody drains the ring any more: a read thread waiting for room must
    // not wait for ever (the owner may go without being disabled).
    ProcessSwipeRing().Close(guard);
    statusCount_ = 0;  // status updates go with the thread that would raise them
    std::unique_ptr<EventThread> stopped = std::move(eventThread_);
    guard.NotifyAll();
    // Short steps are waited for; a call to the control object is not, since
    // the control may be waiting for this very thread. Such a thread ends on
    // its own when the call returns, without touching the instance again,
    // and is joined later.
    guard.Wait([&] { return stopped->finished || stopped->user == nullptr || stopped->inCall; });
    if (!stopped->finished && stopped->user != nullptr) {
        stopped->user = nullptr;
        letGo_.push_back(std::move(stopped));
        return;
    }
    guard.Unlock();
    stopped->thread.join();
    guard.Relock();
}

bool EventDelivery::ReapEventThreads(ProcessGuard& guard) {
    std::vector<std::unique_ptr<EventThread>> done;
    for (auto it = letGo_.begin(); it != letGo_.end();) {
        if ((*it)->finished) {
            done.push_back(std::move(*it));
            it = letGo_.erase(it);
        } else {
            ++it;
        }
    }
    const bool running = !letGo_.empty() || eventThread_ != nullptr;
    if (!done.empty()) {
        guard.Unlock();
        for (auto& thread : done) thread->thread.join();
        guard.Relock();
    }
    return running;
}

bool EventDelivery::LetGo(const ProcessGuard&) const {
    const EventThread* self = CallingEventThread();
    return self != nullptr && self->user == nullptr;
}

void EventDelivery::ForgetInstance(ProcessGuard& guard, const ServedInstance* instance) {
    EventThread* serving = nullptr;
    guard.Wait([&] {
        serving = eventThread_.get();
        return serving == nullptr || serving->user != instance || serving->inCall;
    });
    if (serving != nullptr && serving->user == instance) serving->user = nullptr;
}

void EventDelivery::RunEventThread(EventThread* self, ProcessLock& lock, InstanceDispatch& dispatch) {
    t_eventThread = self;
    SwipeRing& ring = ProcessSwipeRing();
    // The swipe at hand lives in the thread's record, not on its stack, and
    // is wiped once processed.
    VorlexCardData& processing = self->processing;
    ProcessGuard guard(lock);
    for (;;) {
        guard.Wait([&] { return eventThread_.get() != self || statusCount_ > 0 || !ring.Empty(guard); });
        if (eventThread_.get() != self) break;  // stopped, or let go of
        if (statusCount_ > 0) {
            // Status updates first: a reader's return is told before its first swipe.
            const StatusUpdate update = statuses_[statusHead_];
            statusHead_ = (statusHead_ + 1) % kStatusCapacity;
            --statusCount_;
            ServedInstance* instance = dispatch.Target(guard);
            if (instance != nullptr && instance == update.from) {
                self->user = instance;
                guard.Unlock();
                instance->ProcessStatusUpdate(update.status);
                guard.Relock();
                self->user = nullptr;
            }
            guard.NotifyAll();
            continue;
        }
        const int32_t fetchResult = ring.TakeOldest(guard, processing);
        if (ServedInstance* instance = dispatch.Target(guard)) {
            self->user = instance;
            guard.Unlock();
            instance->ProcessCardData(processing, fetchResult);
            guard.Relock();
            self->user = nullptr;
        }
        SecureWipe(&processing, sizeof processing);
        WipeVectorRegisters();
        guard.NotifyAll();
    }
    self->finished = true;
    guard.NotifyAll();
}

EventDelivery& ProcessEventDelivery() {
    static NoDestructor<EventDelivery> delivery;
    return delivery.get();
}

}  // namespace norvik

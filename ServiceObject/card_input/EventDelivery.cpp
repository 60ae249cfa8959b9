// Delivery of events to the control object: the data queue (newest record
// first), the frozen-event queue, and the one call per event. No lock of ours
// is held while the control object runs: its handlers may call us back.
#include <cstring>
#include <utility>

#include "card_input/TrackParser.h"
#include "common/SecureWipe.h"
#include "framework/ServiceObjectImpl.h"

namespace norvik {
namespace {

constexpr char kDataEvent[] = "SOData";
constexpr char kErrorEvent[] = "SOError";
constexpr char kDirectIOEvent[] = "SODirectIO";

// Rebuilds the argument list of a frozen entry, references pointing into it.
int FrozenArguments(FrozenEvent& entry, EventArgument (&arguments)[4]) {
    switch (entry.kind) {
        case FrozenEvent::Data:
            arguments[0] = EventArgument::Long(entry.values[0]);
            return 1;
        case FrozenEvent::DirectIO:
            arguments[0] = EventArgument::Long(entry.values[0]);
            arguments[1] = EventArgument::LongRef(&entry.longRef);
            arguments[2] = EventArgument::StringRef(&entry.stringRef);
            return 3;
        case FrozenEvent::Error:
            arguments[0] = EventArgument::Long(entry.values[0]);
            arguments[1] = EventArgument::Long(entry.values[1]);
            arguments[2] = EventArgument::Long(entry.values[2]);
            arguments[3] = EventArgument::LongRef(&entry.longRef);
            return 4;
    }
    return 0;
}

}  // namespace

void ServiceObjectCore::Impl::Deliver(std::shared_ptr<ControlObject> control, const char* name,
                                      const EventArgument* arguments, int count) {
    // The control object stays alive for this call even if it is dropped meanwhile.
    if (!control) return;
    EventThread* self = CurrentEventThread();
    if (self == nullptr) {
        control->Call(name, arguments, count);
        return;
    }
    // The control object may make this thread wait for the application's
    // thread; meanwhile that thread must not wait for this one (see StopEventThread).
    ProcessState& ps = Process();
    {
        std::lock_guard<std::mutex> lock(ps.mutex);
        self->inCall = true;
    }
    control->Call(name, arguments, count);
    std::lock_guard<std::mutex> lock(ps.mutex);
    self->inCall = false;
    ps.changed.notify_all();
}

void ServiceObjectCore::Impl::Fire(FrozenEvent::Kind kind, const char* name,
                                   const EventArgument* arguments, int count) {
    ProcessState& ps = Process();
    std::shared_ptr<ControlObject> control;
    {
        std::lock_guard<std::mutex> lock(ps.mutex);
        TraceEvent(name, arguments, count, ps.freezeEvents);
        if (ps.freezeEvents) {
            // A full queue keeps its first 49 entries; the last slot takes the newest.
            ps.frozenLast = ps.frozenLast + 1 == kFrozenQueueCapacity ? kFrozenQueueCapacity - 1
                                                                       : ps.frozenLast + 1;
            FrozenEvent& entry = ps.frozen[ps.frozenLast];
            entry.kind = kind;
            entry.name = name;
            entry.count = count;
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
                        entry.stringRef = *arguments[i].stringRef;
                        break;
                }
            }
            return;
        }
        control = ps.control;
    }
    Deliver(std::move(control), name, arguments, count);
}

void ServiceObjectCore::Impl::Fire_DataEvent(int32_t status) {
    const EventArgument arguments[] = {EventArgument::Long(status)};
    Fire(FrozenEvent::Data, kDataEvent, arguments, 1);
}

void ServiceObjectCore::Impl::Fire_ErrorEvent(int32_t resultCode, int32_t resultCodeExtended,
                                              int32_t errorLocus, int32_t* pErrorResponse) {
    const EventArgument arguments[] = {EventArgument::Long(resultCode),
                                       EventArgument::Long(resultCodeExtended),
                                       EventArgument::Long(errorLocus),
                                       EventArgument::LongRef(pErrorResponse)};
    Fire(FrozenEvent::Error, kErrorEvent, arguments, 4);
}

void ServiceObjectCore::Impl::Fire_DirectIOEvent(int32_t eventNumber, int32_t* pData,
                                                 std::string* pString) {
    const EventArgument arguments[] = {EventArgument::Long(eventNumber), EventArgument::LongRef(pData),
                                       EventArgument::StringRef(pString)};
    Fire(FrozenEvent::DirectIO, kDirectIOEvent, arguments, 3);
}

void ServiceObjectCore::Impl::FireEnqueuedDataEvents() {
    ProcessState& ps = Process();
    for (;;) {
        Impl* instance;
        int32_t status;
        {
            std::lock_guard<std::mutex> lock(ps.mutex);
            instance = ps.current;
            // Also the stop test of the loop: the handler re-arms to get the next record.
            if (instance == nullptr || ps.dataCount < 1 || !instance->props.DataEventEnabled) return;
            instance->props.DataEventEnabled = false;
            // Last in, first out: the newest swipe goes first.
            std::memcpy(&ps.currentRecord, &ps.dataQueue[ps.dataCount - 1], sizeof ps.currentRecord);
            SecureWipe(&ps.dataQueue[ps.dataCount - 1], sizeof ps.dataQueue[0]);
            BuildDataProperties(instance->props, ps.currentRecord);
            status = DataEventStatus(instance->props);
            --ps.dataCount;  // the handler already sees the lower count
        }
        Fire_DataEvent(status);
        bool autoDisable;
        {
            std::lock_guard<std::mutex> lock(ps.mutex);
            // The instance was replaced, or let go of this thread, meanwhile.
            if (LetGo() || ps.current != instance) return;
            autoDisable = instance->props.AutoDisable;
        }
        if (autoDisable) {
            instance->clock_.SleepMilliseconds(kAutoDisablePauseMs);
            instance->setDeviceEnabled(false);
        }
    }
}

void ServiceObjectCore::Impl::FireEnqueuedEvents() {
    ProcessState& ps = Process();
    for (;;) {
        FrozenEvent entry;
        std::shared_ptr<ControlObject> control;
        {
            std::lock_guard<std::mutex> lock(ps.mutex);
            // A handler that freezes events again stops the delivery; the rest stay queued, oldest first.
            if (ps.frozenLast < 0 || ps.freezeEvents) return;
            entry = std::move(ps.frozen[0]);
            for (int32_t i = 0; i < ps.frozenLast; ++i) ps.frozen[i] = std::move(ps.frozen[i + 1]);
            ps.frozen[ps.frozenLast] = FrozenEvent{};
            --ps.frozenLast;
            control = ps.control;
        }
        EventArgument arguments[4];
        const int count = FrozenArguments(entry, arguments);
        Deliver(std::move(control), entry.name, arguments, count);
    }
}

}  // namespace norvik

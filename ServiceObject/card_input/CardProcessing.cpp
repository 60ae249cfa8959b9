// From the reader's card-data callback to a queued record and an error
// verdict. The callback only copies the swipe and clears the reader; the
// verdict, queueing and delivery run on the event thread, so that the
// reader's read thread never waits for the control object.
#include <chrono>
#include <cstring>

#include "card_input/TrackParser.h"
#include "common/SecureWipe.h"
#include "framework/ServiceObjectImpl.h"

namespace norvik {
namespace {

constexpr int32_t kFailedTrackStatus = 1;
// How often a read thread waiting for room in the ring looks whether its reader is being closed.
constexpr std::chrono::milliseconds kReaderClosingPoll{20};

bool TrackSelected(int32_t tracksToRead, int track) { return (tracksToRead & (1 << track)) != 0; }

}  // namespace

void ServiceObjectCore::Impl::OnCardDataStateChanged(int32_t state) {
    if (state != VORLEX_CARD_DATA_NEW) return;  // our own clear comes back with 0
    ProcessState& ps = Process();
    {
        std::unique_lock<std::mutex> lock(ps.mutex);
        if (ps.current == nullptr || !ps.current->props.DeviceEnabled) return;
        // Wait for room rather than drop a swipe; disabling ends the wait. So
        // does closing the reader from anywhere else (a failed command): the
        // closer waits for this thread, and the event thread that would make
        // room may be waiting in the control object for that same closer.
        while (ps.ring.accepting && ps.ring.count >= kSwipeRingCapacity) {
            if (ps.changed.wait_for(lock, kReaderClosingPoll) == std::cv_status::timeout) {
                lock.unlock();
                const bool readerClosing = VorlexGetDeviceState(nullptr) == 0;
                lock.lock();
                if (readerClosing) return;
            }
        }
        if (!ps.ring.accepting) return;
        SwipeRing::Entry& entry =
            ps.ring.entries[(ps.ring.head + ps.ring.count) % kSwipeRingCapacity];
        std::memset(&entry.record, 0, sizeof entry.record);
        entry.fetchResult = VorlexGetCardData(&entry.record);
        ++ps.ring.count;
        ps.changed.notify_all();
    }
    VorlexClearBuffer();
}

namespace {
thread_local EventThread* t_eventThread = nullptr;
}  // namespace

EventThread* CurrentEventThread() { return t_eventThread; }

bool ServiceObjectCore::Impl::LetGo() {
    const EventThread* self = t_eventThread;
    return self != nullptr && self->user == nullptr;
}

bool ServiceObjectCore::Impl::LetGoSinceCall() {
    std::lock_guard<std::mutex> lock(Process().mutex);
    return LetGo();
}

void ServiceObjectCore::Impl::EventThreadProc(EventThread* self) {
    t_eventThread = self;
    ProcessState& ps = Process();
    // The swipe at hand; wiped once processed, so no card stays on this stack.
    VorlexCardData processing;
    std::unique_lock<std::mutex> lock(ps.mutex);
    for (;;) {
        ps.changed.wait(lock, [&] { return ps.eventThread.get() != self || ps.ring.count > 0; });
        if (ps.eventThread.get() != self) break;  // stopped, or let go of
        SwipeRing::Entry& entry = ps.ring.entries[ps.ring.head];
        std::memcpy(&processing, &entry.record, sizeof processing);
        SecureWipe(&entry.record, sizeof entry.record);
        const int32_t fetchResult = entry.fetchResult;
        ps.ring.head = (ps.ring.head + 1) % kSwipeRingCapacity;
        --ps.ring.count;
        ps.changed.notify_all();
        Impl* instance = ps.current;
        if (instance != nullptr && instance->props.DeviceEnabled) {
            self->user = instance;
            lock.unlock();
            instance->ProcessCardData(processing, fetchResult);
            lock.lock();
            self->user = nullptr;
        }
        SecureWipe(&processing, sizeof processing);
        ps.changed.notify_all();
    }
    self->finished = true;
    ps.changed.notify_all();
}

void ServiceObjectCore::Impl::ProcessCardData(const VorlexCardData& record, int32_t fetchResult) {
    ProcessState& ps = Process();
    TraceCardRecord(record, fetchResult);
    if (fetchResult == VORLEX_OK) {
        int32_t errorReportingType;
        int32_t tracksToRead;
        {
            std::lock_guard<std::mutex> lock(ps.mutex);
            errorReportingType = props.ErrorReportingType;
            tracksToRead = props.TracksToRead;
        }
        int32_t scratch = 0;
        if (errorReportingType == MSR_ERT_CARD && record.DecodeFailed == 1) {
            // The handler still sees the previous swipe's properties.
            int32_t errorResponse = OPOS_ER_CLEAR;
            Fire_ErrorEvent(OPOS_E_FAILURE, OPOS_SUCCESS, OPOS_EL_INPUT, &errorResponse);
            if (LetGoSinceCall()) return;
            ClearInputProperties(&scratch);
            ClearInput(&scratch);
            return;
        }
        if (errorReportingType == MSR_ERT_TRACK) {
            const int32_t statuses[3] = {record.Track1DecodeStatus, record.Track2DecodeStatus,
                                         record.Track3DecodeStatus};
            int32_t codes[3] = {};
            bool anySelected = false;
            bool anyClean = false;
            for (int track = 0; track < 3; ++track) {
                if (!TrackSelected(tracksToRead, track)) continue;
                anySelected = true;
                if (statuses[track] == kFailedTrackStatus) {
                    codes[track] = OPOS_E_FAILURE;
                } else {
                    anyClean = true;
                }
            }
            if (anySelected && (codes[0] | codes[1] | codes[2]) != 0) {
                // Properties and queue go first; the handler sees them cleared.
                ClearInputProperties(&scratch);
                ClearInput(&scratch);
                int32_t errorResponse = OPOS_ER_CLEAR;
                Fire_ErrorEvent(OPOS_E_EXTENDED, codes[0] + 256 * codes[1] + 65536 * codes[2],
                                OPOS_EL_INPUT, &errorResponse);
                if (LetGoSinceCall() || !anyClean) return;
            }
        }
        std::lock_guard<std::mutex> lock(ps.mutex);
        if (ps.dataCount < kDataQueueCapacity) {
            std::memcpy(&ps.dataQueue[ps.dataCount], &record, sizeof record);
            ++ps.dataCount;
        }
    }
    bool deliver;
    {
        std::lock_guard<std::mutex> lock(ps.mutex);
        deliver = props.DataEventEnabled;
    }
    if (deliver) FireEnqueuedDataEvents();
}

void ServiceObjectCore::Impl::ClearInput(int32_t* pRC) {
    std::lock_guard<std::mutex> lock(Process().mutex);
    if (!props.Claimed) {
        SetResult(pRC, OPOS_E_ILLEGAL, OPOS_SUCCESS);
        return;
    }
    ProcessState& ps = Process();
    ps.dataCount = 0;
    // No copy of a card that was never delivered stays behind.
    SecureWipe(ps.dataQueue, sizeof ps.dataQueue);
    if (pRC) *pRC = OPOS_SUCCESS;
}

void ServiceObjectCore::Impl::ClearInputProperties(int32_t* pRC) {
    std::lock_guard<std::mutex> lock(Process().mutex);
    if (!props.Claimed) {
        SetResult(pRC, OPOS_E_ILLEGAL, OPOS_SUCCESS);
        return;
    }
    ClearInputPropertyValues(props);
    if (pRC) *pRC = OPOS_SUCCESS;
}

bool ServiceObjectCore::Impl::RetrieveCardProperty(std::string_view name, std::string& value,
                                                   int32_t* pRC) {
    std::lock_guard<std::mutex> lock(Process().mutex);
    if (!props.Claimed) {
        SetResult(pRC, OPOS_E_ILLEGAL, OPOS_SUCCESS);
        return false;
    }
    SetResult(pRC, OPOS_SUCCESS, OPOS_SUCCESS);
    std::string_view found;
    if (!LookupCardProperty(props, name, found)) {
        SetResult(pRC, OPOS_E_ILLEGAL, OPOS_SUCCESS);
        return false;
    }
    value.assign(found);
    return true;
}

}  // namespace norvik

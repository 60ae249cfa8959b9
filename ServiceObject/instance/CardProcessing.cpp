// From the reader's card-data callback to a queued record, an error verdict
// and the data events. The callback only copies the swipe into the ring and
// clears the reader; the verdict, queueing and delivery run on the event
// thread, so that the reader's read thread never waits for the control object.
#include "card_input/CardInput.h"
#include "common/SecureWipe.h"
#include "instance/ServiceObjectImpl.h"
#include "logic/TrackParser.h"

namespace norvik {
namespace {

constexpr char kDataEvent[] = "SOData";
constexpr char kErrorEvent[] = "SOError";
constexpr char kDirectIOEvent[] = "SODirectIO";
constexpr int32_t kFailedTrackStatus = 1;

bool TrackSelected(int32_t tracksToRead, int track) { return (tracksToRead & (1 << track)) != 0; }

}  // namespace

void ServiceObjectCore::Impl::OnCardDataStateChanged(int32_t state) {
    if (state != VORLEX_CARD_DATA_NEW) return;  // our own clear comes back with 0
    {
        ProcessGuard guard(Lock());
        Impl* instance = Current(guard);
        if (instance == nullptr || !instance->props.DeviceEnabled) return;
        if (!ProcessSwipeRing().StoreFromReader(guard)) return;
    }
    VorlexClearBuffer();
}

void ServiceObjectCore::Impl::ProcessCardData(VorlexCardData& record, int32_t fetchResult) {
    TraceCardRecord(record, fetchResult);
    ProcessGuard guard(Lock());
    EventDelivery& delivery = ProcessEventDelivery();
    if (fetchResult == VORLEX_OK) {
        const int32_t errorReportingType = props.ErrorReportingType;
        const int32_t tracksToRead = props.TracksToRead;
        int32_t scratch = 0;
        if (errorReportingType == MSR_ERT_CARD && record.DecodeFailed == 1) {
            // The handler still sees the previous swipe's properties.
            int32_t errorResponse = OPOS_ER_CLEAR;
            Fire_ErrorEvent(guard, OPOS_E_FAILURE, OPOS_SUCCESS, OPOS_EL_INPUT, &errorResponse);
            if (delivery.LetGo(guard)) return;
            guard.Unlock();
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
                guard.Unlock();
                ClearInputProperties(&scratch);
                ClearInput(&scratch);
                guard.Relock();
                int32_t errorResponse = OPOS_ER_CLEAR;
                Fire_ErrorEvent(guard, OPOS_E_EXTENDED, codes[0] + 256 * codes[1] + 65536 * codes[2], OPOS_EL_INPUT,
                                &errorResponse);
                if (delivery.LetGo(guard) || !anyClean) return;
            }
        }
        ProcessDataQueue().Push(guard, record);
        SecureWipe(&record, sizeof record);
    }
    if (props.DataEventEnabled) FireEnqueuedDataEvents(guard);
}

void ServiceObjectCore::Impl::FireEnqueuedDataEvents(ProcessGuard& guard) {
    DataQueue& queue = ProcessDataQueue();
    for (;;) {
        Impl* instance = Current(guard);
        // Also the stop test of the loop: the handler re-arms to get the next record.
        if (instance == nullptr || queue.Count(guard) < 1 || !instance->props.DataEventEnabled) return;
        instance->props.DataEventEnabled = false;
        queue.TakeNewest(guard);  // the handler already sees the lower count
        BuildDataProperties(instance->props, queue.Current(guard));
        const EventArgument arguments[] = {EventArgument::Long(DataEventStatus(instance->props))};
        Fire(guard, EventKind::Data, kDataEvent, arguments, 1);
        // The instance was replaced, or let go of this thread, meanwhile.
        if (ProcessEventDelivery().LetGo(guard) || Current(guard) != instance) return;
        if (instance->props.AutoDisable) {
            guard.Unlock();
            instance->clock_.SleepMilliseconds(kAutoDisablePauseMs);
            instance->setDeviceEnabled(false);
            guard.Relock();
        }
    }
}

void ServiceObjectCore::Impl::Fire(ProcessGuard& guard, EventKind kind, const char* name,
                                   const EventArgument* arguments, int count) {
    Impl* current = Current(guard);
    ProcessEventDelivery().Fire(guard, kind, name, arguments, count, current ? &current->trace : nullptr);
}

void ServiceObjectCore::Impl::Fire_ErrorEvent(ProcessGuard& guard, int32_t resultCode, int32_t resultCodeExtended,
                                              int32_t errorLocus, int32_t* pErrorResponse) {
    const EventArgument arguments[] = {EventArgument::Long(resultCode), EventArgument::Long(resultCodeExtended),
                                       EventArgument::Long(errorLocus), EventArgument::LongRef(pErrorResponse)};
    Fire(guard, EventKind::Error, kErrorEvent, arguments, 4);
}

void ServiceObjectCore::Impl::Fire_DirectIOEvent(ProcessGuard& guard, int32_t eventNumber, int32_t* pData,
                                                 std::string* pString) {
    const EventArgument arguments[] = {EventArgument::Long(eventNumber), EventArgument::LongRef(pData),
                                       EventArgument::StringRef(pString)};
    Fire(guard, EventKind::DirectIO, kDirectIOEvent, arguments, 3);
}

void ServiceObjectCore::Impl::ClearInput(int32_t* pRC) {
    ProcessGuard guard(Lock());
    if (!props.Claimed) {
        SetResult(pRC, OPOS_E_ILLEGAL, OPOS_SUCCESS);
        return;
    }
    ProcessDataQueue().Clear(guard);
    if (pRC) *pRC = OPOS_SUCCESS;
}

void ServiceObjectCore::Impl::ClearInputProperties(int32_t* pRC) {
    ProcessGuard guard(Lock());
    if (!props.Claimed) {
        SetResult(pRC, OPOS_E_ILLEGAL, OPOS_SUCCESS);
        return;
    }
    ClearInputPropertyValues(props);
    if (pRC) *pRC = OPOS_SUCCESS;
}

bool ServiceObjectCore::Impl::RetrieveCardProperty(std::string_view name, std::string& value, int32_t* pRC) {
    ProcessGuard guard(Lock());
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

// Power reporting: a reader that goes away while the device is enabled is
// watched for, opened again when it comes back, and each change is told to
// the application as a status update (while PowerNotify is on).
#include "card_input/CardInput.h"
#include "common/NoDestructor.h"
#include "instance/ServiceObjectImpl.h"
#include "logic/PropertyRules.h"

namespace norvik {
namespace {

constexpr char kStatusUpdateEvent[] = "SOStatusUpdate";

}  // namespace

// The watch serves the current instance while it is enabled with power
// reporting and its reader is missing.
class ServiceObjectCore::Impl::CurrentInstanceReturn final : public ReaderReturn {
public:
    bool ReaderMissing(ProcessGuard& guard) override {
        const Impl* instance = Current(guard);
        return instance != nullptr && instance->props.DeviceEnabled &&
               instance->props.CapPowerReporting != OPOS_PR_NONE && !instance->props.ReaderOnline;
    }
    void TryReopen() override { TryReopenReader(); }
};

ReaderReturn& ServiceObjectCore::Impl::Return() {
    static NoDestructor<CurrentInstanceReturn> target;
    return target.get();
}

void ServiceObjectCore::Impl::ReaderLost(ProcessGuard& guard) {
    props.ReaderOnline = false;
    trace.Write(TraceLevel::Errors, "reader lost: watching for its return");
    if (NotifiesPower(props)) ProcessEventDelivery().PostStatusUpdate(guard, this, OPOS_PS_OFF_OFFLINE);
    ProcessReaderWatch().Start(guard, Return(), arrival_, readerPoll_);
}

void ServiceObjectCore::Impl::EnableOffline(ProcessGuard& guard) {
    ProcessEventDelivery().StartEventThread(guard, this, Dispatch());
    LoadXMLUPOSStatistics(guard);
    props.DeviceEnabled = true;
    props.ReaderOnline = true;  // so that ReaderLost tells the application once
    props.State = OPOS_S_IDLE;
    props.ResultCode = props.ResultCodeExtended = OPOS_SUCCESS;
    ProcessSwipeRing().Open(guard);
    ReaderLost(guard);
}

void ServiceObjectCore::Impl::TryReopenReader() {
    if (VorlexOpenDevice("") != VORLEX_OK) return;
    int32_t productId = 0;
    VorlexGetPID(&productId);
    bool wrongKind = false;
    {
        ProcessGuard guard(Lock());
        Impl* instance = Current(guard);
        // Disabled meanwhile: the disable closes what was opened. Gone again
        // before this: the watch tries once more.
        if (!Return().ReaderMissing(guard) || ReaderState(guard) != VORLEX_DEVICE_OPENED) return;
        wrongKind = instance->ReaderOfOtherKind(productId);
        if (!wrongKind) {
            instance->props.ReaderOnline = true;
            instance->props.State = OPOS_S_IDLE;
            instance->trace.Write(TraceLevel::Errors, "reader back online");
            if (NotifiesPower(instance->props)) {
                ProcessEventDelivery().PostStatusUpdate(guard, instance, OPOS_PS_ONLINE);
            }
        }
    }
    // Another kind of reader is no return of ours: closed, and the watch goes on.
    if (wrongKind) VorlexCloseDevice();
}

void ServiceObjectCore::Impl::ProcessStatusUpdate(int32_t status) {
    ProcessGuard guard(Lock());
    const EventArgument arguments[] = {EventArgument::Long(status)};
    Fire(guard, EventKind::StatusUpdate, kStatusUpdateEvent, arguments, 1);
}

}  // namespace norvik

// Life cycle of the service object: construction, open, claim, enable and
// disable, release, close, health check, and the reader's device-state
// callback.
#include "instance/ServiceObjectCore.h"

#include "card_input/CardInput.h"
#include "claim_release/ClaimReleaser.h"
#include "common/NoDestructor.h"
#include "instance/ServiceObjectImpl.h"
#include "logic/ClaimTable.h"
#include "logic/PropertyRules.h"
#include "logic/TrackParser.h"
#include "reconnect/ReaderWatch.h"

namespace norvik {
namespace {

constexpr int32_t kSuccessfulHealth = 0;

// The product ID that belongs to each configured reader kind.
constexpr int32_t kBasicReaderProductId = VORLEX_PID_BASIC_SWIPE;
constexpr int32_t kEncryptingReaderProductId = VORLEX_PID_SECURE_SWIPE;

ServiceObjectCore::Impl* g_current = nullptr;  // guarded by the process lock
int32_t g_readerState = VORLEX_DEVICE_RELEASED;  // guarded by the process lock

int32_t VORLEX_CALL CardDataCallback(int32_t state) {
    ServiceObjectCore::Impl::OnCardDataStateChanged(state);
    return 0;
}

int32_t VORLEX_CALL DeviceStateCallback(int32_t state) {
    ServiceObjectCore::Impl::OnDeviceStatusChanged(state);
    return 0;
}

}  // namespace

ProcessLock& ServiceObjectCore::Impl::Lock() {
    static NoDestructor<ProcessLock> lock;
    return lock.get();
}

ServiceObjectCore::Impl*& ServiceObjectCore::Impl::Current(const ProcessGuard&) { return g_current; }
int32_t& ServiceObjectCore::Impl::ReaderState(const ProcessGuard&) { return g_readerState; }

bool ServiceObjectCore::Impl::ReaderOfOtherKind(int32_t productId) const {
    return (productId == kBasicReaderProductId && props.ReaderKind != 0) ||
           (productId == kEncryptingReaderProductId && props.ReaderKind != 1);
}

// The event thread serves the current instance while its device is enabled.
class ServiceObjectCore::Impl::CurrentInstanceDispatch final : public InstanceDispatch {
public:
    ServedInstance* Target(ProcessGuard& guard) override {
        Impl* instance = Current(guard);
        return instance != nullptr && instance->props.DeviceEnabled ? instance : nullptr;
    }
};

InstanceDispatch& ServiceObjectCore::Impl::Dispatch() {
    static NoDestructor<CurrentInstanceDispatch> dispatch;
    return dispatch.get();
}

ServiceObjectCore::Impl::Impl(const ServiceEnvironment& environment)
    : trace(*environment.trace),
      registry_(*environment.registry),
      claims_(*environment.claims),
      clock_(*environment.clock),
      arrival_(environment.arrival),
      readerPoll_(environment.readerPollMilliseconds) {
    {
        ProcessGuard guard(Lock());
        Current(guard) = this;
    }
    VorlexCardDataStateChangedNotify(&CardDataCallback);
    VorlexDeviceStateChangedNotify(&DeviceStateCallback);
}

ServiceObjectCore::Impl::~Impl() {
    EventDelivery& delivery = ProcessEventDelivery();
    ProcessGuard guard(Lock());
    const std::string claimed = props.Claimed ? std::string(openDeviceName_.view()) : std::string();
    props.Claimed = false;
    // Callbacks that come later find no instance and do nothing; the watch
    // for a lost reader serves the current instance and ends with it.
    if (Current(guard) == this) {
        ProcessReaderWatch().Stop(guard);
        Current(guard) = nullptr;
    }
    delivery.DropControl(guard, this);
    delivery.StopEventThread(guard, this);
    ForgetCards(guard);
    // An event thread serving this instance for another owner: wait while it
    // runs our code, but not while it calls the control object, which may be
    // waiting for this very thread; it then never comes back to us.
    delivery.ForgetInstance(guard, this);
    guard.Unlock();
    // Without the process lock: the table's lock may be held in another process.
    if (!claimed.empty()) ProcessClaimReleaser().Release(claims_, clock_, claimed);
}

void ServiceObjectCore::Impl::ForgetCards(ProcessGuard& guard) {
    WipeCardProperties(props);
    // The queue and the current record serve the current instance; an older
    // instance going away leaves them to it.
    if (Current(guard) != this && Current(guard) != nullptr) return;
    ProcessDataQueue().Forget(guard);
}

void ServiceObjectCore::Impl::SetResult(int32_t* pRC, int32_t rc, int32_t rce) {
    if (pRC) *pRC = rc;
    props.ResultCode = rc;
    props.ResultCodeExtended = rce;
}

void ServiceObjectCore::Impl::OpenService(std::string_view deviceName,
                                          std::unique_ptr<ControlObject> control, int32_t* pRC) {
    std::lock_guard<std::mutex> steps(claimSteps_);
    bool enabled;
    {
        ProcessGuard guard(Lock());
        enabled = props.DeviceEnabled;
    }
    // Opening again starts over: the reader would otherwise stay open with
    // the device marked disabled, and no later enable in the process could open it.
    if (enabled) setDeviceEnabled(false);
    AliasTable aliases;
    LoadLDNValues(registry_, aliases);

    ProcessGuard guard(Lock());
    EventDelivery& delivery = ProcessEventDelivery();
    delivery.SetControl(guard, std::move(control), this);
    aliases_ = aliases;

    // Opening again starts over; a claim this instance still holds would
    // otherwise stay in the table and count against it.
    const std::string claimed = props.Claimed ? std::string(openDeviceName_.view()) : std::string();
    openDeviceName_.Assign(deviceName);
    if (const char* target = aliases_.Resolve(deviceName)) openDeviceName_.Assign(target);

    ResetPropertiesForOpen(props);
    delivery.ResetFreezing(guard);
    ProcessDataQueue().Clear(guard);
    const std::string name(openDeviceName_.view());
    guard.Unlock();

    // The claim table's lock may be held in another process for seconds: the
    // steps on the table run without the process lock. This instance's name
    // and claim stay as they are meanwhile (claimSteps_).
    if (!claimed.empty()) ProcessClaimReleaser().Release(claims_, clock_, claimed);
    DeviceConfig config;
    const bool found = LoadRegistryValues(registry_, name, config);
    if (found) trace.Configure(config.traceLevel, config.traceFile.view(), name);
    ClaimAccess access = ClaimAccess::Done;
    const bool claimedElsewhere = found && IsNameClaimed(claims_, name, &access);
    if (found && !access) TraceClaimTableProblem(access);

    guard.Relock();
    if (!found) {
        if (pRC) *pRC = OPOS_E_NOEXIST;
        props.ResultCode = props.ResultCodeExtended = OPOS_E_FAILURE;
        return;
    }
    props.ReaderKind = config.readerKind;
    props.DeviceDescription = config.deviceDescription.view();
    props.DeviceName = config.deviceName.view();
    props.CapStatisticsReporting = true;
    props.CapUpdateStatistics = false;
    props.CapPowerReporting = config.powerReporting ? OPOS_PR_STANDARD : OPOS_PR_NONE;
    ApplyEncryptionCapabilities(props, true);
    if (claimedElsewhere) props.ClaimedElsewhere = true;
    if (access.status() == ClaimAccess::TimedOut) {
        SetResult(pRC, OPOS_E_FAILURE, kClaimTableBusy);
        return;
    }
    SetResult(pRC, OPOS_SUCCESS, OPOS_SUCCESS);
    ResetStatisticsRecord(statistics_);
}

void ServiceObjectCore::Impl::TraceClaimTableProblem(ClaimAccess access) {
    if (access.status() == ClaimAccess::TimedOut) {
        trace.Write(TraceLevel::Errors, "claim table: its lock is held elsewhere beyond the bound");
    } else {
        const std::string problem = claims_.Problem();
        trace.Write(TraceLevel::Errors, "claim table unavailable: %s",
                    problem.empty() ? "it could not be created" : problem.c_str());
    }
}

// Each step on the claim table lets go of the process lock while it waits
// for the table's lock, so that other instances, the reader's callbacks and
// the event thread go on. claimSteps_ keeps this instance's other claim
// steps out meanwhile: its name and claim are as they were when it relocks.
void ServiceObjectCore::Impl::ClaimDevice(int32_t* pRC) {
    std::lock_guard<std::mutex> steps(claimSteps_);
    ProcessGuard guard(Lock());
    if (props.Claimed) {
        SetResult(pRC, OPOS_SUCCESS, OPOS_SUCCESS);
        return;
    }
    const std::string name(openDeviceName_.view());
    guard.Unlock();
    const ClaimResult result = ClaimName(claims_, name);
    if (result == ClaimResult::TimedOut) TraceClaimTableProblem(ClaimAccess::TimedOut);
    if (result == ClaimResult::Unavailable) TraceClaimTableProblem(ClaimAccess::Unavailable);
    guard.Relock();
    switch (result) {
        case ClaimResult::Granted:
            props.ClaimedElsewhere = false;
            props.Claimed = true;
            SetResult(pRC, OPOS_SUCCESS, OPOS_SUCCESS);
            break;
        case ClaimResult::HeldElsewhere:
            props.ClaimedElsewhere = true;
            SetResult(pRC, OPOS_E_CLAIMED, OPOS_SUCCESS);
            break;
        case ClaimResult::TimedOut:
            SetResult(pRC, OPOS_E_FAILURE, kClaimTableBusy);
            break;
        case ClaimResult::TableFull:
        case ClaimResult::NameTooLong:
        case ClaimResult::Unavailable:
            // Granting a claim that is not recorded would let another
            // process claim the same device.
            SetResult(pRC, OPOS_E_FAILURE, OPOS_SUCCESS);
            break;
    }
}

void ServiceObjectCore::Impl::ReleaseDevice(int32_t* pRC) {
    std::lock_guard<std::mutex> steps(claimSteps_);
    ProcessGuard guard(Lock());
    if (!props.Claimed) {
        SetResult(pRC, OPOS_E_ILLEGAL, OPOS_SUCCESS);
        return;
    }
    const std::string name(openDeviceName_.view());
    guard.Unlock();
    const ClaimAccess access = ReleaseName(claims_, name);
    if (access.status() == ClaimAccess::TimedOut) TraceClaimTableProblem(access);
    guard.Relock();
    // The name is still recorded: the claim is kept, so that the application
    // can release again, as a claim that times out can be tried again.
    if (access.status() == ClaimAccess::TimedOut) {
        SetResult(pRC, OPOS_E_FAILURE, kClaimTableBusy);
        return;
    }
    props.Claimed = props.ClaimedElsewhere = false;
    SetResult(pRC, OPOS_SUCCESS, OPOS_SUCCESS);
}

void ServiceObjectCore::Impl::CloseService(int32_t* pRC) {
    std::lock_guard<std::mutex> steps(claimSteps_);
    bool enabled = false;
    {
        ProcessGuard guard(Lock());
        enabled = props.DeviceEnabled;
    }
    if (enabled) setDeviceEnabled(false);
    std::string claimed;
    {
        ProcessGuard guard(Lock());
        EventDelivery& delivery = ProcessEventDelivery();
        delivery.StopEventThread(guard, this);
        if (props.Claimed) claimed = openDeviceName_.view();
        props.ClaimedElsewhere = false;
        props.DeviceEnabled = false;
        props.Claimed = false;
        SetResult(pRC, OPOS_SUCCESS, OPOS_SUCCESS);
        // The control object is about to let go of us: never call it again.
        delivery.DropControl(guard, this);
        ForgetCards(guard);
    }
    // Closing always succeeds: a release that cannot reach the table now is
    // retried in the background until it does.
    if (!claimed.empty()) ProcessClaimReleaser().Release(claims_, clock_, claimed);
    clock_.SleepMilliseconds(kCloseServicePauseMs);
}

void ServiceObjectCore::Impl::CheckHealth(int32_t level, int32_t* pRC) {
    ProcessGuard guard(Lock());
    if (!props.DeviceEnabled || !props.Claimed) {
        SetResult(pRC, props.Claimed ? OPOS_E_DISABLED : OPOS_E_NOTCLAIMED, OPOS_SUCCESS);
        return;
    }
    if (level != OPOS_CH_INTERNAL) {
        SetResult(pRC, OPOS_E_ILLEGAL, OPOS_E_ILLEGAL);
        return;
    }
    props.CheckHealthText = props.State == OPOS_S_ERROR ? kHealthNoHardware : kHealthSuccessful;
    SetResult(pRC, kSuccessfulHealth, OPOS_SUCCESS);
}

bool ServiceObjectCore::Impl::setDeviceEnabled(bool enable) {
    SwipeRing& ring = ProcessSwipeRing();
    if (!enable) {
        {
            ProcessGuard guard(Lock());
            // First, so that the notifications of the next two calls find the device disabled.
            props.DeviceEnabled = false;
            props.ReaderOnline = false;
            ring.Close(guard);  // swipes not yet processed go with the device
            // Before the reader is closed: a reopen in flight is finished first.
            ProcessReaderWatch().Stop(guard);
        }
        VorlexClearBuffer();
        VorlexCloseDevice();
        clock_.SleepMilliseconds(kDisablePauseMs);
        return true;
    }

    const int32_t opened = VorlexOpenDevice("");
    trace.Write(opened == VORLEX_OK ? TraceLevel::Details : TraceLevel::Errors, "reader open: %d", opened);
    if (opened != VORLEX_OK) {
        ProcessGuard guard(Lock());
        if (NotifiesPower(props)) {
            EnableOffline(guard);
            return true;
        }
        props.DeviceEnabled = false;
        props.State = OPOS_S_ERROR;
        return false;
    }
    bool lostDuringEnable;
    bool enabledOffline = false;
    {
        ProcessGuard guard(Lock());
        // A reader that went away before this point was reported while the
        // device was still disabled; after it, its removal finds the device
        // enabled. Either way the device ends in a state that matches the reader.
        lostDuringEnable = ReaderState(guard) != VORLEX_DEVICE_OPENED;
        if (lostDuringEnable && !NotifiesPower(props)) {
            props.DeviceEnabled = false;
            props.State = OPOS_S_ERROR;
        } else if (lostDuringEnable) {
            EnableOffline(guard);
            enabledOffline = true;
        } else {
            ProcessEventDelivery().StartEventThread(guard, this, Dispatch());
            LoadXMLUPOSStatistics(guard);
            props.DeviceEnabled = true;
            props.ReaderOnline = true;
            props.State = OPOS_S_IDLE;
            props.ResultCode = props.ResultCodeExtended = OPOS_SUCCESS;
            ring.Open(guard);
        }
    }
    if (lostDuringEnable) {
        trace.Write(TraceLevel::Errors, "reader lost while the device was being enabled");
        if (enabledOffline) return true;
        VorlexCloseDevice();
        return false;
    }
    int32_t productId = 0;
    VorlexGetPID(&productId);
    bool wrongKind = false;
    {
        ProcessGuard guard(Lock());
        wrongKind = ReaderOfOtherKind(productId);
        if (wrongKind) {
            props.DeviceEnabled = false;
            props.ReaderOnline = false;
            props.State = OPOS_S_ERROR;
            ring.Close(guard);
        }
    }
    if (wrongKind) {
        trace.Write(TraceLevel::Errors, "reader product 0x%04X is not of the configured kind",
                    static_cast<unsigned>(productId));
        VorlexCloseDevice();
        return false;
    }
    return true;
}

void ServiceObjectCore::Impl::OnDeviceStatusChanged(int32_t state) {
    ProcessGuard guard(Lock());
    ReaderState(guard) = state;
    Impl* instance = Current(guard);
    if (instance == nullptr || !instance->props.DeviceEnabled) return;
    instance->trace.Write(TraceLevel::Details, "reader state %d", state);
    if (state == VORLEX_DEVICE_OPENED) instance->props.State = OPOS_S_IDLE;
    if (state == VORLEX_DEVICE_RELEASED || state == VORLEX_DEVICE_REMOVED) {
        instance->props.State = OPOS_S_ERROR;
        if (instance->props.CapPowerReporting != OPOS_PR_NONE && instance->props.ReaderOnline) {
            instance->ReaderLost(guard);
        }
    }
}

void ServiceObjectCore::Impl::LoadXMLUPOSStatistics(ProcessGuard& guard) {
    const LocalDate today = clock_.Today();
    norvik::LoadXMLUPOSStatistics(statistics_, props.DeviceName.c_str(),
                                  ProcessDataQueue().Current(guard).SerialNumberText, today.year, today.month,
                                  today.day);
}

bool ServiceObjectCore::Impl::ReapEventThreads() {
    ProcessGuard guard(Lock());
    return ProcessEventDelivery().ReapEventThreads(guard);
}

bool ServiceObjectCore::EventThreadsRunning() { return Impl::ReapEventThreads(); }

bool ServiceObjectCore::ClaimReleasesPending() { return ProcessClaimReleaser().Pending(); }

// The adapter's entry points forward to the instance.
ServiceObjectCore::ServiceObjectCore(const ServiceEnvironment& environment)
    : impl_(std::make_unique<Impl>(environment)) {}
ServiceObjectCore::~ServiceObjectCore() = default;

void ServiceObjectCore::COFreezeEvents(bool, int32_t*) {}  // freezing goes through the property
void ServiceObjectCore::OpenService(std::string_view deviceClass, std::string_view deviceName,
                                    std::unique_ptr<ControlObject> control, int32_t* pRC) {
    impl_->OpenService(deviceName, std::move(control), pRC);
    impl_->TraceCall("OpenService", pRC, "%.*s, %.*s", static_cast<int>(deviceClass.size()), deviceClass.data(),
                     static_cast<int>(deviceName.size()), deviceName.data());
}
void ServiceObjectCore::CheckHealth(int32_t level, int32_t* pRC) {
    impl_->CheckHealth(level, pRC);
    impl_->TraceCall("CheckHealth", pRC, "%d", level);
}
void ServiceObjectCore::ClaimDevice(int32_t timeout, int32_t* pRC) {
    impl_->ClaimDevice(pRC);
    impl_->TraceCall("ClaimDevice", pRC, "%d", timeout);
}
void ServiceObjectCore::CloseService(int32_t* pRC) {
    impl_->CloseService(pRC);
    impl_->TraceCall("CloseService", pRC, "%s", "");
    impl_->trace.Stop();
}
void ServiceObjectCore::ReleaseDevice(int32_t* pRC) {
    impl_->ReleaseDevice(pRC);
    impl_->TraceCall("ReleaseDevice", pRC, "%s", "");
}

}  // namespace norvik

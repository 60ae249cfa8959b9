// Life cycle of the service object: construction, open, claim, enable and
// disable, release, close, health check, and the reader's device-state
// callback.
#include "framework/ServiceObjectCore.h"

#include <chrono>
#include <ctime>

#include "common/NoDestructor.h"
#include "card_input/TrackParser.h"
#include "framework/ClaimTable.h"
#include "framework/ServiceObjectImpl.h"
#include "platform/DefaultPlatform.h"
#include "trace/Trace.h"

namespace norvik {
namespace {

constexpr int32_t kSuccessfulHealth = 0;
constexpr char kHealthSuccessful[] = "MSR CheckHealth INTERNAL: Successful";
constexpr char kHealthNoHardware[] = "MSR CheckHealth INTERNAL: No Hardware";

// The product ID that belongs to each configured reader kind.
constexpr int32_t kBasicReaderProductId = VORLEX_PID_BASIC_SWIPE;
constexpr int32_t kEncryptingReaderProductId = VORLEX_PID_SECURE_SWIPE;

class RealClock final : public Clock {
public:
    void SleepMilliseconds(uint32_t milliseconds) override {
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    }
    LocalDate Today() override {
        const std::time_t now = std::time(nullptr);
        std::tm local{};
#ifdef _WIN32
        localtime_s(&local, &now);
#else
        localtime_r(&now, &local);
#endif
        return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday};
    }
};

int32_t VORLEX_CALL CardDataCallback(int32_t state) {
    ServiceObjectCore::Impl::OnCardDataStateChanged(state);
    return 0;
}

int32_t VORLEX_CALL DeviceStateCallback(int32_t state) {
    ServiceObjectCore::Impl::OnDeviceStatusChanged(state);
    return 0;
}

}  // namespace

Clock& SystemClock() {
    static NoDestructor<RealClock> clock;
    return clock.get();
}

ProcessState& Process() {
    static NoDestructor<ProcessState> state;
    return state.get();
}

ServiceObjectCore::Impl::Impl(const ServiceEnvironment& environment)
    : trace(environment.trace ? *environment.trace : DefaultTracePlatform()),
      registry_(environment.registry ? *environment.registry : DefaultRegistryView()),
      claims_(environment.claims ? *environment.claims : DefaultClaimMemory()),
      clock_(environment.clock ? *environment.clock : SystemClock()) {
    {
        std::lock_guard<std::mutex> lock(Process().mutex);
        Process().current = this;
    }
    VorlexCardDataStateChangedNotify(&CardDataCallback);
    VorlexDeviceStateChangedNotify(&DeviceStateCallback);
}

ServiceObjectCore::Impl::~Impl() {
    ProcessState& ps = Process();
    {
        std::unique_lock<std::mutex> lock(ps.mutex);
        if (props.Claimed) ReleaseName(claims_, openDeviceName_.view());
        // Callbacks that come later find no instance and do nothing.
        if (ps.current == this) ps.current = nullptr;
        if (ps.controlOwner == this) {
            ps.control.reset();
            ps.controlOwner = nullptr;
        }
    }
    StopEventThread();
    {
        std::lock_guard<std::mutex> lock(ps.mutex);
        ForgetCards();
    }
    // An event thread serving this instance for another owner: wait while it
    // runs our code, but not while it calls the control object, which may be
    // waiting for this very thread; it then never comes back to us.
    std::unique_lock<std::mutex> lock(ps.mutex);
    EventThread* serving = nullptr;
    ps.changed.wait(lock, [&] {
        serving = ps.eventThread.get();
        return serving == nullptr || serving->user != this || serving->inCall;
    });
    if (serving != nullptr && serving->user == this) serving->user = nullptr;
}

void ServiceObjectCore::Impl::ForgetCards() {
    ProcessState& ps = Process();
    WipeCardProperties(props);
    // The queue and the current record serve the current instance; an older
    // instance going away leaves them to it.
    if (ps.current != this && ps.current != nullptr) return;
    ps.dataCount = 0;
    SecureWipe(ps.dataQueue, sizeof ps.dataQueue);
    SecureWipe(&ps.currentRecord, sizeof ps.currentRecord);
}

void ServiceObjectCore::Impl::SetResult(int32_t* pRC, int32_t rc, int32_t rce) {
    if (pRC) *pRC = rc;
    props.ResultCode = rc;
    props.ResultCodeExtended = rce;
}

void ServiceObjectCore::Impl::OpenService(std::string_view deviceName,
                                          std::unique_ptr<ControlObject> control, int32_t* pRC) {
    ProcessState& ps = Process();
    bool enabled;
    {
        std::lock_guard<std::mutex> lock(ps.mutex);
        enabled = props.DeviceEnabled;
    }
    // Opening again starts over: the reader would otherwise stay open with
    // the device marked disabled, and no later enable in the process could open it.
    if (enabled) setDeviceEnabled(false);
    AliasTable aliases;
    LoadLDNValues(registry_, aliases);

    std::unique_lock<std::mutex> lock(ps.mutex);
    ps.control = std::move(control);
    ps.controlOwner = this;
    aliases_ = aliases;

    // Opening again starts over; a claim this instance still holds would
    // otherwise stay in the table and count against it.
    if (props.Claimed) ReleaseName(claims_, openDeviceName_.view());
    openDeviceName_.Assign(deviceName);
    if (const char* target = aliases_.Resolve(deviceName)) openDeviceName_.Assign(target);

    // Every property to its value after opening.
    const int32_t readerKind = props.ReaderKind;
    props = PropertyBlock{};
    props.ReaderKind = readerKind;
    props.ResultCode = props.ResultCodeExtended = -1;
    props.DirectIOEventNumber = 1;
    props.State = OPOS_S_IDLE;
    props.CheckHealthText = kHealthSuccessful;
    props.CapISO = props.CapTransmitSentinels = true;
    props.DecodeData = props.ParseDecodeData = true;
    props.TracksToRead = MSR_TR_1_2_3;
    props.ErrorReportingType = MSR_ERT_CARD;
    props.CapCardAuthentication = kFluxScribeCapability;
    props.CapTrackDataMasking = true;
    props.CardPropertyList = kCardPropertyList;
    props.CardType = kBankCardType;
    props.CardTypeList = kBankCardType;
    props.WriteCardType = kBankCardType;
    ps.freezeEvents = false;
    ps.dataCount = 0;
    ps.frozenLast = -1;
    for (FrozenEvent& entry : ps.frozen) entry.stringRef.clear();
    lock.unlock();

    DeviceConfig config;
    const bool found = LoadRegistryValues(registry_, openDeviceName_.view(), config);
    if (found) trace.Configure(config.traceLevel, config.traceFile.view(), openDeviceName_.view());

    lock.lock();
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
    ApplyEncryptionCapabilities(true);
    ClaimAccess access = ClaimAccess::Done;
    if (GetClaimed(openDeviceName_.view(), &access)) props.ClaimedElsewhere = true;
    if (access.status() == ClaimAccess::TimedOut) {
        SetResult(pRC, OPOS_E_FAILURE, kClaimTableBusy);
        return;
    }
    SetResult(pRC, OPOS_SUCCESS, OPOS_SUCCESS);
    ResetStatisticsRecord(statistics_);
}

void ServiceObjectCore::Impl::ApplyEncryptionCapabilities(bool atOpen) {
    switch (props.ReaderKind) {
        case 0:
            props.CapDataEncryption = MSR_DE_NONE;
            props.DataEncryptionAlgorithm = OPOS_E_ILLEGAL;
            props.CapTrackDataMasking = false;
            if (atOpen) props.CapCardAuthentication.Clear();
            break;
        case 1:
            props.CapDataEncryption = MSR_DE_3DEA_DUKPT;
            props.DataEncryptionAlgorithm = MSR_DE_3DEA_DUKPT;
            props.CapTrackDataMasking = true;
            if (atOpen) props.CapCardAuthentication.Clear();
            break;
        default:
            // Unknown kinds keep what they hold; at open that is the defaults
            // (no encryption offered), never values left from an earlier open.
            if (atOpen) {
                props.CapDataEncryption = MSR_DE_NONE;
                props.DataEncryptionAlgorithm = MSR_DE_NONE;
            }
            break;
    }
}

bool ServiceObjectCore::Impl::GetClaimed(std::string_view name, ClaimAccess* access) {
    if (props.Claimed) return false;  // our own claim never counts against us
    return IsNameClaimed(claims_, name, access);
}

void ServiceObjectCore::Impl::ClaimDevice(int32_t* pRC) {
    std::lock_guard<std::mutex> lock(Process().mutex);
    if (props.Claimed) {
        SetResult(pRC, OPOS_SUCCESS, OPOS_SUCCESS);
        return;
    }
    switch (ClaimName(claims_, openDeviceName_.view())) {
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
    std::lock_guard<std::mutex> lock(Process().mutex);
    if (!props.Claimed) {
        SetResult(pRC, OPOS_E_ILLEGAL, OPOS_SUCCESS);
        return;
    }
    ReleaseName(claims_, openDeviceName_.view());
    props.Claimed = props.ClaimedElsewhere = false;
    SetResult(pRC, OPOS_SUCCESS, OPOS_SUCCESS);
}

void ServiceObjectCore::Impl::CloseService(int32_t* pRC) {
    ProcessState& ps = Process();
    bool enabled = false;
    {
        std::lock_guard<std::mutex> lock(ps.mutex);
        enabled = props.DeviceEnabled;
    }
    if (enabled) setDeviceEnabled(false);
    StopEventThread();
    {
        std::lock_guard<std::mutex> lock(ps.mutex);
        if (props.Claimed) {
            ReleaseName(claims_, openDeviceName_.view());
            props.Claimed = props.ClaimedElsewhere = false;
        }
        props.DeviceEnabled = false;
        props.Claimed = false;
        SetResult(pRC, OPOS_SUCCESS, OPOS_SUCCESS);
        // The control object is about to let go of us: never call it again.
        if (ps.controlOwner == this) {
            ps.control.reset();
            ps.controlOwner = nullptr;
        }
        ForgetCards();
    }
    clock_.SleepMilliseconds(kCloseServicePauseMs);
}

void ServiceObjectCore::Impl::CheckHealth(int32_t level, int32_t* pRC) {
    std::lock_guard<std::mutex> lock(Process().mutex);
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
    ProcessState& ps = Process();
    if (!enable) {
        {
            std::lock_guard<std::mutex> lock(ps.mutex);
            // First, so that the notifications of the next two calls find the device disabled.
            props.DeviceEnabled = false;
            ps.CloseSwipeRing();  // swipes not yet processed go with the device
        }
        VorlexClearBuffer();
        VorlexCloseDevice();
        clock_.SleepMilliseconds(kDisablePauseMs);
        return true;
    }

    const int32_t opened = VorlexOpenDevice("");
    trace.Write(opened == VORLEX_OK ? TraceLevel::Details : TraceLevel::Errors, "reader open: %d", opened);
    if (opened != VORLEX_OK) {
        std::lock_guard<std::mutex> lock(ps.mutex);
        props.DeviceEnabled = false;
        props.State = OPOS_S_ERROR;
        return false;
    }
    StartEventThread();
    {
        std::lock_guard<std::mutex> lock(ps.mutex);
        LoadXMLUPOSStatistics();
        props.DeviceEnabled = true;
        props.State = OPOS_S_IDLE;
        props.ResultCode = props.ResultCodeExtended = OPOS_SUCCESS;
        ps.ring.accepting = true;
    }
    int32_t productId = 0;
    VorlexGetPID(&productId);
    bool wrongKind = false;
    {
        std::lock_guard<std::mutex> lock(ps.mutex);
        wrongKind = (productId == kBasicReaderProductId && props.ReaderKind != 0) ||
                    (productId == kEncryptingReaderProductId && props.ReaderKind != 1);
        if (wrongKind) {
            props.DeviceEnabled = false;
            props.State = OPOS_S_ERROR;
            ps.CloseSwipeRing();
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
    ProcessState& ps = Process();
    std::lock_guard<std::mutex> lock(ps.mutex);
    Impl* instance = ps.current;
    if (instance == nullptr || !instance->props.DeviceEnabled) return;
    instance->trace.Write(TraceLevel::Details, "reader state %d", state);
    if (state == VORLEX_DEVICE_OPENED) instance->props.State = OPOS_S_IDLE;
    if (state == VORLEX_DEVICE_RELEASED || state == VORLEX_DEVICE_REMOVED) {
        instance->props.State = OPOS_S_ERROR;
    }
}

void ServiceObjectCore::Impl::LoadXMLUPOSStatistics() {
    const LocalDate today = clock_.Today();
    norvik::LoadXMLUPOSStatistics(statistics_, props.DeviceName.c_str(),
                          Process().currentRecord.SerialNumberText, today.year, today.month, today.day);
}

void ServiceObjectCore::Impl::StartEventThread() {
    ReapEventThreads();
    ProcessState& ps = Process();
    std::lock_guard<std::mutex> lock(ps.mutex);
    ps.eventThreadOwner = this;  // the enabled instance; only one can hold the reader
    if (ps.eventThread) return;
    auto record = std::make_unique<EventThread>();
    record->thread = std::thread(&Impl::EventThreadProc, record.get());
    ps.eventThread = std::move(record);
}

void ServiceObjectCore::Impl::StopEventThread() {
    ProcessState& ps = Process();
    std::unique_ptr<EventThread> stopped;
    {
        std::unique_lock<std::mutex> lock(ps.mutex);
        if (ps.eventThreadOwner != this || !ps.eventThread) return;
        if (ps.eventThread.get() == CurrentEventThread()) return;  // from inside an event
        ps.eventThreadOwner = nullptr;
        // Nobody drains the ring any more: a read thread waiting for room must
        // not wait for ever (the owner may go without being disabled).
        ps.CloseSwipeRing();
        stopped = std::move(ps.eventThread);
        ps.changed.notify_all();
        // Short steps are waited for; a call to the control object is not,
        // since the control may be waiting for this very thread. Such a
        // thread ends on its own when the call returns, without touching the
        // instance again, and is joined later.
        ps.changed.wait(lock, [&] { return stopped->finished || stopped->user == nullptr || stopped->inCall; });
        if (!stopped->finished && stopped->user != nullptr) {
            stopped->user = nullptr;
            ps.letGo.push_back(std::move(stopped));
            return;
        }
    }
    stopped->thread.join();
}

bool ServiceObjectCore::Impl::ReapEventThreads() {
    ProcessState& ps = Process();
    std::vector<std::unique_ptr<EventThread>> done;
    bool running;
    {
        std::lock_guard<std::mutex> lock(ps.mutex);
        for (auto it = ps.letGo.begin(); it != ps.letGo.end();) {
            if ((*it)->finished) {
                done.push_back(std::move(*it));
                it = ps.letGo.erase(it);
            } else {
                ++it;
            }
        }
        running = !ps.letGo.empty() || ps.eventThread != nullptr;
    }
    for (auto& thread : done) thread->thread.join();
    return running;
}

bool ServiceObjectCore::EventThreadsRunning() { return Impl::ReapEventThreads(); }

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

// Internal to the instance module: the record behind ServiceObjectCore.
// Owns: each instance's properties, configuration, claim and statistics, and
//       the process's current instance (the one constructed last) and its lock.
// Threads: application threads (every OPOS method), the reader's read thread
//       (its two callbacks) and the event thread (ProcessCardData).
// Lock: the process lock, taken here and handed down as a ProcessGuard;
//       released around every call to the reader library and the control
//       object, and around every wait for the claim table's lock. Each
//       instance's claimSteps_ comes before it.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "Vorlex.h"
#include "delivery/EventDelivery.h"
#include "instance/ServiceObjectCore.h"
#include "logic/PropertyBlock.h"
#include "logic/RegistryConfig.h"
#include "logic/Statistics.h"
#include "reconnect/ReaderWatch.h"
#include "seams/ClaimMemory.h"
#include "seams/Clock.h"
#include "seams/RegistryView.h"
#include "sync/ProcessLock.h"
#include "trace/Trace.h"

namespace norvik {

constexpr uint32_t kCloseServicePauseMs = 500;
constexpr uint32_t kDisablePauseMs = 250;
constexpr uint32_t kAutoDisablePauseMs = 500;

class ServiceObjectCore::Impl final : public ServedInstance {
public:
    explicit Impl(const ServiceEnvironment& environment);
    ~Impl();

    // Life cycle (ServiceObjectCore.cpp).
    void OpenService(std::string_view deviceName, std::unique_ptr<ControlObject> control, int32_t* pRC);
    void ClaimDevice(int32_t* pRC);
    void ReleaseDevice(int32_t* pRC);
    void CloseService(int32_t* pRC);
    void CheckHealth(int32_t level, int32_t* pRC);
    // Joins event threads that were let go of and have finished; true while any still runs.
    static bool ReapEventThreads();
    // The reader's callbacks, on its read thread.
    static void OnCardDataStateChanged(int32_t state);
    static void OnDeviceStatusChanged(int32_t state);

    // Card input (CardProcessing.cpp).
    void ProcessCardData(VorlexCardData& record, int32_t fetchResult) override;
    void ProcessStatusUpdate(int32_t status) override;
    void ClearInput(int32_t* pRC);
    void ClearInputProperties(int32_t* pRC);
    bool RetrieveCardProperty(std::string_view name, std::string& value, int32_t* pRC);

    // Properties and commands (PropertyAccess.cpp, Commands.cpp).
    void GetPropertyNumber(int32_t propIndex, int32_t* pNumber);
    void SetPropertyNumber(int32_t propIndex, int32_t number);
    void GetPropertyString(int32_t propIndex, std::string& value);
    void SetPropertyString(int32_t propIndex);
    bool DirectIO(int32_t* pData, std::string& text, int32_t* pRC);
    bool RetrieveStatistics(std::string& buffer, int32_t* pRC);
    void Refuse(int32_t* pRC);  // an operation the device does not support

    // Diagnostic trace hooks (TraceHooks.cpp). TraceCall takes the lock to
    // read the result codes: call it without the lock held.
    void TraceCall(const char* method, const int32_t* pRC, const char* format, ...)
#if defined(__MINGW_PRINTF_FORMAT)
        __attribute__((format(__MINGW_PRINTF_FORMAT, 4, 5)))
#elif defined(__GNUC__)
        __attribute__((format(printf, 4, 5)))
#endif
        ;
    void TraceCardRecord(const VorlexCardData& record, int32_t fetchResult);

    Trace trace;

private:
    // The process lock and the current instance; the lock guards the latter.
    static ProcessLock& Lock();
    static Impl*& Current(const ProcessGuard& guard);
    // The reader's device state as last reported, also while no device is
    // enabled: an enable learns from it whether the reader it opened is still there.
    static int32_t& ReaderState(const ProcessGuard& guard);
    // The event thread's view of the current instance: the one it serves.
    class CurrentInstanceDispatch;
    static InstanceDispatch& Dispatch();
    // The reader watch's view of the current instance (Reconnection.cpp).
    class CurrentInstanceReturn;
    static ReaderReturn& Return();
    static void TryReopenReader();
    // With the lock held: the reader of the enabled, power-reporting instance
    // went away. Tells the application and starts watching for its return.
    void ReaderLost(ProcessGuard& guard);
    // With the lock held: enables without a reader (power notification on).
    void EnableOffline(ProcessGuard& guard);

    bool setDeviceEnabled(bool enable);
    // A reader of the other configured kind (the product decides the kind).
    bool ReaderOfOtherKind(int32_t productId) const;
    void SetResult(int32_t* pRC, int32_t rc, int32_t rce);  // with the lock held
    // One error line on why the claim table was not reached; without the lock.
    void TraceClaimTableProblem(ClaimAccess access);
    // Wipes every copy of a card that this instance holds, and the data
    // queue's unless another instance is the current one.
    void ForgetCards(ProcessGuard& guard);
    void LoadXMLUPOSStatistics(ProcessGuard& guard);

    // Events go through the delivery module, traced to the current instance.
    static void Fire(ProcessGuard& guard, EventKind kind, const char* name, const EventArgument* arguments,
                     int count);
    static void FireEnqueuedDataEvents(ProcessGuard& guard);
    static void Fire_ErrorEvent(ProcessGuard& guard, int32_t resultCode, int32_t resultCodeExtended,
                                int32_t errorLocus, int32_t* pErrorResponse);
    static void Fire_DirectIOEvent(ProcessGuard& guard, int32_t eventNumber, int32_t* pData, std::string* pString);

    PropertyBlock props;
    RegistryView& registry_;
    ClaimMemory& claims_;
    Clock& clock_;
    DeviceArrival* arrival_;  // null: a lost reader is polled for
    std::chrono::milliseconds readerPoll_;
    // Serialises this instance's steps on the claim table (open, claim,
    // release, close), which run without the process lock; taken before it.
    std::mutex claimSteps_;
    Text<256> openDeviceName_;
    AliasTable aliases_;
    StatisticsRecord statistics_;
};

}  // namespace norvik

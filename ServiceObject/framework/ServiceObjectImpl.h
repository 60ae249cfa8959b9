// Internal: the instance record behind ServiceObjectCore and the state that
// every instance in the process shares. Split across the framework,
// card_input and properties folders by area; one mutex (ProcessState::mutex)
// guards all of it and is released around every call to the control object
// and to the reader library.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Vorlex.h"
#include "common/SecureWipe.h"
#include "card_input/ControlObject.h"
#include "framework/ClaimMemory.h"
#include "framework/Clock.h"
#include "framework/RegistryConfig.h"
#include "framework/RegistryView.h"
#include "framework/ServiceObjectCore.h"
#include "framework/Statistics.h"
#include "properties/PropertyBlock.h"
#include "trace/Trace.h"

namespace norvik {

constexpr int32_t kDataQueueCapacity = 25;
constexpr int32_t kFrozenQueueCapacity = 50;
constexpr int32_t kSwipeRingCapacity = 32;
constexpr int32_t kServiceObjectVersion = 1013004;
constexpr uint32_t kCloseServicePauseMs = 500;
constexpr uint32_t kDisablePauseMs = 250;
constexpr uint32_t kAutoDisablePauseMs = 500;

// An event held while FreezeEvents is true. By-reference arguments point into
// the entry itself, since the raiser's storage is gone when it is delivered.
struct FrozenEvent {
    enum Kind : int32_t { Data = 1, DirectIO = 2, Error = 3 };
    int32_t kind = 0;
    const char* name = "";
    int32_t count = 0;
    int32_t values[3] = {};  // the by-value arguments, in declaration order
    int32_t longRef = 0;
    std::string stringRef;
};

// Swipes handed over by the reader's read thread, waiting for the event thread.
struct SwipeRing {
    struct Entry {
        VorlexCardData record;
        int32_t fetchResult;  // what VorlexGetCardData returned
    };
    Entry entries[kSwipeRingCapacity];
    int32_t head = 0;
    int32_t count = 0;
    bool accepting = false;  // false while no device is enabled: producers stop waiting
};

// One event thread of the service object. ProcessState owns it until it has
// been joined. A thread let go of while inside a call to the control object
// (which may be waiting for the very thread that let go) finishes on its own
// and is joined later; until then the module must stay loaded.
struct EventThread {
    std::thread thread;
    const ServiceObjectCore::Impl* user = nullptr;  // instance being served now; null once let go
    bool inCall = false;    // inside a call to the control object
    bool finished = false;  // past its last step: joining returns at once
};

struct ProcessState {
    std::mutex mutex;
    std::condition_variable changed;

    ServiceObjectCore::Impl* current = nullptr;  // the instance constructed last
    std::shared_ptr<ControlObject> control;      // events go here
    const ServiceObjectCore::Impl* controlOwner = nullptr;

    bool freezeEvents = false;
    int32_t dataCount = 0;
    VorlexCardData dataQueue[kDataQueueCapacity];
    VorlexCardData currentRecord;  // the record of the last data event
    FrozenEvent frozen[kFrozenQueueCapacity];
    int32_t frozenLast = -1;

    SwipeRing ring;
    std::unique_ptr<EventThread> eventThread;  // the one that drains the ring
    std::vector<std::unique_ptr<EventThread>> letGo;  // stopped while in a call, not yet joined
    const ServiceObjectCore::Impl* eventThreadOwner = nullptr;

    // Stops taking swipes and drops those not yet processed; a read thread
    // waiting for room returns. With the mutex held.
    void CloseSwipeRing() {
        ring.accepting = false;
        ring.count = 0;
        SecureWipe(ring.entries, sizeof ring.entries);
        changed.notify_all();
    }
};

ProcessState& Process();
// The event thread record of the calling thread; null on any other thread.
EventThread* CurrentEventThread();

class ServiceObjectCore::Impl {
public:
    explicit Impl(const ServiceEnvironment& environment);
    ~Impl();

    // Life cycle.
    void OpenService(std::string_view deviceName, std::unique_ptr<ControlObject> control, int32_t* pRC);
    void ClaimDevice(int32_t* pRC);
    void ReleaseDevice(int32_t* pRC);
    void CloseService(int32_t* pRC);
    void CheckHealth(int32_t level, int32_t* pRC);
    bool setDeviceEnabled(bool enable);
    static void OnDeviceStatusChanged(int32_t state);
    bool GetClaimed(std::string_view name, ClaimAccess* access);  // with the mutex held

    // Card input and delivery.
    static void OnCardDataStateChanged(int32_t state);
    void ProcessCardData(const VorlexCardData& record, int32_t fetchResult);
    void ClearInput(int32_t* pRC);
    void ClearInputProperties(int32_t* pRC);
    static void FireEnqueuedDataEvents();
    static void FireEnqueuedEvents();
    static void Fire_DataEvent(int32_t status);
    static void Fire_ErrorEvent(int32_t resultCode, int32_t resultCodeExtended, int32_t errorLocus,
                                int32_t* pErrorResponse);
    static void Fire_DirectIOEvent(int32_t eventNumber, int32_t* pData, std::string* pString);
    bool RetrieveCardProperty(std::string_view name, std::string& value, int32_t* pRC);

    // Properties, commands, statistics.
    void GetPropertyNumber(int32_t propIndex, int32_t* pNumber);
    void SetPropertyNumber(int32_t propIndex, int32_t number);
    void GetPropertyString(int32_t propIndex, std::string& value);
    void SetPropertyString(int32_t propIndex);
    bool DirectIO(int32_t* pData, std::string& text, int32_t* pRC);
    bool RetrieveStatistics(std::string& buffer, int32_t* pRC);
    void Refuse(int32_t* pRC);  // an operation the device does not support

    // With the mutex held.
    void SetResult(int32_t* pRC, int32_t rc, int32_t rce);
    // Wipes every copy of a card that this instance holds, and those of the
    // process state unless another instance is the current one.
    void ForgetCards();
    void LoadXMLUPOSStatistics();

    // Diagnostic trace hooks (framework/TraceHooks.cpp). TraceCall takes the
    // mutex to read the result codes: call it without the mutex held.
    void TraceCall(const char* method, const int32_t* pRC, const char* format, ...)
#if defined(__MINGW_PRINTF_FORMAT)
        __attribute__((format(__MINGW_PRINTF_FORMAT, 4, 5)))
#elif defined(__GNUC__)
        __attribute__((format(printf, 4, 5)))
#endif
        ;
    static void TraceEvent(const char* name, const EventArgument* arguments, int count, bool frozen);  // mutex held
    void TraceCardRecord(const VorlexCardData& record, int32_t fetchResult);

    PropertyBlock props;
    Trace trace;

private:
    void ApplyEncryptionCapabilities(bool atOpen);
    void StartEventThread();
    void StopEventThread();
    static void EventThreadProc(EventThread* self);
    // With the mutex held: true on an event thread that was let go of, or
    // whose instance was, while it was calling out. It must then not touch
    // the instance again.
    static bool LetGo();
    static bool LetGoSinceCall();  // the same, taking the mutex

public:
    // Joins event threads that were let go of and have finished; true while
    // any event thread still runs.
    static bool ReapEventThreads();

private:
    static void Deliver(std::shared_ptr<ControlObject> control, const char* name,
                        const EventArgument* arguments, int count);
    static void Fire(FrozenEvent::Kind kind, const char* name, const EventArgument* arguments, int count);

    RegistryView& registry_;
    ClaimMemory& claims_;
    Clock& clock_;
    Text<256> openDeviceName_;
    AliasTable aliases_;
    StatisticsRecord statistics_;
};

}  // namespace norvik

// Owns: the service object instances, their life cycle and the current
//       instance (the one constructed last); this header is the module's face.
// Threads: application threads; inside, the reader's read thread and the
//       service object's event thread.
// Lock: the process lock, held for short sections inside, never across a call out.
//
// The OPOS logic of one MSR service object instance, free of COM: narrow
// texts (ANSI code page), plain numbers, and the control object behind the
// ControlObject seam. CNorvikMSRSOImpl converts at its dispatch boundary and
// forwards each of its 24 methods here.
//
// Lifecycle: constructed by the COM class, it becomes the process's current
// instance and registers the reader callbacks; destroying it clears the
// current instance and drops a control object it stored.
// Concurrency: every method may be called from the control object's thread
// while the reader's read thread and the service object's event thread run;
// shared state is guarded inside, and no lock is held while the control
// object is called.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace norvik {

class ControlObject;
class RegistryView;
class ClaimMemory;
class Clock;
class TracePlatform;
class DeviceArrival;

// The platform services one instance uses; every member must be set. The
// composition module fills in the platform's own (WithPlatformDefaults).
struct ServiceEnvironment {
    RegistryView* registry = nullptr;
    ClaimMemory* claims = nullptr;
    Clock* clock = nullptr;
    TracePlatform* trace = nullptr;  // files, time and reports of the diagnostic trace
    // Tells of new devices, so that a lost reader is looked for only then;
    // null (where the platform cannot tell) looks every readerPollMilliseconds.
    DeviceArrival* arrival = nullptr;
    uint32_t readerPollMilliseconds = 500;
};

class ServiceObjectCore {
public:
    explicit ServiceObjectCore(const ServiceEnvironment& environment = {});
    ~ServiceObjectCore();
    ServiceObjectCore(const ServiceObjectCore&) = delete;
    ServiceObjectCore& operator=(const ServiceObjectCore&) = delete;

    void COFreezeEvents(bool freeze, int32_t* pRC);
    void GetPropertyNumber(int32_t propIndex, int32_t* pNumber);
    void SetPropertyNumber(int32_t propIndex, int32_t number);
    void GetPropertyString(int32_t propIndex, std::string& value);
    void SetPropertyString(int32_t propIndex, std::string_view value);
    // Takes ownership of `control`; it is used for events until CloseService
    // or the destruction of this instance, or until another OpenService.
    void OpenService(std::string_view deviceClass, std::string_view deviceName,
                     std::unique_ptr<ControlObject> control, int32_t* pRC);
    void CheckHealth(int32_t level, int32_t* pRC);
    void ClaimDevice(int32_t timeout, int32_t* pRC);
    void CloseService(int32_t* pRC);
    // `text` is the command on entry and the reply on return. False when the
    // call returned early and left `pData`, `text` and `pRC` untouched.
    bool DirectIO(int32_t command, int32_t* pData, std::string& text, int32_t* pRC);
    void ReleaseDevice(int32_t* pRC);
    void ClearInput(int32_t* pRC);
    void ClearInputProperties(int32_t* pRC);
    void ResetStatistics(int32_t* pRC);
    // `buffer` is the request on entry; true when it was replaced by the document.
    bool RetrieveStatistics(std::string& buffer, int32_t* pRC);
    void UpdateStatistics(int32_t* pRC);
    void CompareFirmwareVersion(int32_t* pResult, int32_t* pRC);
    void UpdateFirmware(int32_t* pRC);
    void WriteTracks(int32_t* pRC);
    void AuthenticateDevice(int32_t* pRC);
    void DeauthenticateDevice(int32_t* pRC);
    // True when `value` was set (a known name while claimed).
    bool RetrieveCardProperty(std::string_view name, std::string& value, int32_t* pRC);
    void RetrieveDeviceAuthenticationData(int32_t* pRC);
    void UpdateKey(int32_t* pRC);

    // True while an event thread of the service object still runs in this
    // process, also one that an instance let go of while it was calling the
    // control object: the code it runs must stay loaded.
    static bool EventThreadsRunning();
    // True while the release of a claim that the claim table's lock held up
    // is still being retried in the background: its code must stay loaded.
    static bool ClaimReleasesPending();

    class Impl;  // internal

private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace norvik

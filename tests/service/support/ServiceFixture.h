// The fixture of the service object tests: a fresh simulated bus, an
// in-memory registry with the two device keys and a few aliases, an empty
// claim table, the fake clock, and helpers to open, claim, enable and swipe.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "VorlexSimulator.h"
#include "composition/DefaultEnvironment.h"
#include "instance/ServiceObjectCore.h"
#include "platform/memory/InMemoryClaimMemory.h"
#include "platform/memory/InMemoryRegistryView.h"
#include "support/FakeControl.h"
#include "common/OposProperties.h"
#include "logic/PropertyBlock.h"

namespace norvik::test {

inline const std::string kMsrKey = "SOFTWARE\\OLEforRetail\\ServiceOPOS\\MSR";
inline const std::string kDevice1 = "Norvik_MSR-1";  // reader kind 0
inline const std::string kDevice2 = "Norvik_MSR-2";  // reader kind 1
inline const std::string kBasicModel = "Norvik basic swipe reader";
inline const std::string kSecureModel = "Norvik secure swipe reader";

// A bank card as a plain reader delivers it.
inline constexpr const char kTrack1[] = "%B4111111111111111^DOE/JOHN Q^2512101123456789?";
inline constexpr const char kTrack2[] = ";4111111111111111=25121011234567890?";

class ServiceTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // A new instance with the fixture's registry, claim table and clock; it
    // becomes the process's current instance. The fixture owns it.
    ServiceObjectCore& NewInstance(Clock* clock = nullptr);
    void Destroy(ServiceObjectCore& instance);

    // OpenService with a recording control object reporting to `recorder`
    // (the fixture's `events` when null). Returns the result code.
    int32_t Open(ServiceObjectCore& instance, const std::string& name,
                 std::shared_ptr<EventRecorder> recorder = nullptr);
    // A new instance opened on `name` and claimed.
    ServiceObjectCore& Claimed(const std::string& name = kDevice1);
    // The same, enabled with the reader of the device's kind attached, and
    // DataEventEnabled set when `dataEvents`.
    ServiceObjectCore& Enabled(const std::string& name = kDevice1, bool dataEvents = true);

public:
    static void AttachBasic();
    static void AttachSecure();
    // One swipe through the simulated reader; false when no reader took it.
    static bool Swipe(const char* track1, const char* track2, const char* track3 = "", int status1 = 0,
                      int status2 = 0, int status3 = 0);
    // A clean card whose track 2 carries `number`, so that every swipe differs.
    static std::string NumberedTrack2(int number);

    static int32_t Get(ServiceObjectCore& instance, int32_t index);
    static std::string Text(ServiceObjectCore& instance, int32_t index);
    // Writes a number property; returns the ResultCode it left.
    static int32_t Set(ServiceObjectCore& instance, int32_t index, int32_t value);
    // Polls `condition` until it holds; false after `timeout`.
    static bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout = kWait);

protected:
    std::vector<std::string> ClaimSlots();

    InMemoryRegistryView registry;
    InMemoryClaimMemory claims;
    FakeClock clock;
    TracePlatform* tracePlatform = nullptr;  // the platform's own when null
    ClaimMemory* claimMemory = nullptr;      // `claims` when null
    std::shared_ptr<EventRecorder> events = std::make_shared<EventRecorder>();

private:
    std::vector<std::unique_ptr<ServiceObjectCore>> instances_;
};

}  // namespace norvik::test

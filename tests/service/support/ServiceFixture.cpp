#include "support/ServiceFixture.h"

#include <algorithm>
#include <cstring>
#include <cstdio>
#include <thread>

namespace norvik::test {

void ServiceTest::SetUp() {
    VorlexCloseDevice();
    VorlexSimEnable(1);
    VorlexSimReset();
    claims.Reset();
    registry.Clear();
    const std::string device1 = kMsrKey + "\\" + kDevice1;
    const std::string device2 = kMsrKey + "\\" + kDevice2;
    registry.SetString(device1, "", "NorvikMSR.SO");
    registry.SetDword(device1, "DeviceType", 0);
    registry.SetString(device1, "DeviceDesc", "Norvik USB swipe reader");
    registry.SetString(device1, "DeviceName", kBasicModel);
    registry.SetString(device1, "Port", "USB");
    registry.SetString(device2, "", "NorvikMSR.SO");
    registry.SetDword(device2, "DeviceType", 1);
    registry.SetString(device2, "DeviceDesc", "Norvik USB encrypting swipe reader");
    registry.SetString(device2, "DeviceName", kSecureModel);
    registry.SetString(device2, "Port", "USB");
    registry.SetString(kMsrKey, "FrontLane", kDevice1);
    registry.SetString(kMsrKey, "SecureLane", kDevice2);
}

void ServiceTest::TearDown() {
    int32_t rc = 0;
    for (auto& instance : instances_) instance->CloseService(&rc);
    while (!instances_.empty()) instances_.pop_back();  // newest first
    // Event threads let go of inside a call end on their own; join them.
    EXPECT_TRUE(WaitUntil([] { return !ServiceObjectCore::EventThreadsRunning(); }));
    // Releases retried in the background use this fixture's table and clock.
    EXPECT_TRUE(WaitUntil([] { return !ServiceObjectCore::ClaimReleasesPending(); }));
    VorlexCloseDevice();
    VorlexSimReset();
}

ServiceObjectCore& ServiceTest::NewInstance(Clock* customClock) {
    ServiceEnvironment environment;
    environment.registry = &registry;
    environment.claims = claimMemory ? claimMemory : &claims;
    environment.clock = customClock ? customClock : &clock;
    environment.trace = tracePlatform;
    environment.readerPollMilliseconds = 2;  // a lost reader is looked for without real waits
    instances_.push_back(std::make_unique<ServiceObjectCore>(WithPlatformDefaults(environment)));
    return *instances_.back();
}

void ServiceTest::Destroy(ServiceObjectCore& instance) {
    auto found = std::find_if(instances_.begin(), instances_.end(),
                              [&](const auto& owned) { return owned.get() == &instance; });
    ASSERT_NE(found, instances_.end());
    instances_.erase(found);
}

int32_t ServiceTest::Open(ServiceObjectCore& instance, const std::string& name,
                          std::shared_ptr<EventRecorder> recorder) {
    int32_t rc = -12345;
    instance.OpenService("MSR", name, std::make_unique<RecordingControl>(recorder ? recorder : events), &rc);
    return rc;
}

ServiceObjectCore& ServiceTest::Claimed(const std::string& name) {
    ServiceObjectCore& instance = NewInstance();
    EXPECT_EQ(Open(instance, name), 0);
    int32_t rc = -1;
    instance.ClaimDevice(0, &rc);
    EXPECT_EQ(rc, 0);
    return instance;
}

ServiceObjectCore& ServiceTest::Enabled(const std::string& name, bool dataEvents) {
    if (name == kDevice2) {
        AttachSecure();
    } else {
        AttachBasic();
    }
    ServiceObjectCore& instance = Claimed(name);
    EXPECT_EQ(Set(instance, PIDX_DeviceEnabled, 1), 0);
    EXPECT_EQ(Get(instance, PIDX_DeviceEnabled), 1);
    if (dataEvents) Set(instance, PIDX_DataEventEnabled, 1);
    return instance;
}

void ServiceTest::AttachBasic() { VorlexSimAttach(VORLEX_VENDOR_ID, VORLEX_PID_BASIC_SWIPE, 338, 64); }
void ServiceTest::AttachSecure() { VorlexSimAttach(VORLEX_VENDOR_ID, VORLEX_PID_SECURE_SWIPE, 887, 64); }

bool ServiceTest::Swipe(const char* track1, const char* track2, const char* track3, int status1, int status2,
                        int status3) {
    return VorlexSimSwipeTracks(track1, track2, track3, status1, status2, status3, 1) == 0;
}

std::string ServiceTest::NumberedTrack2(int number) {
    char track[40];
    std::snprintf(track, sizeof track, ";4111111111111111=2512101%05d?", number);
    return track;
}

int32_t ServiceTest::Get(ServiceObjectCore& instance, int32_t index) {
    int32_t value = -12345;
    instance.GetPropertyNumber(index, &value);
    return value;
}

std::string ServiceTest::Text(ServiceObjectCore& instance, int32_t index) {
    std::string value = "untouched";
    instance.GetPropertyString(index, value);
    return value;
}

int32_t ServiceTest::Set(ServiceObjectCore& instance, int32_t index, int32_t value) {
    instance.SetPropertyNumber(index, value);
    return Get(instance, PIDX_ResultCode);
}

bool ServiceTest::WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

std::vector<std::string> ServiceTest::ClaimSlots() {
    std::vector<std::string> slots;
    claims.Access([&](char (&table)[kClaimTableSize]) {
        for (size_t slot = 0; slot < kClaimSlotCount; ++slot) {
            slots.emplace_back(table + slot * kClaimSlotSize, ::strnlen(table + slot * kClaimSlotSize, kClaimSlotSize));
        }
    });
    return slots;
}

}  // namespace norvik::test

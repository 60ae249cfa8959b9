// A HID bus in memory: interfaces are attached in order, reports are handed
// to the open reader's pending read, feature requests are recorded and
// answered, and any platform call can be made to fail once.
//
// Concurrency: every member may be called from any thread. Swipe() blocks
// while the open reader's report queue is full, so no report is dropped.
// Ownership: devices handed out by Open() refer to the bus, which must
// outlive them.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/HidTransport.h"

namespace vorlex {

enum class SimFailPoint {
    InterfaceSet = 1,
    Open = 2,
    Attributes = 3,
    PreparsedData = 4,
    Caps = 5,
    SetFeature = 6,
    GetFeature = 7,
};

class SimulatedHidBus final : public HidBus {
public:
    SimulatedHidBus();
    ~SimulatedHidBus() override;

    void Reset();
    void Attach(uint16_t vendorId, uint16_t productId, uint16_t inputReportLength,
                uint16_t featureReportLength);
    // Unplugs the open reader; false when none is open.
    bool Detach();
    // Hands one report to the open reader; false when none is open.
    bool Swipe(const uint8_t* report, size_t length);
    // Product ID and input report length of the open reader; false when none is open.
    bool OpenReaderIdentity(uint16_t& productId, uint16_t& inputReportLength) const;
    void SetFeatureReply(const uint8_t* reply, size_t length);
    size_t LastFeatureRequest(uint8_t* buffer, size_t capacity) const;
    void FailNext(SimFailPoint point);

    bool BeginEnumeration() override;
    bool InterfacePath(size_t index, std::string& path) override;
    void EndEnumeration() override;
    std::unique_ptr<HidDevice> Open(const std::string& path) override;

private:
    class Device;
    struct Interface {
        uint32_t id;
        HidAttributes attributes;
        HidCaps caps;
    };

    bool ConsumeFailure(SimFailPoint point);  // with mutex_ held
    void Forget(Device* device);

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Interface> interfaces_;
    std::vector<std::string> snapshot_;
    std::vector<Device*> openDevices_;  // in order of opening; the last one receives swipes
    uint32_t nextId_ = 0;
    uint32_t pendingFailures_ = 0;  // one bit per fail point
    std::vector<uint8_t> featureReply_;
    std::vector<uint8_t> lastFeatureRequest_;
};

}  // namespace vorlex

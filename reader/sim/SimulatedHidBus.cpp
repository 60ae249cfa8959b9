#include "sim/SimulatedHidBus.h"

#include "common/SecureWipe.h"

#include <algorithm>
#include <cstring>

#include "core/CardDecoder.h"

namespace vorlex {
namespace {

constexpr size_t kQueueDepth = 32;  // reports waiting for the read thread
const char kPathPrefix[] = "\\\\?\\sim#hid#";

}  // namespace

class SimulatedHidBus::Device final : public HidDevice {
public:
    Device(SimulatedHidBus& bus, const Interface& interfaceInfo)
        : bus_(bus), info_(interfaceInfo) {}
    ~Device() override {
        bus_.Forget(this);
        norvik::SecureWipe(queue_, sizeof queue_);  // reports never read go with the device
    }

    bool GetAttributes(HidAttributes& attributes) override {
        std::lock_guard<std::mutex> lock(bus_.mutex_);
        if (bus_.ConsumeFailure(SimFailPoint::Attributes)) return false;
        attributes = info_.attributes;
        return true;
    }

    CapsResult GetCaps(HidCaps& caps) override {
        std::lock_guard<std::mutex> lock(bus_.mutex_);
        if (bus_.ConsumeFailure(SimFailPoint::PreparsedData)) return CapsResult::PreparsedDataFailed;
        if (bus_.ConsumeFailure(SimFailPoint::Caps)) return CapsResult::CapsFailed;
        caps = info_.caps;
        return CapsResult::Ok;
    }

    ReadStatus Read(uint8_t* buffer, size_t length, size_t& transferred) override {
        std::unique_lock<std::mutex> lock(bus_.mutex_);
        transferred = 0;
        bus_.changed_.wait(lock, [&] { return stopped_ || closed_ || unplugged_ || count_ > 0; });
        if (stopped_ || closed_) return ReadStatus::Stopped;
        if (unplugged_) return ReadStatus::DeviceNotConnected;
        Slot& slot = queue_[head_];
        transferred = std::min(slot.length, length);
        std::memcpy(buffer, slot.bytes, transferred);
        norvik::SecureWipe(slot.bytes, sizeof slot.bytes);  // a swiped card stays nowhere else
        head_ = (head_ + 1) % kQueueDepth;
        --count_;
        bus_.changed_.notify_all();
        return ReadStatus::Completed;
    }

    void Stop() override {
        std::lock_guard<std::mutex> lock(bus_.mutex_);
        stopped_ = true;
        bus_.changed_.notify_all();
    }

    void Close() override {
        std::lock_guard<std::mutex> lock(bus_.mutex_);
        closed_ = true;
        bus_.changed_.notify_all();
    }

    bool SetFeature(const uint8_t* report, size_t length) override {
        std::lock_guard<std::mutex> lock(bus_.mutex_);
        if (closed_ || unplugged_ || bus_.ConsumeFailure(SimFailPoint::SetFeature)) return false;
        bus_.lastFeatureRequest_.assign(report, report + length);
        return true;
    }

    bool GetFeature(uint8_t* report, size_t length) override {
        std::lock_guard<std::mutex> lock(bus_.mutex_);
        if (closed_ || unplugged_ || bus_.ConsumeFailure(SimFailPoint::GetFeature)) return false;
        std::memset(report, 0, length);
        std::memcpy(report, bus_.featureReply_.data(), std::min(length, bus_.featureReply_.size()));
        return true;
    }

    // With the bus mutex held.
    bool Accepting() const { return !closed_ && !stopped_ && !unplugged_; }
    bool Full() const { return count_ == kQueueDepth; }
    void Enqueue(const uint8_t* report, size_t length) {
        Slot& slot = queue_[(head_ + count_) % kQueueDepth];
        slot.length = std::min(length, sizeof slot.bytes);
        std::memcpy(slot.bytes, report, slot.length);
        ++count_;
    }
    void Unplug() {
        unplugged_ = true;
        count_ = 0;
        norvik::SecureWipe(queue_, sizeof queue_);
    }
    const Interface& Info() const { return info_; }

private:
    struct Slot {
        uint8_t bytes[kReportBufferSize];
        size_t length;
    };

    SimulatedHidBus& bus_;
    const Interface info_;
    Slot queue_[kQueueDepth] = {};
    size_t head_ = 0;
    size_t count_ = 0;
    bool stopped_ = false;
    bool closed_ = false;
    bool unplugged_ = false;
};

SimulatedHidBus::SimulatedHidBus() { Reset(); }

SimulatedHidBus::~SimulatedHidBus() = default;

void SimulatedHidBus::Reset() {
    std::lock_guard<std::mutex> lock(mutex_);
    interfaces_.clear();
    pendingFailures_ = 0;
    featureReply_.assign(3, 0);  // report ID, result, no data
    lastFeatureRequest_.clear();
}

void SimulatedHidBus::Attach(uint16_t vendorId, uint16_t productId, uint16_t inputReportLength,
                             uint16_t featureReportLength) {
    std::lock_guard<std::mutex> lock(mutex_);
    interfaces_.push_back(
        {nextId_++, {vendorId, productId}, {inputReportLength, featureReportLength}});
}

bool SimulatedHidBus::Detach() {
    std::lock_guard<std::mutex> lock(mutex_);
    auto open = std::find_if(openDevices_.rbegin(), openDevices_.rend(),
                             [](Device* d) { return d->Accepting(); });
    if (open == openDevices_.rend()) return false;
    Device* device = *open;
    device->Unplug();
    const uint32_t id = device->Info().id;
    interfaces_.erase(std::remove_if(interfaces_.begin(), interfaces_.end(),
                                     [id](const Interface& i) { return i.id == id; }),
                      interfaces_.end());
    changed_.notify_all();
    return true;
}

bool SimulatedHidBus::Swipe(const uint8_t* report, size_t length) {
    if (report == nullptr && length > 0) return false;
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        auto open = std::find_if(openDevices_.rbegin(), openDevices_.rend(),
                                 [](Device* d) { return d->Accepting(); });
        if (open == openDevices_.rend()) return false;
        if (!(*open)->Full()) {
            (*open)->Enqueue(report, length);
            changed_.notify_all();
            return true;
        }
        changed_.wait(lock);  // the reader drains its queue, or goes away
    }
}

bool SimulatedHidBus::OpenReaderIdentity(uint16_t& productId, uint16_t& inputReportLength) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto open = std::find_if(openDevices_.rbegin(), openDevices_.rend(),
                             [](Device* d) { return d->Accepting(); });
    if (open == openDevices_.rend()) return false;
    productId = (*open)->Info().attributes.productId;
    inputReportLength = (*open)->Info().caps.inputReportByteLength;
    return true;
}

void SimulatedHidBus::SetFeatureReply(const uint8_t* reply, size_t length) {
    std::lock_guard<std::mutex> lock(mutex_);
    featureReply_.assign(reply, reply + length);
}

size_t SimulatedHidBus::LastFeatureRequest(uint8_t* buffer, size_t capacity) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const size_t n = std::min(capacity, lastFeatureRequest_.size());
    if (n > 0) std::memcpy(buffer, lastFeatureRequest_.data(), n);
    return lastFeatureRequest_.size();
}

void SimulatedHidBus::FailNext(SimFailPoint point) {
    std::lock_guard<std::mutex> lock(mutex_);
    pendingFailures_ |= 1u << static_cast<int>(point);
}

bool SimulatedHidBus::ConsumeFailure(SimFailPoint point) {
    const uint32_t bit = 1u << static_cast<int>(point);
    if ((pendingFailures_ & bit) == 0) return false;
    pendingFailures_ &= ~bit;
    return true;
}

bool SimulatedHidBus::BeginEnumeration() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (ConsumeFailure(SimFailPoint::InterfaceSet)) return false;
    snapshot_.clear();
    for (const Interface& i : interfaces_) snapshot_.push_back(kPathPrefix + std::to_string(i.id));
    return true;
}

bool SimulatedHidBus::InterfacePath(size_t index, std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (index >= snapshot_.size()) return false;
    path = snapshot_[index];
    return true;
}

void SimulatedHidBus::EndEnumeration() {
    std::lock_guard<std::mutex> lock(mutex_);
    snapshot_.clear();
}

std::unique_ptr<HidDevice> SimulatedHidBus::Open(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (ConsumeFailure(SimFailPoint::Open)) return nullptr;
    if (path.rfind(kPathPrefix, 0) != 0) return nullptr;
    const std::string id = path.substr(sizeof kPathPrefix - 1);
    for (const Interface& i : interfaces_) {
        if (std::to_string(i.id) == id) {
            auto device = std::make_unique<Device>(*this, i);
            openDevices_.push_back(device.get());
            return device;
        }
    }
    return nullptr;  // unplugged since the enumeration
}

void SimulatedHidBus::Forget(Device* device) {
    std::lock_guard<std::mutex> lock(mutex_);
    openDevices_.erase(std::remove(openDevices_.begin(), openDevices_.end(), device),
                       openDevices_.end());
    changed_.notify_all();
}

}  // namespace vorlex

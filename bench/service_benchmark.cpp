// The service object's card path: a simulated report through the reader
// library, the service object's verdict and queue, to SOData on the control
// object, with a handler that re-arms data events as applications do.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>
#include <vector>

#include "AllocationCounter.h"
#include "LatencyReport.h"
#include "Vorlex.h"
#include "VorlexSimulator.h"
#include "seams/ControlObject.h"
#include "seams/Clock.h"
#include "composition/DefaultEnvironment.h"
#include "instance/ServiceObjectCore.h"
#include "platform/memory/InMemoryClaimMemory.h"
#include "platform/memory/InMemoryRegistryView.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int32_t PIDX_DataEventEnabled = 2;
constexpr int32_t PIDX_DeviceEnabled = 3;

class StampingControl final : public norvik::ControlObject {
public:
    explicit StampingControl(norvik::ServiceObjectCore*& service) : service_(service) {}
    bool Call(const char* method, const norvik::EventArgument*, int) override {
        if (method[2] == 'D' && method[3] == 'a') {  // "SOData"
            arrivedAt.store(Clock::now().time_since_epoch().count(), std::memory_order_relaxed);
            service_->SetPropertyNumber(PIDX_DataEventEnabled, 1);
            arrivals.fetch_add(1, std::memory_order_release);
        }
        return true;
    }
    std::atomic<int64_t> arrivals{0};
    std::atomic<Clock::rep> arrivedAt{0};

private:
    norvik::ServiceObjectCore*& service_;
};

class NoSleepClock final : public norvik::Clock {
public:
    void SleepMilliseconds(uint32_t) override {}
    norvik::LocalDate Today() override { return {2026, 12, 8}; }
};

// range(0): the trace level of the device key (0 off; 3 everything, into a
// file under the temporary folder).
void SwipeToDataEvent(benchmark::State& state) {
    const int traceLevel = static_cast<int>(state.range(0));
    norvik::InMemoryRegistryView registry;
    const std::string key = "SOFTWARE\\OLEforRetail\\ServiceOPOS\\MSR\\Norvik_MSR-1";
    registry.CreateKey(key);
    registry.SetDword(key, "DeviceType", 0);
    registry.SetString(key, "DeviceName", "Norvik basic swipe reader");
    const std::string traceFile = (std::filesystem::temp_directory_path() / "norvik-bench-trace.log").string();
    registry.SetDword(key, "TraceLevel", static_cast<uint32_t>(traceLevel));
    registry.SetString(key, "TraceFile", traceFile);
    norvik::InMemoryClaimMemory claims;
    NoSleepClock clock;
    VorlexSimEnable(1);
    VorlexSimReset();
    VorlexSimAttach(VORLEX_VENDOR_ID, VORLEX_PID_BASIC_SWIPE, 338, 64);

    norvik::ServiceObjectCore* servicePointer = nullptr;
    auto control = std::make_unique<StampingControl>(servicePointer);
    StampingControl& events = *control;
    norvik::ServiceObjectCore service(norvik::WithPlatformDefaults({&registry, &claims, &clock}));
    servicePointer = &service;
    int32_t rc = -1;
    service.OpenService("MSR", "Norvik_MSR-1", std::move(control), &rc);
    service.ClaimDevice(1000, &rc);
    service.SetPropertyNumber(PIDX_DeviceEnabled, 1);
    service.SetPropertyNumber(PIDX_DataEventEnabled, 1);
    if (rc != 0) {
        state.SkipWithError("service object did not open");
        return;
    }

    bench::LatencyReport latencies;
    for (auto _ : state) {
        const int64_t before = events.arrivals.load(std::memory_order_acquire);
        const uint64_t allocationsBefore = bench::AllocationCount();
        const auto sent = Clock::now();
        VorlexSimSwipeTracks("%B4111111111111111^DOE/JOHN^2512101?", ";4111111111111111=2512101?", "",
                             0, 0, 0, 0);
        while (events.arrivals.load(std::memory_order_acquire) == before) std::this_thread::yield();
        const Clock::time_point arrived{Clock::duration{events.arrivedAt.load(std::memory_order_relaxed)}};
        latencies.Add(arrived - sent, bench::AllocationCount() - allocationsBefore);
    }
    service.CloseService(&rc);
    latencies.Publish(state);
    std::filesystem::remove(traceFile);
    std::filesystem::remove(traceFile + ".1");
    if (traceLevel == 0 && state.counters["allocs_per_swipe"] != 0) {
        state.SkipWithError("the card path allocated on the heap with the trace off");
    }
}
BENCHMARK(SwipeToDataEvent)->ArgName("trace")->Arg(0)->Arg(3)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();

// The reader library's card path: decoding one report, and a whole swipe
// from the simulated bus to the card-data callback on the read thread.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "AllocationCounter.h"
#include "LatencyReport.h"
#include "core/CardDecoder.h"
#include "core/ReaderLibrary.h"
#include "sim/SimulatedHidBus.h"
#include "sim/SwipeReportBuilder.h"

namespace {

using Clock = std::chrono::steady_clock;

std::vector<uint8_t> BankCardReport(uint16_t productId, size_t length) {
    vorlex::SwipeTracks tracks;
    tracks.track[0] = "%B4111111111111111^DOE/JOHN Q^2512101123456789?";
    tracks.track[1] = ";4111111111111111=25121011234567890?";
    std::vector<uint8_t> report(vorlex::kReportBufferSize);
    vorlex::BuildSwipeReport(vorlex::FindReaderModel(productId)->switches, tracks, length,
                             report.data(), report.size());
    return report;
}

void Decode(benchmark::State& state, uint16_t productId) {
    const auto report = BankCardReport(productId, 887);
    const auto& model = vorlex::FindReaderModel(productId)->switches;
    vorlex::CardDataStore store;
    for (auto _ : state) {
        vorlex::GetMSRResults(store, report.data(), model);
        vorlex::UpdateData(store, model);
        benchmark::DoNotOptimize(store.ParsedAccountNumber.c_str());
    }
}
BENCHMARK_CAPTURE(Decode, basic_reader, VORLEX_PID_BASIC_SWIPE);
BENCHMARK_CAPTURE(Decode, secure_reader, VORLEX_PID_SECURE_SWIPE);

// The callback stamps its arrival; the benchmark thread waits for it.
std::atomic<int64_t> arrivals{0};
std::atomic<Clock::rep> arrivedAt{0};
int32_t VORLEX_CALL OnCardData(int32_t state) {
    if (state == 1) {
        arrivedAt.store(Clock::now().time_since_epoch().count(), std::memory_order_relaxed);
        arrivals.fetch_add(1, std::memory_order_release);
    }
    return 0;
}

void SwipeToCallback(benchmark::State& state) {
    vorlex::SimulatedHidBus bus;
    vorlex::ReaderLibrary library;
    library.SetBus(&bus);
    library.SetCardDataCallback(&OnCardData);
    bus.Attach(VORLEX_VENDOR_ID, VORLEX_PID_SECURE_SWIPE, 887, 64);
    if (library.OpenDevice() != VORLEX_OK) {
        state.SkipWithError("no simulated reader");
        return;
    }
    const auto report = BankCardReport(VORLEX_PID_SECURE_SWIPE, 887);
    bench::LatencyReport latencies;
    for (auto _ : state) {
        const int64_t before = arrivals.load(std::memory_order_acquire);
        const uint64_t allocationsBefore = bench::AllocationCount();
        const auto sent = Clock::now();
        bus.Swipe(report.data(), 887);
        while (arrivals.load(std::memory_order_acquire) == before) std::this_thread::yield();
        const Clock::time_point arrived{Clock::duration{arrivedAt.load(std::memory_order_relaxed)}};
        latencies.Add(arrived - sent, bench::AllocationCount() - allocationsBefore);
    }
    library.CloseDevice();
    latencies.Publish(state);
}
BENCHMARK(SwipeToCallback)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();

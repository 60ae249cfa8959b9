// Latency samples of a card-path benchmark and the allocations seen while
// taking them, reported as Google Benchmark counters.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <vector>

namespace bench {

class LatencyReport {
public:
    LatencyReport() { samplesUs_.reserve(1 << 20); }

    void Add(std::chrono::steady_clock::duration latency, uint64_t allocations) {
        samplesUs_.push_back(std::chrono::duration<double, std::micro>(latency).count());
        allocations_ += allocations;
    }

    // Median and 99th percentile in microseconds, and heap allocations per sample.
    void Publish(benchmark::State& state) {
        std::sort(samplesUs_.begin(), samplesUs_.end());
        if (!samplesUs_.empty()) {
            state.counters["median_us"] = samplesUs_[samplesUs_.size() / 2];
            state.counters["p99_us"] = samplesUs_[samplesUs_.size() * 99 / 100];
        }
        state.counters["allocs_per_swipe"] =
            static_cast<double>(allocations_) / static_cast<double>(std::max<size_t>(samplesUs_.size(), 1));
    }

private:
    std::vector<double> samplesUs_;
    uint64_t allocations_ = 0;
};

}  // namespace bench

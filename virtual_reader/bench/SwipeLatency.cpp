// Benchmark (not a test): swipe to card-data callback through Vorlex.dll over
// the virtual reader (the system's HID stack), against a bare client of the
// same HID interface as the floor, in the same process and run, in
// alternating blocks; then both idle for 10 s with the reader open; then the
// library over the simulated bus. Prints median, p90 and p99, their ratio,
// the process's CPU time per swipe, the server calls per swipe and the
// wake-ups while idle. Run it from bin/, beside Vorlex.dll and virtual-reader\.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "SampleSwipe.h"
#include "ServerCallCounter.h"
#include "ProcessCpu.h"
#include "VirtualReaderClient.h"
#include "Vorlex.h"
#include "VorlexSimulator.h"

namespace {

namespace vr = vorlex::virtual_reader;

constexpr int kBlocks = 10;           // per client
constexpr int kSwipesPerBlock = 100;
constexpr int kWarmUpPerBlock = 5;    // after each open, not measured
constexpr int kSimulatedSwipes = 500;
constexpr DWORD kIdleMilliseconds = 10000;

HANDLE g_delivered = nullptr;
std::atomic<uint64_t> g_bareWaitReturns{0};  // of every bare client
LARGE_INTEGER g_deliveredAt{};

void Delivered() {
    ::QueryPerformanceCounter(&g_deliveredAt);
    ::SetEvent(g_delivered);
}

int32_t VORLEX_CALL OnCardData(int32_t state) {
    if (state == VORLEX_CARD_DATA_NEW) Delivered();
    return 0;
}

// The floor: what any client of the interface needs. One ReadFileEx in
// flight, its completion routine handles the report and issues the next
// read, and the thread waits alertably with no timeout.
class BareClient {
public:
    bool Open(const std::string& path, DWORD reportLength) {
        file_ = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
        if (file_ == INVALID_HANDLE_VALUE) return false;
        buffer_.assign(reportLength, 0);
        stop_ = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
        thread_ = std::thread([this] { Run(); });
        return true;
    }
    void Close() {
        ::SetEvent(stop_);
        thread_.join();
        ::CloseHandle(file_);
        ::CloseHandle(stop_);
    }
    uint64_t Wakeups() const { return wakeups_; }

private:
    void Run() {
        if (!Issue()) return;
        while (::WaitForSingleObjectEx(stop_, INFINITE, TRUE) == WAIT_IO_COMPLETION) {
            ++wakeups_;
            ++g_bareWaitReturns;
        }
        ::CancelIoEx(file_, &request_.overlapped);
        while (pending_) ::SleepEx(INFINITE, TRUE);
    }
    bool Issue() {
        request_.overlapped = OVERLAPPED{};
        pending_ = ::ReadFileEx(file_, buffer_.data(), static_cast<DWORD>(buffer_.size()), &request_.overlapped,
                                &Completed);
        return pending_;
    }
    static VOID CALLBACK Completed(DWORD error, DWORD, LPOVERLAPPED overlapped) {
        BareClient* self = reinterpret_cast<Request*>(overlapped)->self;
        self->pending_ = false;
        if (error != ERROR_SUCCESS) return;
        Delivered();
        self->Issue();
    }

    struct Request {
        OVERLAPPED overlapped{};  // first: the completion routine gets only its address
        BareClient* self;
    } request_{{}, this};
    HANDLE file_ = INVALID_HANDLE_VALUE;
    HANDLE stop_ = nullptr;
    std::vector<uint8_t> buffer_;
    std::thread thread_;
    bool pending_ = false;
    std::atomic<uint64_t> wakeups_{0};
};

double Microseconds(LONGLONG ticks) {
    static const double frequency = [] {
        LARGE_INTEGER f;
        ::QueryPerformanceFrequency(&f);
        return double(f.QuadPart);
    }();
    return double(ticks) * 1e6 / frequency;
}


// What taking the figure itself costs, measured back to back.
double CpuReadingCost() {
    double cost = 1e300;
    for (int i = 0; i < 5; ++i) {
        const double first = ProcessCpuMicroseconds();
        cost = std::min(cost, ProcessCpuMicroseconds() - first);
    }
    return cost;
}
double g_cpuReadingCost = 0;

struct Series {
    std::vector<double> latencies;  // microseconds
    double cpu = 0;                 // microseconds over the measured swipes
    bench::ServerCalls calls;       // the library's, over the measured swipes
    uint64_t bareWaits = 0;         // the bare clients' wait returns, over the measured swipes
    double Percentile(int p) {
        std::sort(latencies.begin(), latencies.end());
        return latencies[std::min(latencies.size() - 1, latencies.size() * p / 100)];
    }
    double CpuPerSwipe() const { return cpu / double(latencies.size()); }
};

// Delivers `count` reports by `deliver`; adds their latencies unless warming up.
template <typename Deliver>
bool Swipes(int count, Deliver deliver, std::vector<double>* latencies) {
    for (int i = 0; i < count; ++i) {
        LARGE_INTEGER start;
        ::ResetEvent(g_delivered);
        ::QueryPerformanceCounter(&start);
        if (!deliver()) return false;
        if (::WaitForSingleObject(g_delivered, 5000) != WAIT_OBJECT_0) return false;
        if (latencies) latencies->push_back(Microseconds(g_deliveredAt.QuadPart - start.QuadPart));
    }
    return true;
}

template <typename Deliver>
bool MeasuredBlock(Deliver deliver, Series& series) {
    if (!Swipes(kWarmUpPerBlock, deliver, nullptr)) return false;
    const bench::ServerCalls callsBefore = bench::ServerCallsOf(0);
    const uint64_t bareBefore = g_bareWaitReturns;
    const double cpuBefore = ProcessCpuMicroseconds();
    if (!Swipes(kSwipesPerBlock, deliver, &series.latencies)) return false;
    series.bareWaits += g_bareWaitReturns - bareBefore;
    series.cpu += ProcessCpuMicroseconds() - cpuBefore - g_cpuReadingCost;
    const bench::ServerCalls calls = bench::ServerCallsOf(0) - callsBefore;
    series.calls.waits += calls.waits;
    series.calls.ioCompletions += calls.ioCompletions;
    series.calls.timeouts += calls.timeouts;
    series.calls.signals += calls.signals;
    series.calls.io += calls.io;
    return true;
}

void PrintSeries(const char* name, Series& series) {
    std::printf("  %-26s median %7.1f us  p90 %7.1f us  p99 %8.1f us  CPU %6.1f us/swipe\n", name,
                series.Percentile(50), series.Percentile(90), series.Percentile(99), series.CpuPerSwipe());
}

}  // namespace

int main() {
    g_delivered = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (g_delivered == nullptr || vr::RunControlTool("install") != 0) {
        std::fprintf(stderr, "SwipeLatency: the virtual reader is not installed\n");
        return 1;
    }
    if (!bench::CountServerCalls(::GetModuleHandleA("Vorlex.dll"))) {
        std::fprintf(stderr, "SwipeLatency: cannot count Vorlex.dll's server calls\n");
        return 1;
    }
    const vr::PluggableModel* model = vr::FindPluggableModel("basic-swipe");
    const std::vector<uint8_t> report = bench::SampleSwipeReport(*model);
    VorlexCardDataStateChangedNotify(&OnCardData);

    vr::ControlDevice control;
    VR_DEVICE_INFO device{};
    const VR_PLUG_REQUEST request{VORLEX_VENDOR_ID, model->productId, model->inputReportLength,
                                  model->featureReportLength};
    if (control.Open() != vr::Outcome::Ok || control.Unplug(VR_ALL_DEVICES) != vr::Outcome::Ok ||
        control.Plug(request, device) != vr::Outcome::Ok || !vr::WaitForInterface(device, true, 10000)) {
        std::fprintf(stderr, "SwipeLatency: cannot plug a virtual reader\n");
        return 1;
    }
    const std::string path = vr::InterfacePathOf(device);
    const auto inject = [&] { return control.InjectInput(device.serial, report) == vr::Outcome::Ok; };
    VorlexSimEnable(0);
    g_cpuReadingCost = CpuReadingCost();

    // Alternating blocks: whatever the machine does meanwhile hits both alike.
    // Only one client has the interface open at a time.
    Series library, bare;
    bool ok = true;
    for (int block = 0; ok && block < 2 * kBlocks; ++block) {
        if (block % 2 == 0) {
            ok = VorlexOpenDevice("") == 0 && MeasuredBlock(inject, library);
            VorlexCloseDevice();
        } else {
            BareClient client;
            ok = client.Open(path, model->inputReportLength) && MeasuredBlock(inject, bare);
            client.Close();
        }
    }
    if (!ok) {
        std::fprintf(stderr, "SwipeLatency: a swipe over the virtual reader was not delivered\n");
        return 1;
    }

    // Idle: the reader open, no swipe.
    double libraryIdleCpu = 0, bareIdleCpu = 0;
    bench::ServerCalls libraryIdle;
    uint64_t bareIdleWakeups = 0;
    if (VorlexOpenDevice("") == 0) {
        ::Sleep(200);  // past the opening
        const bench::ServerCalls before = bench::ServerCallsOf(0);
        const double cpuBefore = ProcessCpuMicroseconds();
        ::Sleep(kIdleMilliseconds);
        libraryIdleCpu = ProcessCpuMicroseconds() - cpuBefore;
        libraryIdle = bench::ServerCallsOf(0) - before;
    }
    VorlexCloseDevice();
    {
        BareClient client;
        if (client.Open(path, model->inputReportLength)) {
            ::Sleep(200);
            const uint64_t before = client.Wakeups();
            const double cpuBefore = ProcessCpuMicroseconds();
            ::Sleep(kIdleMilliseconds);
            bareIdleCpu = ProcessCpuMicroseconds() - cpuBefore;
            bareIdleWakeups = client.Wakeups() - before;
            client.Close();
        }
    }
    control.Unplug(VR_ALL_DEVICES);

    // Simulated bus, same report: the library's own share.
    Series simulated;
    VorlexSimEnable(1);
    VorlexSimReset();
    VorlexSimAttach(VORLEX_VENDOR_ID, model->productId, model->inputReportLength, model->featureReportLength);
    ok = VorlexOpenDevice("") == 0 &&
         MeasuredBlock([&] { return VorlexSimSwipe(report.data(), static_cast<int>(report.size())) == 0; },
                       simulated) &&
         Swipes(kSimulatedSwipes - kSwipesPerBlock, [&] {
             return VorlexSimSwipe(report.data(), static_cast<int>(report.size())) == 0;
         }, &simulated.latencies);
    VorlexCloseDevice();
    if (!ok) {
        std::fprintf(stderr, "SwipeLatency: a swipe over the simulated bus was not delivered\n");
        return 1;
    }

    const double n = double(library.latencies.size());
    std::printf("swipe to card-data callback over the virtual reader, %d-byte report, %d blocks of %d swipes each,\n"
                "alternating (each block after %d unmeasured swipes)\n",
                static_cast<int>(report.size()), kBlocks, kSwipesPerBlock, kWarmUpPerBlock);
    PrintSeries("Vorlex.dll", library);
    PrintSeries("bare ReadFileEx client", bare);
    std::printf("  ratio library/bare         median %7.3f   p90 %7.3f   p99 %7.3f   CPU %6.3f\n",
                library.Percentile(50) / bare.Percentile(50), library.Percentile(90) / bare.Percentile(90),
                library.Percentile(99) / bare.Percentile(99), library.CpuPerSwipe() / bare.CpuPerSwipe());
    std::printf("  Vorlex.dll server calls per swipe: %.2f waits (%.2f for completions), %.2f signals, %.2f I/O\n",
                double(library.calls.waits) / n, double(library.calls.ioCompletions) / n,
                double(library.calls.signals) / n, double(library.calls.io) / n);
    std::printf("  bare client per swipe:             %.2f waits (all for completions), 1 I/O\n",
                double(bare.bareWaits) / double(bare.latencies.size()));
    std::printf("idle %lu s, reader open, no swipe\n", kIdleMilliseconds / 1000);
    std::printf("  Vorlex.dll: %llu wake-ups (%llu on timeouts), %llu server calls, process CPU %.1f ms\n",
                static_cast<unsigned long long>(libraryIdle.waits),
                static_cast<unsigned long long>(libraryIdle.timeouts),
                static_cast<unsigned long long>(libraryIdle.Total()), libraryIdleCpu / 1000);
    std::printf("  bare client: %llu wake-ups, process CPU %.1f ms\n",
                static_cast<unsigned long long>(bareIdleWakeups), bareIdleCpu / 1000);
    std::printf("CPU time: %s, less %.1f us for taking each figure\n",
                ::GetEnvironmentVariableA("NORVIK_UNIX_PID", nullptr, 0) > 0 ? "Linux scheduler run time of the process's threads"
                                                                             : "GetProcessTimes",
                g_cpuReadingCost);
    std::printf("simulated bus, %zu swipes\n", simulated.latencies.size());
    std::printf("  Vorlex.dll                 median %7.1f us  p90 %7.1f us  p99 %8.1f us\n",
                simulated.Percentile(50), simulated.Percentile(90), simulated.Percentile(99));
    return 0;
}

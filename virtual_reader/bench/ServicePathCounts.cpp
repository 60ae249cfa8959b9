// Benchmark (not a test): what the service object's card path costs in
// wake-ups and trips to the server. The service object's core (linked in)
// over Vorlex.dll, once over the simulated bus and once over the virtual
// reader: 10 s idle while enabled, then swipes, each taken up to SOData on a
// control object whose handler re-arms DataEventEnabled. Counts, per thread,
// the calls of this program and of Vorlex.dll to the blocking and signalling
// kernel32 functions. Run it from bin/, beside Vorlex.dll and virtual-reader\.
#include <windows.h>
// winsvc.h maps OpenService to OpenServiceA; here it is the service object's method.
#undef OpenService

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <memory>
#include <vector>

#include "SampleSwipe.h"
#include "ServerCallCounter.h"
#include "VirtualReaderClient.h"
#include "Vorlex.h"
#include "VorlexSimulator.h"
#include "seams/ControlObject.h"
#include "seams/Clock.h"
#include "composition/DefaultEnvironment.h"
#include "instance/ServiceObjectCore.h"
#include "platform/memory/InMemoryClaimMemory.h"
#include "platform/memory/InMemoryRegistryView.h"

namespace {

namespace vr = vorlex::virtual_reader;

constexpr int32_t PIDX_DataEventEnabled = 2;
constexpr int32_t PIDX_DeviceEnabled = 3;
constexpr int kSwipes = 200;
constexpr DWORD kIdleMilliseconds = 10000;

HANDLE g_arrived = nullptr;


class RearmingControl final : public norvik::ControlObject {
public:
    explicit RearmingControl(norvik::ServiceObjectCore*& service) : service_(service) {}
    bool Call(const char* method, const norvik::EventArgument*, int) override {
        if (std::string(method) == "SOData") {
            eventThread = ::GetCurrentThreadId();
            service_->SetPropertyNumber(PIDX_DataEventEnabled, 1);
            ::SetEvent(g_arrived);
        }
        return true;
    }
    std::atomic<DWORD> eventThread{0};

private:
    norvik::ServiceObjectCore*& service_;
};

class NoSleepClock final : public norvik::Clock {
public:
    void SleepMilliseconds(uint32_t) override {}
    norvik::LocalDate Today() override { return {2026, 12, 8}; }
};

// Every thread but the two named: the reader's read thread (and, over the
// simulated bus, nothing else of ours).
bench::ServerCalls OthersThan(DWORD a, DWORD b) {
    bench::ServerCalls all = bench::ServerCallsOf(0);
    const bench::ServerCalls first = bench::ServerCallsOf(a), second = bench::ServerCallsOf(b);
    return (all - first) - second;
}

void Print(const char* what, const bench::ServerCalls& calls, double per) {
    std::printf("    %-34s %6.2f waits (%5.2f timed out)  %6.2f signals  %5.2f I/O  = %6.2f\n", what,
                double(calls.waits) / per, double(calls.timeouts) / per, double(calls.signals) / per,
                double(calls.io) / per, double(calls.Total()) / per);
}

// Open, claim, enable, then idle and swipes through `swipe`.
template <typename Swipe>
bool Run(const char* name, Swipe swipe) {
    norvik::InMemoryRegistryView registry;
    const std::string key = "SOFTWARE\\OLEforRetail\\ServiceOPOS\\MSR\\Norvik_MSR-1";
    registry.CreateKey(key);
    registry.SetDword(key, "DeviceType", 0);
    norvik::InMemoryClaimMemory claims;
    NoSleepClock clock;
    norvik::ServiceObjectCore* servicePointer = nullptr;
    auto control = std::make_unique<RearmingControl>(servicePointer);
    RearmingControl& events = *control;
    norvik::ServiceObjectCore service(norvik::WithPlatformDefaults({&registry, &claims, &clock}));
    servicePointer = &service;
    int32_t rc = -1;
    service.OpenService("MSR", "Norvik_MSR-1", std::move(control), &rc);
    service.ClaimDevice(1000, &rc);
    service.SetPropertyNumber(PIDX_DeviceEnabled, 1);
    service.SetPropertyNumber(PIDX_DataEventEnabled, 1);
    int32_t enabled = 0;
    service.GetPropertyNumber(PIDX_DeviceEnabled, &enabled);
    if (rc != 0 || enabled != 1) {
        std::fprintf(stderr, "ServicePathCounts: %s: the service object did not enable\n", name);
        return false;
    }
    const DWORD self = ::GetCurrentThreadId();
    bench::ForgetServerCalls();  // the threads of an earlier run are gone
    // One swipe first, to learn the event thread.
    ::ResetEvent(g_arrived);
    if (!swipe() || ::WaitForSingleObject(g_arrived, 5000) != WAIT_OBJECT_0) {
        std::fprintf(stderr, "ServicePathCounts: %s: the first swipe did not reach SOData\n", name);
        return false;
    }
    const DWORD eventThread = events.eventThread;
    // The read thread: of the others, the one that made the most calls so far.
    const DWORD readThread = bench::BusiestThreadExcept(self, eventThread);
    ::Sleep(200);

    const bench::ServerCalls idleEvent = bench::ServerCallsOf(eventThread);
    const bench::ServerCalls idleOthers = OthersThan(self, eventThread);
    ::Sleep(kIdleMilliseconds);
    const bench::ServerCalls idleEventDone = bench::ServerCallsOf(eventThread) - idleEvent;
    const bench::ServerCalls idleOthersDone = OthersThan(self, eventThread) - idleOthers;

    uint64_t eventByFunction[bench::kServerCallFunctions];
    bench::ServerCallsByFunctionSnapshot(eventThread, eventByFunction);
    uint64_t readByFunction[bench::kServerCallFunctions];
    bench::ServerCallsByFunctionSnapshot(readThread, readByFunction);
    const bench::ServerCalls swipeEvent = bench::ServerCallsOf(eventThread);
    const bench::ServerCalls swipeOthers = OthersThan(self, eventThread);
    for (int i = 0; i < kSwipes; ++i) {
        ::ResetEvent(g_arrived);
        if (!swipe() || ::WaitForSingleObject(g_arrived, 5000) != WAIT_OBJECT_0) return false;
        // Each swipe from idle, as at a till: the path has settled before the next one.
        ::Sleep(2);
    }
    const bench::ServerCalls swipeEventDone = bench::ServerCallsOf(eventThread) - swipeEvent;
    const bench::ServerCalls swipeOthersDone = OthersThan(self, eventThread) - swipeOthers;
    service.CloseService(&rc);

    std::printf("%s\n  idle %lu s, enabled, no swipe\n", name, kIdleMilliseconds / 1000);
    Print("service object event thread", idleEventDone, 1);
    Print("reader read thread", idleOthersDone, 1);
    std::printf("  per swipe, from the reader's callback to SOData returning (%d swipes)\n", kSwipes);
    Print("service object event thread", swipeEventDone, kSwipes);
    Print("reader read thread (callback incl.)", swipeOthersDone, kSwipes);
    std::printf("    event thread by function: %s\n",
                bench::ServerCallsByFunction(eventThread, eventByFunction, kSwipes).c_str());
    std::printf("    read thread by function:  %s\n",
                bench::ServerCallsByFunction(readThread, readByFunction, kSwipes).c_str());
    return true;
}

}  // namespace

int main() {
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    g_arrived = ::CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (!bench::CountServerCalls(::GetModuleHandleA(nullptr)) ||
        !bench::CountServerCalls(::GetModuleHandleA("Vorlex.dll"))) {
        std::fprintf(stderr, "ServicePathCounts: cannot count the server calls\n");
        return 1;
    }
    const vr::PluggableModel* model = vr::FindPluggableModel("basic-swipe");
    const std::vector<uint8_t> report = bench::SampleSwipeReport(*model);

    VorlexSimEnable(1);
    VorlexSimReset();
    VorlexSimAttach(VORLEX_VENDOR_ID, model->productId, model->inputReportLength, model->featureReportLength);
    const bool simulatedOk = Run("simulated bus", [&] {
        return VorlexSimSwipe(report.data(), static_cast<int>(report.size())) == 0;
    });
    VorlexSimReset();
    VorlexSimEnable(0);

    vr::ControlDevice control;
    VR_DEVICE_INFO device{};
    const VR_PLUG_REQUEST request{VORLEX_VENDOR_ID, model->productId, model->inputReportLength,
                                  model->featureReportLength};
    if (vr::RunControlTool("install") != 0 || control.Open() != vr::Outcome::Ok ||
        control.Unplug(VR_ALL_DEVICES) != vr::Outcome::Ok || control.Plug(request, device) != vr::Outcome::Ok ||
        !vr::WaitForInterface(device, true, 10000)) {
        std::fprintf(stderr, "ServicePathCounts: cannot plug a virtual reader\n");
        return 1;
    }
    const bool virtualOk = Run("virtual reader", [&] {
        return control.InjectInput(device.serial, report) == vr::Outcome::Ok;
    });
    control.Unplug(VR_ALL_DEVICES);
    if (!simulatedOk || !virtualOk) {
        std::fprintf(stderr, "ServicePathCounts: a swipe did not reach SOData\n");
        return 1;
    }
    std::printf("(main thread excluded: it swipes, through VorlexSimSwipe or the control device, and waits;\n"
                " one SetEvent per swipe on the event thread is this program's SOData handler telling it)\n");
    return 0;
}

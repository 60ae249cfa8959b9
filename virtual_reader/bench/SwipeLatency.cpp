// Benchmark (not a test): swipe to card-data callback through Vorlex.dll,
// once over the virtual reader (the system's HID stack) and once over the
// simulated bus, in the same process and run. Prints median and 99th
// percentile of each. Run it from bin/, beside Vorlex.dll and virtual-reader\.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "Vorlex.h"
#include "VorlexSimulator.h"
#include "VirtualReaderClient.h"
#include "core/ModelTable.h"
#include "sim/SwipeReportBuilder.h"

namespace {

namespace vr = vorlex::virtual_reader;

constexpr int kSwipes = 500;
constexpr int kWarmUp = 20;

HANDLE g_delivered = nullptr;
LARGE_INTEGER g_deliveredAt{};

int32_t VORLEX_CALL OnCardData(int32_t state) {
    if (state == VORLEX_CARD_DATA_NEW) {
        ::QueryPerformanceCounter(&g_deliveredAt);
        ::SetEvent(g_delivered);
    }
    return 0;
}

struct Figures {
    double median;
    double p99;
};

// Times `kSwipes` deliveries of `report` by `deliver`, in microseconds.
template <typename Deliver>
bool Measure(Deliver deliver, Figures& figures) {
    LARGE_INTEGER frequency;
    ::QueryPerformanceFrequency(&frequency);
    std::vector<double> latencies;
    for (int i = 0; i < kWarmUp + kSwipes; ++i) {
        LARGE_INTEGER start;
        ::ResetEvent(g_delivered);
        ::QueryPerformanceCounter(&start);
        if (!deliver()) return false;
        if (::WaitForSingleObject(g_delivered, 5000) != WAIT_OBJECT_0) return false;
        if (i >= kWarmUp) {
            latencies.push_back(double(g_deliveredAt.QuadPart - start.QuadPart) * 1e6 / double(frequency.QuadPart));
        }
    }
    std::sort(latencies.begin(), latencies.end());
    figures.median = latencies[latencies.size() / 2];
    figures.p99 = latencies[latencies.size() * 99 / 100];
    return true;
}

}  // namespace

int main() {
    g_delivered = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (g_delivered == nullptr || vr::RunControlTool("install") != 0) {
        std::fprintf(stderr, "SwipeLatency: the virtual reader is not installed\n");
        return 1;
    }
    const vr::PluggableModel* model = vr::FindPluggableModel("basic-swipe");
    vorlex::SwipeTracks tracks;
    tracks.track[0] = "%B4111111111111111^DOE/JOHN Q^2512101123456789?";
    tracks.track[1] = ";4111111111111111=25121011234567890?";
    std::vector<uint8_t> report(model->inputReportLength);
    report.resize(vorlex::BuildSwipeReport(vorlex::FindReaderModel(model->productId)->switches, tracks,
                                           report.size(), report.data(), report.size()));
    VorlexCardDataStateChangedNotify(&OnCardData);

    // Virtual reader: the report goes in through the control device.
    vr::ControlDevice control;
    VR_DEVICE_INFO device{};
    const VR_PLUG_REQUEST request{VORLEX_VENDOR_ID, model->productId, model->inputReportLength,
                                  model->featureReportLength};
    Figures virtualFigures{};
    if (control.Open() != vr::Outcome::Ok || control.Unplug(VR_ALL_DEVICES) != vr::Outcome::Ok ||
        control.Plug(request, device) != vr::Outcome::Ok || !vr::WaitForInterface(device, true, 10000)) {
        std::fprintf(stderr, "SwipeLatency: cannot plug a virtual reader\n");
        return 1;
    }
    VorlexSimEnable(0);
    const bool virtualOk = VorlexOpenDevice("") == 0 &&
                           Measure([&] { return control.InjectInput(device.serial, report) == vr::Outcome::Ok; },
                                   virtualFigures);
    VorlexCloseDevice();
    control.Unplug(VR_ALL_DEVICES);

    // Simulated bus, same report.
    Figures simulatedFigures{};
    VorlexSimEnable(1);
    VorlexSimReset();
    VorlexSimAttach(VORLEX_VENDOR_ID, model->productId, model->inputReportLength, model->featureReportLength);
    const bool simulatedOk =
        VorlexOpenDevice("") == 0 &&
        Measure([&] { return VorlexSimSwipe(report.data(), static_cast<int>(report.size())) == 0; },
                simulatedFigures);
    VorlexCloseDevice();
    if (!virtualOk || !simulatedOk) {
        std::fprintf(stderr, "SwipeLatency: a swipe was not delivered\n");
        return 1;
    }
    std::printf("swipe to card-data callback, %d swipes of a %u-byte report\n", kSwipes,
                static_cast<unsigned>(report.size()));
    std::printf("  virtual reader (HID stack)  median %8.1f us   p99 %8.1f us\n", virtualFigures.median,
                virtualFigures.p99);
    std::printf("  simulated bus               median %8.1f us   p99 %8.1f us\n", simulatedFigures.median,
                simulatedFigures.p99);
    return 0;
}

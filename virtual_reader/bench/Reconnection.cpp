// Benchmark (not a test): power reporting over the virtual reader, through
// our control object and NorvikMSRSO.dll. Measures, over 20 cycles, the time
// from plugging the reader back in to StatusUpdateEvent 2001 (from then on a
// swipe is read), and the process's CPU time over 10 s while the service
// object waits for a missing reader. Run it from bin/, beside the DLLs and
// virtual-reader\, in a prefix where the virtual reader is installed, with
// NORVIK_UNIX_PID set as for VirtualReaderLatency (finer CPU times).
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "PosClient.h"
#include "ProcessCpu.h"
#include "Vorlex.h"
#include "VorlexSimulator.h"
#include "VirtualReaderClient.h"

namespace {

using norvik::pos::Event;
using norvik::pos::MsrControl;
namespace vr = vorlex::virtual_reader;

constexpr int kCycles = 20;
constexpr DWORD kIdleMilliseconds = 10000;
constexpr char kMsrKey[] = "SOFTWARE\\OLEforRetail\\ServiceOPOS\\MSR";
constexpr char kDevice[] = "Norvik_RC-1";

bool RegisterServer(const char* dll, const char* entry) {
    HMODULE module = ::LoadLibraryA(dll);
    if (module == nullptr) return false;
    auto function = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
        reinterpret_cast<void (*)()>(::GetProcAddress(module, entry)));
    const bool ok = function != nullptr && SUCCEEDED(function());
    ::FreeLibrary(module);
    return ok;
}

bool CreateDeviceKey() {
    HKEY key = nullptr;
    const std::string path = std::string(kMsrKey) + "\\" + kDevice;
    if (::RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
        ERROR_SUCCESS) {
        return false;
    }
    const char progId[] = "NorvikMSR.SO";
    const DWORD basicReader = 0, on = 1;
    ::RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(progId), sizeof progId);
    ::RegSetValueExA(key, "DeviceType", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&basicReader), sizeof basicReader);
    ::RegSetValueExA(key, "PowerReporting", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&on), sizeof on);
    ::RegCloseKey(key);
    return true;
}

double Milliseconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to) {
    LARGE_INTEGER frequency;
    ::QueryPerformanceFrequency(&frequency);
    return 1000.0 * static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

bool WaitForStatus(MsrControl& msr, long expected) {
    Event event;
    return msr.Events().WaitFor(DISPID_NORVIKMSR_STATUSUPDATEEVENT, event, 15000) && !event.numbers.empty() &&
           event.numbers[0] == expected;
}

}  // namespace

int main() {
    norvik::win32::CoInitializeScope com(COINIT_APARTMENTTHREADED);
    VorlexSimEnable(0);
    std::string error;
    vr::ControlDevice bus;
    if (vr::Install(error) != vr::Outcome::Ok || bus.Open() != vr::Outcome::Ok) {
        std::printf("the virtual reader is not installed: %s\n", error.c_str());
        return 1;
    }
    bus.Unplug(VR_ALL_DEVICES);
    if (!RegisterServer("NorvikMSRSO.dll", "DllRegisterServer") ||
        !RegisterServer("NorvikMSRControl.dll", "DllRegisterServer") || !CreateDeviceKey()) {
        std::printf("registration failed\n");
        return 1;
    }
    const vr::PluggableModel* model = vr::FindPluggableModel("basic-swipe");
    const VR_PLUG_REQUEST plug{VORLEX_VENDOR_ID, model->productId, model->inputReportLength,
                               model->featureReportLength};
    VR_DEVICE_INFO device{};
    MsrControl msr;
    if (FAILED(com.result()) || !msr.Create() || bus.Plug(plug, device) != vr::Outcome::Ok ||
        !vr::WaitForInterface(device, true, vr::kTimeoutMilliseconds) || msr.Open(kDevice) != 0 ||
        msr.Method(DISPID_NORVIKMSR_CLAIMDEVICE, {MsrControl::Long(1000)}) != 0) {
        std::printf("the session did not start\n");
        return 1;
    }
    msr.SetNumber(DISPID_NORVIKMSR_POWERNOTIFY, 1);
    msr.SetFlag(DISPID_NORVIKMSR_DEVICEENABLED, true);

    // The floor: the same wait with the reader there (nothing is watched for).
    double cpuBefore = ProcessCpuMicroseconds() / 1000.0;
    ::Sleep(kIdleMilliseconds);
    const double onlineCpu = ProcessCpuMicroseconds() / 1000.0 - cpuBefore;

    // Idle while waiting: the reader is gone, the service object looks for it.
    bus.Unplug(VR_ALL_DEVICES);
    if (!WaitForStatus(msr, 2004)) {
        std::printf("no StatusUpdateEvent 2004\n");
        return 1;
    }
    cpuBefore = ProcessCpuMicroseconds() / 1000.0;
    ::Sleep(kIdleMilliseconds);
    const double idleCpu = ProcessCpuMicroseconds() / 1000.0 - cpuBefore;

    std::vector<double> reconnect;
    for (int cycle = 0; cycle < kCycles; ++cycle) {
        LARGE_INTEGER plugged, online;
        ::QueryPerformanceCounter(&plugged);
        if (bus.Plug(plug, device) != vr::Outcome::Ok || !WaitForStatus(msr, 2001)) {
            std::printf("cycle %d: the reader did not come back\n", cycle);
            return 1;
        }
        ::QueryPerformanceCounter(&online);
        reconnect.push_back(Milliseconds(plugged, online));
        bus.Unplug(VR_ALL_DEVICES);
        if (!WaitForStatus(msr, 2004)) {
            std::printf("cycle %d: no StatusUpdateEvent 2004\n", cycle);
            return 1;
        }
    }
    msr.Method(DISPID_NORVIKMSR_CLOSE);
    std::sort(reconnect.begin(), reconnect.end());
    std::printf("plug to StatusUpdateEvent 2001, %d cycles: median %.0f ms, min %.0f ms, max %.0f ms\n", kCycles,
                reconnect[reconnect.size() / 2], reconnect.front(), reconnect.back());
    std::printf("process CPU time over %lu s: %.1f ms waiting for a missing reader, %.1f ms with the reader there\n",
                kIdleMilliseconds / 1000, idleCpu, onlineCpu);
    return 0;
}

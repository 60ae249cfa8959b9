// The user-mode side of the virtual reader: the models it can plug, the
// requests to its control device, where a plugged device's HID interface is,
// and installing or removing the drivers. Used by VirtualReader.exe and by
// the tests that drive the virtual reader directly.
#pragma once

#include <windows.h>
#include <winioctl.h>

#include <cstdint>
#include <string>
#include <vector>

#include "VirtualReaderProtocol.h"
#include "common/win32/UniqueResource.h"

namespace vorlex::virtual_reader {

struct PluggableModel {
    const char* name;
    uint16_t productId;  // 0: given on the command line (foreign)
    uint16_t inputReportLength;
    uint16_t featureReportLength;
};

// basic-swipe, secure-swipe, basic-insert, secure-insert, foreign; null when unknown.
const PluggableModel* FindPluggableModel(const std::string& name);
// The model name a device shows in `status`: ours by product ID, else "foreign".
const char* ModelNameOf(uint16_t vendorId, uint16_t productId);

// Why a request failed, as the command line reports it.
enum class Outcome { Ok, Failed, NotInstalled, NoSuchDevice, TimedOut };

class ControlDevice {
public:
    // Opens the control device; NotInstalled when the bus driver is not running.
    Outcome Open();
    Outcome Plug(const VR_PLUG_REQUEST& request, VR_DEVICE_INFO& device);
    Outcome Unplug(uint32_t serial);
    Outcome InjectInput(uint32_t serial, const std::vector<uint8_t>& report);
    Outcome SetFeatureReply(uint32_t serial, const std::vector<uint8_t>& reply);
    Outcome LastFeature(uint32_t serial, std::vector<uint8_t>& request);
    Outcome Status(std::vector<VR_DEVICE_INFO>& devices);
    // Sends any request as it is: for tests of the driver's refusals.
    // Returns the Win32 error (0 on success).
    DWORD Raw(DWORD code, const void* input, DWORD inputLength, void* output, DWORD outputLength,
              DWORD& returned);

private:
    Outcome Send(DWORD code, const void* input, DWORD inputLength, void* output, DWORD outputLength,
                 DWORD* returned = nullptr);
    norvik::win32::UniqueFile handle_;
};

// Device path of the HID interface of the plugged device `serial`, empty
// when it is not (or no longer) visible.
std::string InterfacePathOf(const VR_DEVICE_INFO& device);
// Waits, at most `milliseconds`, until the device's interface is visible (or gone).
bool WaitForInterface(const VR_DEVICE_INFO& device, bool visible, DWORD milliseconds);

// Installs the bus driver and its root device from the INF beside the tool
// and waits for the control device; does nothing when it already answers.
// `error` says why it failed.
Outcome Install(std::string& error);
// Unplugs everything, removes the devices, the services, the INF copy and the
// driver files. `error` names whatever could not be removed.
Outcome Uninstall(std::string& error);

constexpr DWORD kTimeoutMilliseconds = 10000;
// How long RunControlTool waits: the tool's own waits and its start.
constexpr DWORD kControlToolMilliseconds = 2 * kTimeoutMilliseconds + 10000;
// RunControlTool's answer when the tool did not end in time (it is ended);
// no exit code of the tool is negative.
constexpr int kControlToolTimedOut = -2;

// Runs the control tool VirtualReader.exe from the folder virtual-reader
// beside the calling program with `arguments`; returns its exit code, -1
// when it cannot be started, kControlToolTimedOut when it did not end within
// `milliseconds` (then it is ended). For programs that drive the virtual
// reader through its command line, as tests outside this repository do.
int RunControlTool(const std::string& arguments, DWORD milliseconds = kControlToolMilliseconds);

}  // namespace vorlex::virtual_reader

// Shared by the virtual reader tests: the control tool beside the test
// (bin/virtual-reader/VirtualReader.exe) and plugging devices through the
// control device, waiting until the system's HID bus shows them.
#pragma once

#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "Vorlex.h"
#include "VirtualReaderClient.h"

namespace vorlex::virtual_reader::testing {

inline int RunTool(const std::string& arguments) { return RunControlTool(arguments); }

// The virtual bus as a test drives it; starts and ends with nothing plugged.
class VirtualBus {
public:
    // Installs the driver once per process (idempotent); false when it is not there.
    static bool Install() {
        static const int exitCode = RunTool("install");
        return exitCode == 0;
    }
    Outcome Open() { return control.Open(); }

    VR_DEVICE_INFO Plug(const char* modelName, uint16_t vendorId = VORLEX_VENDOR_ID, uint16_t productId = 0) {
        const PluggableModel* model = FindPluggableModel(modelName);
        VR_DEVICE_INFO device{};
        const VR_PLUG_REQUEST request{vendorId, productId ? productId : model->productId, model->inputReportLength,
                                      model->featureReportLength};
        EXPECT_EQ(control.Plug(request, device), Outcome::Ok);
        EXPECT_TRUE(WaitForInterface(device, true, kTimeoutMilliseconds));
        return device;
    }

    void UnplugAll() {
        std::vector<VR_DEVICE_INFO> devices;
        control.Status(devices);
        if (devices.empty()) return;
        control.Unplug(VR_ALL_DEVICES);
        for (const auto& device : devices) EXPECT_TRUE(WaitForInterface(device, false, kTimeoutMilliseconds));
    }

    ControlDevice control;
};

}  // namespace vorlex::virtual_reader::testing

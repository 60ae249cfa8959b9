// Device-interface arrivals of HID devices on Windows: a message-only window
// on the listening thread, registered with RegisterDeviceNotification.
#pragma once

#include "seams/DeviceArrival.h"

namespace norvik {

class Win32DeviceArrival final : public DeviceArrival {
public:
    std::unique_ptr<ArrivalWatch> Listen() override;
};

}  // namespace norvik

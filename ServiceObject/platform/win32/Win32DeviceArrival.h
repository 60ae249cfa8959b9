// Device-interface arrivals of HID devices on Windows: a message-only window
// on the listening thread, registered with RegisterDeviceNotification; and,
// since such notices do not reach every process under Wine, a cheap look at
// which of our readers' interfaces the registry marks present.
#pragma once

#include "seams/DeviceArrival.h"

namespace norvik {

class Win32DeviceArrival final : public DeviceArrival {
public:
    std::unique_ptr<ArrivalWatch> Listen() override;
};

}  // namespace norvik

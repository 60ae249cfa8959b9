// Tells the watch for a lost reader when a HID device may have arrived, so
// that it need not look for the reader on a timer. The Win32 adapter listens
// for the system's device-interface arrivals; without an adapter the watch
// polls.
#pragma once

#include <chrono>
#include <memory>

namespace norvik {

// Listening on one thread; made, waited on and destroyed on that thread.
class ArrivalWatch {
public:
    virtual ~ArrivalWatch() = default;
    // True when a device may have arrived; false after `timeout` or Wake().
    virtual bool Wait(std::chrono::milliseconds timeout) = 0;
    // Ends the current or the next Wait at once. Any thread.
    virtual void Wake() = 0;
};

class DeviceArrival {
public:
    virtual ~DeviceArrival() = default;
    // Starts listening on the calling thread; null when the platform cannot tell.
    virtual std::unique_ptr<ArrivalWatch> Listen() = 0;
};

}  // namespace norvik

// Tells the watch for a lost reader when a reader may have arrived, so that
// it opens the reader (an expensive detection) only then. The Win32 adapter
// listens for the system's device-interface arrivals and, where those do not
// come, looks cheaply at which of our readers' interfaces the system lists;
// without an adapter the watch tries to open the reader on every round.
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
    // A cheap look: true when the set of our readers' interfaces present has
    // changed since the last look and is not empty (the first look: not empty).
    virtual bool ReadersChanged() = 0;
    // True when Wait also ends as soon as the system's list of interfaces
    // changes, so that nobody need look on a timer.
    virtual bool EndsOnChange() const = 0;
};

class DeviceArrival {
public:
    virtual ~DeviceArrival() = default;
    // Starts listening on the calling thread; null when the platform cannot tell.
    virtual std::unique_ptr<ArrivalWatch> Listen() = 0;
};

}  // namespace norvik

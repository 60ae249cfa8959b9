// The system's HID bus on Windows: SetupAPI enumeration of the HID interface
// class and the HID class driver's calls on an opened interface.
#pragma once

#include <memory>

#include "core/HidTransport.h"

namespace vorlex::win32 {

// Enumeration: an interface whose device path cannot be read is still listed,
// with an empty path, so that detection skips it when opening fails and goes
// on with the next one.
// Devices: Read() issues one overlapped ReadFileEx at a time and waits for it
// alertably in slices of 10 ms; when it returns, no read is left in flight.
// Close() cancels the I/O of the handle before closing it and waits for a
// feature transfer that is under way on another thread.
// Removal: a read completing with 1167 (Windows), 5 (Wine's deleted device)
// or 55, and a ReadFileEx that fails while the handle is still ours, report
// DeviceNotConnected; Stopped comes only after Stop() or Close().
std::unique_ptr<HidBus> CreateWin32HidBus();

}  // namespace vorlex::win32

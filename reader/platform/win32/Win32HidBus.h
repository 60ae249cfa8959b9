// The system's HID bus on Windows: SetupAPI enumeration of the HID interface
// class and the HID class driver's calls on an opened interface.
#pragma once

#include <windows.h>

#include <memory>

#include "core/HidTransport.h"

namespace vorlex::win32 {

// The one call in which a device's read thread sleeps: an alertable wait on
// `handle` (WaitForSingleObjectEx). Tests pass their own to count the waits.
using AlertableWait = DWORD (*)(HANDLE handle, DWORD milliseconds);

// Enumeration: an interface whose device path cannot be read is still listed,
// with an empty path, so that detection skips it when opening fails and goes
// on with the next one.
// Devices: ReadReports() issues one overlapped ReadFileEx at a time, into the
// caller's buffer, and waits alertably with no timeout; the completion
// routine hands the ending to the sink and issues the next read, so an idle
// reader's read thread never wakes and a report costs no wake-up beyond its
// completion. Only a stop (or the end of reading) returns; then no read is
// left in flight. Read() is one round of the same.
// Close() cancels the I/O of the handle before closing it and waits for a
// feature transfer that is under way on another thread.
// Removal: a read completing with 1167 (Windows), 5 (Wine's deleted device)
// or 55, and a ReadFileEx that fails while the handle is still ours, report
// DeviceNotConnected; Stopped comes only after Stop() or Close().
std::unique_ptr<HidBus> CreateWin32HidBus(AlertableWait wait = nullptr);

}  // namespace vorlex::win32

// Benchmark support: counts a module's calls to the kernel32 functions that
// block a thread or signal one, per calling thread, by redirecting the
// module's import slots. Under Wine each of these calls is a request to the
// server (a round trip); a wait that returns is a wake-up of its thread.
#pragma once

#include <windows.h>

#include <cstdint>

namespace bench {

struct ServerCalls {
    uint64_t waits = 0;          // WaitFor*, SleepEx, Sleep, SignalObjectAndWait: returns, i.e. wake-ups
    uint64_t timeouts = 0;       // ...of them, returned because their timeout ran out
    uint64_t ioCompletions = 0;  // ...of them, returned because a completion routine or APC ran
    uint64_t signals = 0;        // SetEvent, ResetEvent, ReleaseSemaphore, ReleaseMutex
    uint64_t io = 0;             // ReadFile(Ex), CancelIoEx, DeviceIoControl
    uint64_t Total() const { return waits + signals + io; }
    ServerCalls operator-(const ServerCalls& earlier) const;
};

// Redirects `module`'s imports; false when it imports none of them.
bool CountServerCalls(HMODULE module);
// Calls made on thread `threadId` so far (0: on every thread).
ServerCalls ServerCallsOf(DWORD threadId);

}  // namespace bench

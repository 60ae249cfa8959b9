// Benchmark support: counts a module's calls to the kernel32 functions that
// block a thread or signal one, per calling thread, by redirecting the
// module's import slots. Under Wine each of these calls is a request to the
// server (a round trip); a wait that returns is a wake-up of its thread.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

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

// Starts counting afresh; only while the counted threads are idle.
void ForgetServerCalls();
// The thread, other than `a` and `b`, that made the most calls so far.
DWORD BusiestThreadExcept(DWORD a, DWORD b);

// The same per function, for finding out which call it is.
constexpr int kServerCallFunctions = 15;
void ServerCallsByFunctionSnapshot(DWORD threadId, uint64_t (&counts)[kServerCallFunctions]);
// "SetEvent 1.00, ..." since `earlier`, divided by `per`.
std::string ServerCallsByFunction(DWORD threadId, const uint64_t (&earlier)[kServerCallFunctions], double per);

}  // namespace bench

#include "ServerCallCounter.h"

#include <atomic>
#include <cstdio>
#include <cstring>

namespace bench {
namespace {

constexpr int kThreadSlots = 64;

enum Function {
    kWaitForSingleObject, kWaitForSingleObjectEx, kWaitForMultipleObjects, kWaitForMultipleObjectsEx,
    kSignalObjectAndWait, kSleepEx, kSleep, kSetEvent, kResetEvent, kReleaseSemaphore, kReleaseMutex,
    kReadFileEx, kReadFile, kCancelIoEx, kDeviceIoControl, kFunctionCount
};
const char* const kFunctionNames[kFunctionCount] = {
    "WaitForSingleObject", "WaitForSingleObjectEx", "WaitForMultipleObjects", "WaitForMultipleObjectsEx",
    "SignalObjectAndWait", "SleepEx", "Sleep", "SetEvent", "ResetEvent", "ReleaseSemaphore", "ReleaseMutex",
    "ReadFileEx", "ReadFile", "CancelIoEx", "DeviceIoControl"};

struct Slot {
    std::atomic<DWORD> thread{0};
    std::atomic<uint64_t> waits{0}, timeouts{0}, ioCompletions{0}, signals{0}, io{0};
    std::atomic<uint64_t> calls[kFunctionCount] = {};
};
Slot g_slots[kThreadSlots];

Slot* SlotOfThisThread() {
    const DWORD self = ::GetCurrentThreadId();
    for (Slot& slot : g_slots) {
        DWORD owner = slot.thread.load(std::memory_order_acquire);
        if (owner == self) return &slot;
        if (owner == 0 && slot.thread.compare_exchange_strong(owner, self)) return &slot;
        if (owner == self) return &slot;
    }
    return nullptr;  // more threads than slots: not counted
}

enum class Kind { Wait, Signal, Io };

void Record(Function function, Kind kind, DWORD result = 0, bool timedOut = false) {
    Slot* slot = SlotOfThisThread();
    if (slot == nullptr) return;
    ++slot->calls[function];
    switch (kind) {
        case Kind::Wait:
            ++slot->waits;
            if (timedOut) ++slot->timeouts;
            if (result == WAIT_IO_COMPLETION) ++slot->ioCompletions;
            break;
        case Kind::Signal: ++slot->signals; break;
        case Kind::Io: ++slot->io; break;
    }
}

// The function itself, from kernel32's exports: not through an import slot
// of our own, which may be redirected too.
template <typename Function>
Function Kernel32(const char* name) {
    return reinterpret_cast<Function>(
        reinterpret_cast<void (*)()>(::GetProcAddress(::GetModuleHandleA("kernel32.dll"), name)));
}

// One counting stand-in per function.
#define NORVIK_COUNTED(name, Ret, params, args, kind, timedOutIf)        \
    decltype(&::name) g_real##name = Kernel32<decltype(&::name)>(#name); \
    Ret WINAPI Counted##name params {                                   \
        const Ret result = g_real##name args;                           \
        Record(k##name, kind, static_cast<DWORD>(result), timedOutIf);  \
        return result;                                                  \
    }

NORVIK_COUNTED(WaitForSingleObject, DWORD, (HANDLE h, DWORD ms), (h, ms), Kind::Wait, result == WAIT_TIMEOUT)
NORVIK_COUNTED(WaitForSingleObjectEx, DWORD, (HANDLE h, DWORD ms, BOOL a), (h, ms, a), Kind::Wait,
               result == WAIT_TIMEOUT)
NORVIK_COUNTED(WaitForMultipleObjects, DWORD, (DWORD n, const HANDLE* h, BOOL all, DWORD ms), (n, h, all, ms),
               Kind::Wait, result == WAIT_TIMEOUT)
NORVIK_COUNTED(WaitForMultipleObjectsEx, DWORD, (DWORD n, const HANDLE* h, BOOL all, DWORD ms, BOOL a),
               (n, h, all, ms, a), Kind::Wait, result == WAIT_TIMEOUT)
NORVIK_COUNTED(SignalObjectAndWait, DWORD, (HANDLE s, HANDLE w, DWORD ms, BOOL a), (s, w, ms, a), Kind::Wait,
               result == WAIT_TIMEOUT)
NORVIK_COUNTED(SleepEx, DWORD, (DWORD ms, BOOL a), (ms, a), Kind::Wait, result == 0 && ms != INFINITE)
NORVIK_COUNTED(SetEvent, BOOL, (HANDLE h), (h), Kind::Signal, false)
NORVIK_COUNTED(ResetEvent, BOOL, (HANDLE h), (h), Kind::Signal, false)
NORVIK_COUNTED(ReleaseSemaphore, BOOL, (HANDLE h, LONG n, LPLONG p), (h, n, p), Kind::Signal, false)
NORVIK_COUNTED(ReleaseMutex, BOOL, (HANDLE h), (h), Kind::Signal, false)
NORVIK_COUNTED(ReadFileEx, BOOL, (HANDLE f, LPVOID b, DWORD n, LPOVERLAPPED o, LPOVERLAPPED_COMPLETION_ROUTINE r),
               (f, b, n, o, r), Kind::Io, false)
NORVIK_COUNTED(ReadFile, BOOL, (HANDLE f, LPVOID b, DWORD n, LPDWORD d, LPOVERLAPPED o), (f, b, n, d, o), Kind::Io,
               false)
NORVIK_COUNTED(CancelIoEx, BOOL, (HANDLE f, LPOVERLAPPED o), (f, o), Kind::Io, false)
NORVIK_COUNTED(DeviceIoControl, BOOL,
               (HANDLE f, DWORD c, LPVOID i, DWORD il, LPVOID o, DWORD ol, LPDWORD r, LPOVERLAPPED ov),
               (f, c, i, il, o, ol, r, ov), Kind::Io, false)
#undef NORVIK_COUNTED

// Sleep returns nothing: every return of a sleep of zero or more is its timeout.
decltype(&::Sleep) g_realSleep = Kernel32<decltype(&::Sleep)>("Sleep");
VOID WINAPI CountedSleep(DWORD ms) {
    g_realSleep(ms);
    Record(kSleep, Kind::Wait, 0, ms != INFINITE);
}

struct Redirect {
    const char* name;
    void* replacement;
};

#define NORVIK_REDIRECT(name) {#name, reinterpret_cast<void*>(&Counted##name)}
const Redirect kRedirects[] = {
    NORVIK_REDIRECT(WaitForSingleObject), NORVIK_REDIRECT(WaitForSingleObjectEx),
    NORVIK_REDIRECT(WaitForMultipleObjects), NORVIK_REDIRECT(WaitForMultipleObjectsEx),
    NORVIK_REDIRECT(SignalObjectAndWait), NORVIK_REDIRECT(SleepEx), NORVIK_REDIRECT(Sleep),
    NORVIK_REDIRECT(SetEvent), NORVIK_REDIRECT(ResetEvent), NORVIK_REDIRECT(ReleaseSemaphore),
    NORVIK_REDIRECT(ReleaseMutex), NORVIK_REDIRECT(ReadFileEx), NORVIK_REDIRECT(ReadFile),
    NORVIK_REDIRECT(CancelIoEx), NORVIK_REDIRECT(DeviceIoControl),
};
#undef NORVIK_REDIRECT

}  // namespace

ServerCalls ServerCalls::operator-(const ServerCalls& earlier) const {
    ServerCalls d;
    d.waits = waits - earlier.waits;
    d.timeouts = timeouts - earlier.timeouts;
    d.ioCompletions = ioCompletions - earlier.ioCompletions;
    d.signals = signals - earlier.signals;
    d.io = io - earlier.io;
    return d;
}

bool CountServerCalls(HMODULE module) {
    auto* base = reinterpret_cast<BYTE*>(module);
    const auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (directory.VirtualAddress == 0) return false;
    int redirected = 0;
    for (auto* import = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + directory.VirtualAddress);
         import->Name != 0; ++import) {
        if (_stricmp(reinterpret_cast<char*>(base + import->Name), "kernel32.dll") != 0) continue;
        auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + import->OriginalFirstThunk);
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + import->FirstThunk);
        for (; names->u1.AddressOfData != 0; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
            const char* name = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData)->Name;
            for (const Redirect& redirect : kRedirects) {
                if (std::strcmp(name, redirect.name) != 0) continue;
                DWORD protection = 0;
                ::VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE, &protection);
                slots->u1.Function = reinterpret_cast<ULONG_PTR>(redirect.replacement);
                ::VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, protection, &protection);
                ++redirected;
            }
        }
    }
    return redirected > 0;
}

ServerCalls ServerCallsOf(DWORD threadId) {
    ServerCalls sum;
    for (const Slot& slot : g_slots) {
        const DWORD owner = slot.thread.load(std::memory_order_acquire);
        if (owner == 0 || (threadId != 0 && owner != threadId)) continue;
        sum.waits += slot.waits;
        sum.timeouts += slot.timeouts;
        sum.ioCompletions += slot.ioCompletions;
        sum.signals += slot.signals;
        sum.io += slot.io;
    }
    return sum;
}

std::string ServerCallsByFunction(DWORD threadId, const uint64_t (&earlier)[kServerCallFunctions], double per) {
    std::string text;
    for (const Slot& slot : g_slots) {
        if (slot.thread.load(std::memory_order_acquire) != threadId) continue;
        for (int f = 0; f < kFunctionCount; ++f) {
            const uint64_t count = slot.calls[f] - earlier[f];
            if (count == 0) continue;
            char item[64];
            std::snprintf(item, sizeof item, "%s%s %.2f", text.empty() ? "" : ", ", kFunctionNames[f],
                          double(count) / per);
            text += item;
        }
    }
    return text.empty() ? "none" : text;
}

void ServerCallsByFunctionSnapshot(DWORD threadId, uint64_t (&counts)[kServerCallFunctions]) {
    for (uint64_t& count : counts) count = 0;
    for (const Slot& slot : g_slots) {
        if (slot.thread.load(std::memory_order_acquire) != threadId) continue;
        for (int f = 0; f < kFunctionCount; ++f) counts[f] = slot.calls[f];
    }
}

void ForgetServerCalls() {
    for (Slot& slot : g_slots) {
        slot.waits = slot.timeouts = slot.ioCompletions = slot.signals = slot.io = 0;
        for (auto& count : slot.calls) count = 0;
        slot.thread = 0;
    }
}

DWORD BusiestThreadExcept(DWORD a, DWORD b) {
    DWORD busiest = 0;
    uint64_t most = 0;
    for (const Slot& slot : g_slots) {
        const DWORD owner = slot.thread.load(std::memory_order_acquire);
        if (owner == 0 || owner == a || owner == b) continue;
        const uint64_t total = slot.waits + slot.signals + slot.io;
        if (total > most) {
            most = total;
            busiest = owner;
        }
    }
    return busiest;
}

static_assert(kServerCallFunctions == kFunctionCount, "one count per redirected function");

}  // namespace bench

// Shared by the virtual reader benchmarks: the process's CPU time.
#pragma once

#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <string>

// CPU time of this process so far, in microseconds. Under Wine,
// GetProcessTimes counts in 10 ms ticks, too coarse for a block of swipes;
// when the runner names the process's Linux PID (NORVIK_UNIX_PID), the
// scheduler's nanosecond run time of each of its threads is summed instead.
inline double ProcessCpuMicroseconds() {
    static const std::string tasks = [] {
        char pid[32] = {};
        const DWORD length = ::GetEnvironmentVariableA("NORVIK_UNIX_PID", pid, sizeof pid);
        return length > 0 && length < sizeof pid ? std::string("Z:\\proc\\") + pid + "\\task\\" : std::string();
    }();
    if (!tasks.empty()) {
        WIN32_FIND_DATAA found{};
        HANDLE search = ::FindFirstFileA((tasks + "*").c_str(), &found);
        if (search != INVALID_HANDLE_VALUE) {
            uint64_t nanoseconds = 0;
            do {
                if (found.cFileName[0] == '.') continue;
                HANDLE file = ::CreateFileA((tasks + found.cFileName + "\\schedstat").c_str(), GENERIC_READ,
                                            FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
                if (file == INVALID_HANDLE_VALUE) continue;  // a thread that just ended
                char text[128] = {};
                DWORD read = 0;
                ::ReadFile(file, text, sizeof text - 1, &read, nullptr);
                ::CloseHandle(file);
                nanoseconds += std::strtoull(text, nullptr, 10);
            } while (::FindNextFileA(search, &found));
            ::FindClose(search);
            return double(nanoseconds) / 1000.0;
        }
    }
    FILETIME created, exited, kernel, user;
    ::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user);
    const auto value = [](FILETIME t) { return (uint64_t(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
    return double(value(kernel) + value(user)) / 10.0;
}

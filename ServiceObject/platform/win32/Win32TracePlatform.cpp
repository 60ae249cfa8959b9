// The trace's Win32 side: files through CreateFile (append, shared for
// reading so that support can copy a live trace), local time, and the
// application event log for a trace that had to go off.
#include <windows.h>

#include <string>

#include "common/win32/UniqueResource.h"
#include "platform/win32/Win32TracePlatform.h"

namespace norvik {
namespace {

std::string ErrorText(DWORD error) {
    char text[256] = {};
    const DWORD n = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                                     text, sizeof text, nullptr);
    std::string result(text, n);
    while (!result.empty() && (result.back() == '\n' || result.back() == '\r' || result.back() == ' ')) {
        result.pop_back();
    }
    return result.empty() ? "error " + std::to_string(error) : result;
}

win32::UniqueFile OpenForAppend(const std::string& path, DWORD disposition) {
    return win32::UniqueFile(::CreateFileA(path.c_str(), FILE_APPEND_DATA,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                           disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
}

class Win32TraceFile final : public TraceFileSink {
public:
    Win32TraceFile(std::string path, win32::UniqueFile file)
        : path_(std::move(path)), previous_(path_ + ".1"), file_(std::move(file)) {}

    uint64_t Size() override {
        LARGE_INTEGER size{};
        return ::GetFileSizeEx(file_.get(), &size) ? static_cast<uint64_t>(size.QuadPart) : 0;
    }
    bool Write(const char* data, size_t length) override {
        DWORD written = 0;
        return ::WriteFile(file_.get(), data, static_cast<DWORD>(length), &written, nullptr) && written == length;
    }
    bool Roll() override {
        file_.reset();
        ::MoveFileExA(path_.c_str(), previous_.c_str(), MOVEFILE_REPLACE_EXISTING);
        file_ = OpenForAppend(path_, CREATE_ALWAYS);
        return static_cast<bool>(file_);
    }

private:
    std::string path_;
    std::string previous_;  // made once: rolling over allocates nothing
    win32::UniqueFile file_;
};

// Creates every missing folder on the way to `path`'s file.
bool CreateFolders(const std::string& path, std::string& error) {
    for (size_t at = path.find_first_of("\\/", 3); at != std::string::npos;
         at = path.find_first_of("\\/", at + 1)) {
        const std::string folder = path.substr(0, at);
        if (::CreateDirectoryA(folder.c_str(), nullptr)) continue;
        const DWORD code = ::GetLastError();
        if (code == ERROR_ALREADY_EXISTS || code == ERROR_ACCESS_DENIED) {
            const DWORD attributes = ::GetFileAttributesA(folder.c_str());
            if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) continue;
        }
        error = "cannot create the folder \"" + folder + "\": " + ErrorText(code);
        return false;
    }
    return true;
}

class Win32TracePlatform final : public TracePlatform {
public:
    std::unique_ptr<TraceFileSink> OpenFile(const std::string& path, std::string& error) override {
        if (!CreateFolders(path, error)) return nullptr;
        // Asked first: an administrator's process may be let through regardless.
        const DWORD attributes = ::GetFileAttributesA(path.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
            error = "the file is read-only";
            return nullptr;
        }
        win32::UniqueFile file = OpenForAppend(path, OPEN_ALWAYS);
        if (!file) {
            error = ErrorText(::GetLastError());
            return nullptr;
        }
        return std::make_unique<Win32TraceFile>(path, std::move(file));
    }

    TraceTime Now() override {
        SYSTEMTIME local{};
        ::GetLocalTime(&local);
        TIME_ZONE_INFORMATION zone{};
        LONG bias = 0;
        switch (::GetTimeZoneInformation(&zone)) {
            case TIME_ZONE_ID_DAYLIGHT: bias = zone.Bias + zone.DaylightBias; break;
            case TIME_ZONE_ID_STANDARD: bias = zone.Bias + zone.StandardBias; break;
            case TIME_ZONE_ID_UNKNOWN: bias = zone.Bias; break;
            default: break;
        }
        return {local.wYear, local.wMonth, local.wDay, local.wHour, local.wMinute, local.wSecond,
                local.wMilliseconds, static_cast<int>(-bias)};
    }

    uint32_t ProcessId() override { return ::GetCurrentProcessId(); }
    uint32_t ThreadId() override { return ::GetCurrentThreadId(); }

    std::string ExpandPath(const std::string& path) override {
        char expanded[MAX_PATH * 2];
        const DWORD n = ::ExpandEnvironmentStringsA(path.c_str(), expanded, sizeof expanded);
        return n == 0 || n > sizeof expanded ? path : std::string(expanded);
    }

    std::string DefaultFolder() override {
        std::string folder = ExpandPath("%ProgramData%");
        if (folder.empty() || folder[0] == '%') folder = "C:\\ProgramData";
        return folder + "\\Norvik\\Logs\\";
    }

    void ReportProblem(const std::string& message) override {
        HANDLE source = ::RegisterEventSourceA(nullptr, "NorvikMSR");
        if (source) {
            const char* strings[] = {message.c_str()};
            ::ReportEventA(source, EVENTLOG_WARNING_TYPE, 0, 1, nullptr, 1, 0, strings, nullptr);
            ::DeregisterEventSource(source);
        }
        ::OutputDebugStringA((message + "\n").c_str());
    }
};

}  // namespace

TracePlatform& Win32TracePlatformInstance() {
    static Win32TracePlatform platform;
    return platform;
}

}  // namespace norvik

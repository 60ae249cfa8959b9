// The trace's Win32 side: files through CreateFile (append, shared for
// reading so that support can copy a live trace, never through a link),
// local time, and the application event log for a trace that had to go off.
#include <windows.h>
#include <sddl.h>

#include <string>
#include <vector>

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

// Folders and files the trace creates get a descriptor of their own, so that
// whoever created %ProgramData%\Norvik first decides nothing: SYSTEM and the
// Administrators have full control; authenticated users (every account that
// runs a POS application) may list a folder and create files in it, but no
// folders, and may read and append to the files; a file's creator may also
// roll it over. The owner of a folder gets no more than any user (OW), so
// that it cannot change the descriptor and plant a link later.
constexpr const char* kFolderDescriptor =
    "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;;0x1200ab;;;AU)(A;OIIO;0x12008d;;;AU)(A;OIIO;FA;;;CO)"
    "(A;;0x1200ab;;;OW)";
constexpr const char* kFileDescriptor = "D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x12008d;;;AU)(A;;FA;;;OW)";

class Descriptor {
public:
    explicit Descriptor(const char* sddl) {
        ::ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &descriptor_, nullptr);
        attributes_ = {sizeof attributes_, descriptor_, FALSE};
    }
    ~Descriptor() { ::LocalFree(descriptor_); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    SECURITY_ATTRIBUTES* attributes() { return descriptor_ ? &attributes_ : nullptr; }

private:
    PSECURITY_DESCRIPTOR descriptor_ = nullptr;
    SECURITY_ATTRIBUTES attributes_{};
};

// Where the folders that may be created begin: after "C:\", or after
// "\\server\share\" for a UNC path. npos when the path has neither.
size_t FirstFolderSeparator(const std::string& path) {
    if (path.size() >= 3 && path[1] == ':' && (path[2] == '\\' || path[2] == '/')) return path.find_first_of("\\/", 3);
    if (path.rfind("\\\\", 0) == 0 && path.size() > 2 && path[2] != '?' && path[2] != '.') {
        const size_t share = path.find_first_of("\\/", 2);            // after the server
        if (share == std::string::npos) return std::string::npos;
        const size_t folder = path.find_first_of("\\/", share + 1);  // after the share
        return folder == std::string::npos ? std::string::npos : path.find_first_of("\\/", folder + 1);
    }
    return std::string::npos;
}

// Opens a folder or file itself, never what a link (a reparse point: a
// junction, a symbolic link, a mount point) points to.
win32::UniqueFile OpenNoFollow(const std::string& path, DWORD access, DWORD share, DWORD disposition,
                               SECURITY_ATTRIBUTES* security, DWORD flags) {
    return win32::UniqueFile(::CreateFileA(path.c_str(), access, share, security, disposition,
                                           flags | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
}

std::string FinalPath(HANDLE handle) {
    char path[1024];
    const DWORD n = ::GetFinalPathNameByHandleA(handle, path, sizeof path, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    return n > 0 && n < sizeof path ? std::string(path, n) : std::string();
}

// A link either says so (a reparse point), or is found out by where its
// handle really leads: not to the name it has in its parent folder. Systems
// that cannot tell a handle's final path leave only the first test.
bool IsLink(HANDLE handle, HANDLE parent, const std::string& name, BY_HANDLE_FILE_INFORMATION& information) {
    if (!::GetFileInformationByHandle(handle, &information)) return true;  // cannot tell: refuse
    if (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return true;
    const std::string final = FinalPath(handle);
    std::string expected = FinalPath(parent);
    if (final.empty() || expected.empty()) return false;
    if (expected.back() != '\\') expected += '\\';
    expected += name;
    return ::CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, final.c_str(), -1, expected.c_str(), -1) != CSTR_EQUAL;
}

std::string LastName(const std::string& path) { return path.substr(path.find_last_of("\\/") + 1); }

// Every folder on the way to `path`'s file, created where missing, each one
// checked to be a real folder and held open (no one may rename or delete it)
// until the file is open, so that none can be swapped for a link meanwhile.
bool OpenFolders(const std::string& path, std::vector<win32::UniqueFile>& held, std::string& error) {
    size_t at = FirstFolderSeparator(path);
    if (at == std::string::npos && path.find_first_of("\\/") != std::string::npos) {
        error = "the path is neither a full local path nor \\\\server\\share\\...";
        return false;
    }
    Descriptor descriptor(kFolderDescriptor);
    if (at != std::string::npos) {  // the root (drive or share) is where links are measured from
        win32::UniqueFile root = OpenNoFollow(path.substr(0, path.find_last_of("\\/", at - 1) + 1),
                                              FILE_READ_ATTRIBUTES | SYNCHRONIZE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                              OPEN_EXISTING, nullptr, FILE_FLAG_BACKUP_SEMANTICS);
        if (!root) {
            error = "cannot open the root of \"" + path + "\": " + ErrorText(::GetLastError());
            return false;
        }
        held.push_back(std::move(root));
    }
    for (; at != std::string::npos; at = path.find_first_of("\\/", at + 1)) {
        const std::string folder = path.substr(0, at);
        constexpr DWORD kAccess = FILE_READ_ATTRIBUTES | SYNCHRONIZE;
        constexpr DWORD kShare = FILE_SHARE_READ | FILE_SHARE_WRITE;
        win32::UniqueFile handle = OpenNoFollow(folder, kAccess, kShare, OPEN_EXISTING, nullptr,
                                                FILE_FLAG_BACKUP_SEMANTICS);
        if (!handle) {
            if (!::CreateDirectoryA(folder.c_str(), descriptor.attributes()) &&
                ::GetLastError() != ERROR_ALREADY_EXISTS) {
                error = "cannot create the folder \"" + folder + "\": " + ErrorText(::GetLastError());
                return false;
            }
            handle = OpenNoFollow(folder, kAccess, kShare, OPEN_EXISTING, nullptr, FILE_FLAG_BACKUP_SEMANTICS);
            if (!handle) {
                error = "cannot open the folder \"" + folder + "\": " + ErrorText(::GetLastError());
                return false;
            }
        }
        BY_HANDLE_FILE_INFORMATION information{};
        if (IsLink(handle.get(), held.back().get(), LastName(folder), information)) {
            error = "\"" + folder + "\" is a link (a junction or symbolic link); the trace never follows one";
            return false;
        }
        if (!(information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
            error = "cannot create the folder \"" + folder + "\": a file is in the way";
            return false;
        }
        held.push_back(std::move(handle));
    }
    return true;
}

// Opens `path` for appending (or empties it, with CREATE_ALWAYS), as a file
// of this process alone: others may read it, but not write, rename or delete
// it while it is open. Refuses links, also hard links to another file.
win32::UniqueFile OpenOwnFile(const std::string& path, DWORD disposition, std::string& error, DWORD& code) {
    std::vector<win32::UniqueFile> folders;
    code = ERROR_SUCCESS;
    if (!OpenFolders(path, folders, error)) return {};
    // Asked first: an administrator's process may be let through regardless.
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
        error = "the file is read-only";
        return {};
    }
    Descriptor descriptor(kFileDescriptor);
    win32::UniqueFile file = OpenNoFollow(path, FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE |
                                                    (disposition == CREATE_ALWAYS ? GENERIC_WRITE : 0),
                                          FILE_SHARE_READ, disposition, descriptor.attributes(), FILE_ATTRIBUTE_NORMAL);
    if (!file) {
        code = ::GetLastError();
        error = ErrorText(code);
        return {};
    }
    BY_HANDLE_FILE_INFORMATION information{};
    const bool linked = folders.empty() ? (!::GetFileInformationByHandle(file.get(), &information) ||
                                           (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
                                        : IsLink(file.get(), folders.back().get(), LastName(path), information);
    if (linked || information.nNumberOfLinks > 1) {
        error = "\"" + path + "\" is a link to another file; the trace never follows one";
        return {};
    }
    return file;
}

// "<stem>.<pid>[-n]<extension>": the file of this process when another one
// (or another instance here) writes the one asked for.
std::string OwnName(const std::string& path, int attempt) {
    const size_t name = path.find_last_of("\\/") + 1;
    size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || dot < name) dot = path.size();
    std::string suffix = "." + std::to_string(::GetCurrentProcessId());
    if (attempt > 1) suffix += "-" + std::to_string(attempt);
    return path.substr(0, dot) + suffix + path.substr(dot);
}

// The file asked for, or, when another process or instance holds it (or it
// is another user's, which this one may not roll over), one of this
// process's own beside it. Two writers never share a file: neither rolls the
// other's over or mixes lines into it.
win32::UniqueFile OpenTraceFile(const std::string& asked, DWORD disposition, std::string& path, std::string& error) {
    constexpr int kOwnNames = 9;
    DWORD code = ERROR_SUCCESS;
    for (int attempt = 0; attempt <= kOwnNames; ++attempt) {
        path = attempt == 0 ? asked : OwnName(asked, attempt);
        win32::UniqueFile file = OpenOwnFile(path, attempt == 0 ? disposition : OPEN_ALWAYS, error, code);
        if (file) return file;
        if (code != ERROR_SHARING_VIOLATION && code != ERROR_ACCESS_DENIED) break;
    }
    return {};
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
    // Only this process writes the file, so only it rolls it over. Renaming
    // replaces a link at "<file>.1" itself, never what it points to.
    bool Roll() override {
        file_.reset();
        ::MoveFileExA(path_.c_str(), previous_.c_str(), MOVEFILE_REPLACE_EXISTING);
        std::string path, error;
        file_ = OpenTraceFile(path_, CREATE_ALWAYS, path, error);
        if (file_ && path != path_) {
            path_ = path;
            previous_ = path_ + ".1";
        }
        return static_cast<bool>(file_);
    }

private:
    std::string path_;
    std::string previous_;
    win32::UniqueFile file_;
};

class Win32TracePlatform final : public TracePlatform {
public:
    std::unique_ptr<TraceFileSink> OpenFile(const std::string& path, std::string& error) override {
        std::string opened;
        win32::UniqueFile file = OpenTraceFile(path, OPEN_ALWAYS, opened, error);
        if (!file) return nullptr;
        return std::make_unique<Win32TraceFile>(opened, std::move(file));
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

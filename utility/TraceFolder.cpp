#include "TraceFolder.h"

#include <shellapi.h>

#include "LdnRegistry.h"
#include "resource.h"

namespace swipebench {
namespace {

std::string Expand(const std::string& text) {
    char expanded[MAX_PATH * 2];
    const DWORD n = ::ExpandEnvironmentStringsA(text.c_str(), expanded, sizeof expanded);
    return n == 0 || n > sizeof expanded ? text : std::string(expanded);
}

bool FileExists(const std::string& path) {
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::string TraceFileOf(const char* deviceKey) {
    std::string path;
    const std::string keyPath = std::string(kMsrKeyPath) + "\\" + deviceKey;
    UniqueHKey key;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_READ, key.put()) == ERROR_SUCCESS) {
        char data[MAX_PATH * 2] = {};
        DWORD size = sizeof data - 1;
        DWORD type = 0;
        if (::RegQueryValueExA(key.get(), "TraceFile", nullptr, &type, reinterpret_cast<BYTE*>(data), &size) ==
                ERROR_SUCCESS &&
            type == REG_SZ) {  // as the service object reads it
            path = data;
        }
    }
    return path.empty() ? Expand("%ProgramData%\\Norvik\\Logs\\" + std::string(deviceKey) + ".log") : Expand(path);
}

}  // namespace

std::string ExistingTraceFolder() {
    for (const char* deviceKey : {kDeviceKey1, kDeviceKey2}) {
        const std::string file = TraceFileOf(deviceKey);
        if (!FileExists(file)) continue;
        const size_t slash = file.find_last_of("\\/");
        return slash == std::string::npos ? std::string(".") : file.substr(0, slash);
    }
    return std::string();
}

void UpdateTraceFolderCommand(HMENU systemMenu) {
    if (!systemMenu) return;
    const bool shown = ::GetMenuState(systemMenu, IDM_OPEN_TRACE_FOLDER, MF_BYCOMMAND) != static_cast<UINT>(-1);
    const bool wanted = !ExistingTraceFolder().empty();
    if (wanted && !shown) ::AppendMenuA(systemMenu, MF_STRING, IDM_OPEN_TRACE_FOLDER, "Open &trace folder");
    if (!wanted && shown) ::DeleteMenu(systemMenu, IDM_OPEN_TRACE_FOLDER, MF_BYCOMMAND);
}

bool OpenTraceFolder(HWND owner) {
    const std::string folder = ExistingTraceFolder();
    if (folder.empty()) return false;
    const HINSTANCE result = ::ShellExecuteA(owner, "open", folder.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
    return reinterpret_cast<INT_PTR>(result) > 32;  // the shell's way of saying success
}

}  // namespace swipebench

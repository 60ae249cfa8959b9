#include "TraceFolder.h"

#include <shellapi.h>

#include "LdnRegistry.h"
#include "logic/RegistryConfig.h"
#include "platform/win32/Win32RegistryView.h"
#include "platform/win32/Win32TracePlatform.h"
#include "trace/Trace.h"
#include "resource.h"

namespace swipebench {
namespace {

bool FileExists(const std::string& path) {
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// The file the service object traces this device key to, by the service object's own rules.
std::string TraceFileOf(const char* deviceKey) {
    norvik::Win32RegistryView registry;
    norvik::DeviceConfig config;
    norvik::LoadRegistryValues(registry, deviceKey, config);  // no key: the default file
    return norvik::TraceFilePath(norvik::Win32TracePlatformInstance(), config.traceFile.view(), deviceKey);
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

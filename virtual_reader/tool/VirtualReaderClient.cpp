#include "VirtualReaderClient.h"

#include <winioctl.h>
#include <setupapi.h>
#include <newdev.h>
#include <cfgmgr32.h>

extern "C" {
#include <hidsdi.h>
}

#include <cstring>

#include "Vorlex.h"
#include "common/win32/ComResources.h"

namespace vorlex::virtual_reader {
namespace {

using norvik::win32::UniqueFile;
using norvik::win32::UniqueHKey;

// The lengths each model reports through HidP_GetCaps, report ID included.
constexpr PluggableModel kModels[] = {
    {"basic-swipe", VORLEX_PID_BASIC_SWIPE, 338, 64},
    {"secure-swipe", VORLEX_PID_SECURE_SWIPE, 887, 64},
    {"basic-insert", VORLEX_PID_BASIC_INSERT, 338, 64},
    {"secure-insert", VORLEX_PID_SECURE_INSERT, 887, 64},
    {"foreign", 0, 338, 64},
};

const char* const kDriverFiles[] = {"VorlexVirtualBus.sys", "VorlexVirtualHid.sys"};
const char* const kServices[] = {"VorlexVirtualBus", "VorlexVirtualHid"};
constexpr char kInfName[] = "VorlexVirtualReader.inf";
constexpr DWORD kPollMilliseconds = 20;
// The Win32 error the driver's STATUS_NO_SUCH_DEVICE arrives as (ERROR_NO_SUCH_DEVICE,
// which mingw-w64 does not name).
constexpr DWORD kNoSuchDeviceError = 433;

struct DeviceInfoSetTraits {
    using Type = HDEVINFO;
    static Type Empty() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(Type set) noexcept { ::SetupDiDestroyDeviceInfoList(set); }
};
using UniqueDeviceInfoSet = norvik::win32::UniqueResource<DeviceInfoSetTraits>;

struct ServiceHandleTraits {
    using Type = SC_HANDLE;
    static Type Empty() noexcept { return nullptr; }
    static void Close(Type handle) noexcept { ::CloseServiceHandle(handle); }
};
using UniqueServiceHandle = norvik::win32::UniqueResource<ServiceHandleTraits>;

std::string LastErrorText(const std::string& what) { return what + " failed with error " + std::to_string(::GetLastError()); }

// The folder of the running program: the tool's, or the test's beside virtual-reader.
std::string ProgramDirectory() {
    char path[MAX_PATH] = {};
    const DWORD length = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string directory(path, length);
    const size_t slash = directory.find_last_of("\\/");
    return slash == std::string::npos ? std::string(".") : directory.substr(0, slash);
}

std::string WindowsDirectory() {
    char path[MAX_PATH] = {};
    ::GetWindowsDirectoryA(path, MAX_PATH);
    return path;
}

std::string SystemDirectory() {
    char path[MAX_PATH] = {};
    ::GetSystemDirectoryA(path, MAX_PATH);
    return path;
}

bool ControlDeviceAnswers() {
    ControlDevice control;
    return control.Open() == Outcome::Ok;
}

// Calls `action` for every device (any class, present or not) with one of our hardware IDs.
template <typename Action>
void ForEachOurDevice(Action action) {
    UniqueDeviceInfoSet set(::SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES));
    if (!set) return;
    SP_DEVINFO_DATA info{};
    info.cbSize = sizeof info;
    for (DWORD index = 0; ::SetupDiEnumDeviceInfo(set.get(), index, &info); ++index) {
        char ids[1024] = {};
        if (!::SetupDiGetDeviceRegistryPropertyA(set.get(), &info, SPDRP_HARDWAREID, nullptr,
                                                 reinterpret_cast<BYTE*>(ids), sizeof ids - 2, nullptr)) {
            continue;
        }
        for (const char* id = ids; *id; id += std::strlen(id) + 1) {
            if (_stricmp(id, VR_BUS_HARDWARE_ID) == 0 || _strnicmp(id, VR_CHILD_BUS_NAME "\\", 9) == 0) {
                action(set.get(), info);
                break;
            }
        }
    }
}

bool InfIsOurs(const std::string& path) {
    UniqueFile file(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) return false;
    char text[8192] = {};
    DWORD read = 0;
    ::ReadFile(file.get(), text, sizeof text - 1, &read, nullptr);
    return std::strstr(text, "VorlexVirtualReaderBus") != nullptr;
}

// Calls `action(fileName, path)` for every copy of our INF in %WINDIR%\inf
// (SetupAPI names its copies oem<N>.inf) until it returns false.
template <typename Action>
void ForEachOurInfCopy(Action action) {
    const std::string infDirectory = WindowsDirectory() + "\\inf\\";
    WIN32_FIND_DATAA found{};
    HANDLE search = ::FindFirstFileA((infDirectory + "*.inf").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        const std::string path = infDirectory + found.cFileName;
        if (InfIsOurs(path) && !action(found.cFileName, path)) break;
    } while (::FindNextFileA(search, &found));
    ::FindClose(search);
}

}  // namespace

const PluggableModel* FindPluggableModel(const std::string& name) {
    for (const auto& model : kModels) {
        if (name == model.name) return &model;
    }
    return nullptr;
}

const char* ModelNameOf(uint16_t vendorId, uint16_t productId) {
    if (vendorId == VORLEX_VENDOR_ID) {
        for (const auto& model : kModels) {
            if (model.productId == productId && productId != 0) return model.name;
        }
    }
    return "foreign";
}

Outcome ControlDevice::Open() {
    handle_.reset(::CreateFileA(VR_CONTROL_USER_PATH, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                                nullptr));
    return handle_ ? Outcome::Ok : Outcome::NotInstalled;
}

DWORD ControlDevice::Raw(DWORD code, const void* input, DWORD inputLength, void* output, DWORD outputLength,
                         DWORD& returned) {
    returned = 0;
    if (::DeviceIoControl(handle_.get(), code, const_cast<void*>(input), inputLength, output, outputLength,
                          &returned, nullptr)) {
        return ERROR_SUCCESS;
    }
    return ::GetLastError();
}

Outcome ControlDevice::Send(DWORD code, const void* input, DWORD inputLength, void* output, DWORD outputLength,
                            DWORD* returned) {
    DWORD count = 0;
    const DWORD error = Raw(code, input, inputLength, output, outputLength, count);
    if (returned != nullptr) *returned = count;
    if (error == ERROR_SUCCESS) return Outcome::Ok;
    if (error == kNoSuchDeviceError) {
        return Outcome::NoSuchDevice;
    }
    ::SetLastError(error);
    return Outcome::Failed;
}

Outcome ControlDevice::Plug(const VR_PLUG_REQUEST& request, VR_DEVICE_INFO& device) {
    return Send(IOCTL_VR_PLUG, &request, sizeof request, &device, sizeof device);
}

Outcome ControlDevice::Unplug(uint32_t serial) {
    const VR_DEVICE_REQUEST request{serial};
    return Send(IOCTL_VR_UNPLUG, &request, sizeof request, nullptr, 0);
}

Outcome ControlDevice::InjectInput(uint32_t serial, const std::vector<uint8_t>& report) {
    std::vector<uint8_t> buffer(sizeof(VR_REPORT_REQUEST) + report.size());
    const VR_REPORT_REQUEST header{serial, static_cast<unsigned int>(report.size())};
    std::memcpy(buffer.data(), &header, sizeof header);
    if (!report.empty()) std::memcpy(buffer.data() + sizeof header, report.data(), report.size());
    return Send(IOCTL_VR_INJECT_INPUT, buffer.data(), static_cast<DWORD>(buffer.size()), nullptr, 0);
}

Outcome ControlDevice::SetFeatureReply(uint32_t serial, const std::vector<uint8_t>& reply) {
    std::vector<uint8_t> buffer(sizeof(VR_REPORT_REQUEST) + reply.size());
    const VR_REPORT_REQUEST header{serial, static_cast<unsigned int>(reply.size())};
    std::memcpy(buffer.data(), &header, sizeof header);
    if (!reply.empty()) std::memcpy(buffer.data() + sizeof header, reply.data(), reply.size());
    return Send(IOCTL_VR_SET_FEATURE_REPLY, buffer.data(), static_cast<DWORD>(buffer.size()), nullptr, 0);
}

Outcome ControlDevice::LastFeature(uint32_t serial, std::vector<uint8_t>& request) {
    const VR_DEVICE_REQUEST query{serial};
    request.assign(VR_MAX_FEATURE_REPORT_LENGTH, 0);
    DWORD returned = 0;
    const Outcome outcome = Send(IOCTL_VR_GET_LAST_FEATURE, &query, sizeof query, request.data(),
                                 static_cast<DWORD>(request.size()), &returned);
    request.resize(outcome == Outcome::Ok ? returned : 0);
    return outcome;
}

Outcome ControlDevice::Status(std::vector<VR_DEVICE_INFO>& devices) {
    VR_STATUS status{};
    const Outcome outcome = Send(IOCTL_VR_STATUS, nullptr, 0, &status, sizeof status);
    devices.clear();
    if (outcome == Outcome::Ok) {
        for (unsigned int i = 0; i < status.count && i < VR_MAX_DEVICES; ++i) devices.push_back(status.devices[i]);
    }
    return outcome;
}

std::string InterfacePathOf(const VR_DEVICE_INFO& device) {
    GUID hidClass;
    ::HidD_GetHidGuid(&hidClass);
    UniqueDeviceInfoSet set(::SetupDiGetClassDevsA(&hidClass, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
    if (!set) return {};
    const std::wstring serial = L"VR" + std::to_wstring(device.serial);
    SP_DEVICE_INTERFACE_DATA interfaceData{};
    interfaceData.cbSize = sizeof interfaceData;
    for (DWORD index = 0; ::SetupDiEnumDeviceInterfaces(set.get(), nullptr, &hidClass, index, &interfaceData); ++index) {
        DWORD required = 0;
        ::SetupDiGetDeviceInterfaceDetailA(set.get(), &interfaceData, nullptr, 0, &required, nullptr);
        if (required <= sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) continue;
        std::vector<char> buffer(required);
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(buffer.data());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
        if (!::SetupDiGetDeviceInterfaceDetailA(set.get(), &interfaceData, detail, required, nullptr, nullptr)) continue;
        UniqueFile file(::CreateFileA(detail->DevicePath, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                      0, nullptr));
        if (!file) continue;
        HIDD_ATTRIBUTES attributes{};
        attributes.Size = sizeof attributes;
        if (!::HidD_GetAttributes(file.get(), &attributes) || attributes.VendorID != device.vendorId ||
            attributes.ProductID != device.productId) {
            continue;
        }
        wchar_t text[64] = {};
        if (::HidD_GetSerialNumberString(file.get(), text, sizeof text - sizeof text[0]) && serial == text) {
            return detail->DevicePath;
        }
    }
    return {};
}

bool WaitForInterface(const VR_DEVICE_INFO& device, bool visible, DWORD milliseconds) {
    const ULONGLONG deadline = ::GetTickCount64() + milliseconds;
    for (;;) {
        if (InterfacePathOf(device).empty() != visible) return true;
        if (::GetTickCount64() >= deadline) return false;
        ::Sleep(kPollMilliseconds);
    }
}

namespace {

// Whether the system holds the INF copy through which PnP installs the
// children's HID minidriver.
bool InfInstalled() {
    bool ours = false;
    ForEachOurInfCopy([&](const char*, const std::string&) {
        ours = true;
        return false;
    });
    return ours;
}

// An uninstall that found a driver image loaded scheduled its deletion for the
// next restart (under Wine: the next prefix start). Installing again cancels
// that, or the restart would delete the driver just installed.
void CancelPendingDeletionOfDriverFiles() {
    UniqueHKey key;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\Session Manager", 0,
                        KEY_QUERY_VALUE | KEY_SET_VALUE, key.put()) != ERROR_SUCCESS) {
        return;
    }
    constexpr char kValue[] = "PendingFileRenameOperations";
    DWORD type = 0;
    DWORD size = 0;
    if (::RegQueryValueExA(key.get(), kValue, nullptr, &type, nullptr, &size) != ERROR_SUCCESS || type != REG_MULTI_SZ) {
        return;
    }
    std::vector<char> operations(size + 2, '\0');
    if (::RegQueryValueExA(key.get(), kValue, nullptr, nullptr, reinterpret_cast<BYTE*>(operations.data()), &size) !=
        ERROR_SUCCESS) {
        return;
    }
    // Pairs of strings: source, then target (empty for a deletion).
    std::string kept;
    bool cancelled = false;
    for (const char* source = operations.data(); *source;) {
        const char* target = source + std::strlen(source) + 1;
        const char* next = *target ? target + std::strlen(target) + 1 : target + 1;
        bool ours = false;
        for (const char* file : kDriverFiles) {
            const size_t length = std::strlen(source);
            const size_t name = std::strlen(file);
            ours = ours || (*target == '\0' && length > name && source[length - name - 1] == '\\' &&
                            _stricmp(source + length - name, file) == 0);
        }
        if (ours) {
            cancelled = true;
        } else {
            kept.append(source, next - source);
        }
        source = next;
    }
    if (!cancelled) return;
    if (kept.empty()) {
        ::RegDeleteValueA(key.get(), kValue);
    } else {
        kept.push_back('\0');
        ::RegSetValueExA(key.get(), kValue, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(kept.data()),
                         static_cast<DWORD>(kept.size()));
    }
}

// Unplugs every device and waits until PnP has removed them. The control
// handle is closed on return: an open handle would keep the bus driver loaded.
void UnplugEverything() {
    ControlDevice control;
    if (control.Open() != Outcome::Ok) return;
    std::vector<VR_DEVICE_INFO> devices;
    control.Status(devices);
    control.Unplug(VR_ALL_DEVICES);
    for (const auto& device : devices) WaitForInterface(device, false, kTimeoutMilliseconds);
}

}  // namespace

Outcome Install(std::string& error) {
    // A running bus is not enough: after an uninstall under Wine the loaded
    // driver answers until the prefix stops, but its registration is gone.
    if (ControlDeviceAnswers() && InfInstalled()) return Outcome::Ok;
    CancelPendingDeletionOfDriverFiles();
    const std::string inf = ProgramDirectory() + "\\" + kInfName;
    if (::GetFileAttributesA(inf.c_str()) == INVALID_FILE_ATTRIBUTES) {
        error = "cannot find " + inf;
        return Outcome::Failed;
    }
    bool rootDevicePresent = false;
    ForEachOurDevice([&](HDEVINFO set, SP_DEVINFO_DATA& info) {
        char ids[256] = {};
        if (::SetupDiGetDeviceRegistryPropertyA(set, &info, SPDRP_HARDWAREID, nullptr, reinterpret_cast<BYTE*>(ids),
                                                sizeof ids - 2, nullptr) &&
            _stricmp(ids, VR_BUS_HARDWARE_ID) == 0) {
            rootDevicePresent = true;
        }
    });
    if (!rootDevicePresent) {
        GUID systemClass;
        DWORD classCount = 0;
        if (!::SetupDiClassGuidsFromNameA("System", &systemClass, 1, &classCount) || classCount == 0) {
            error = LastErrorText("looking up the System device class");
            return Outcome::Failed;
        }
        UniqueDeviceInfoSet set(::SetupDiCreateDeviceInfoList(&systemClass, nullptr));
        if (!set) {
            error = LastErrorText("SetupDiCreateDeviceInfoList");
            return Outcome::Failed;
        }
        SP_DEVINFO_DATA info{};
        info.cbSize = sizeof info;
        if (!::SetupDiCreateDeviceInfoA(set.get(), "VorlexVirtualReaderBus", &systemClass, nullptr, nullptr,
                                        DICD_GENERATE_ID, &info)) {
            error = LastErrorText("creating the root device");
            return Outcome::Failed;
        }
        static const char hardwareIds[] = VR_BUS_HARDWARE_ID "\0";
        if (!::SetupDiSetDeviceRegistryPropertyA(set.get(), &info, SPDRP_HARDWAREID,
                                                 reinterpret_cast<const BYTE*>(hardwareIds), sizeof hardwareIds) ||
            !::SetupDiCallClassInstaller(DIF_REGISTERDEVICE, set.get(), &info)) {
            error = LastErrorText("registering the root device");
            return Outcome::Failed;
        }
    }
    BOOL reboot = FALSE;
    if (!::UpdateDriverForPlugAndPlayDevicesA(nullptr, VR_BUS_HARDWARE_ID, inf.c_str(), INSTALLFLAG_FORCE, &reboot)) {
        error = LastErrorText("installing the driver from " + inf + " (UpdateDriverForPlugAndPlayDevices)");
        return Outcome::Failed;
    }
    const ULONGLONG deadline = ::GetTickCount64() + kTimeoutMilliseconds;
    while (!ControlDeviceAnswers()) {
        if (::GetTickCount64() >= deadline) {
            error = "the driver was installed but its control device did not appear within 10 s";
            return Outcome::TimedOut;
        }
        ::Sleep(kPollMilliseconds);
    }
    return Outcome::Ok;
}

Outcome Uninstall(std::string& error) {
    std::vector<std::string> leftovers;
    UnplugEverything();
    ForEachOurDevice([&](HDEVINFO set, SP_DEVINFO_DATA& info) {
        if (!::SetupDiCallClassInstaller(DIF_REMOVE, set, &info) && !::SetupDiRemoveDevice(set, &info)) {
            leftovers.push_back(LastErrorText("removing a device"));
        }
    });
    UniqueServiceHandle manager(::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    for (const char* name : kServices) {
        if (!manager) break;
        UniqueServiceHandle service(::OpenServiceA(manager.get(), name, SERVICE_STOP | DELETE));
        if (!service) continue;
        SERVICE_STATUS status{};
        ::ControlService(service.get(), SERVICE_CONTROL_STOP, &status);
        if (!::DeleteService(service.get()) && ::GetLastError() != ERROR_SERVICE_MARKED_FOR_DELETE) {
            leftovers.push_back(LastErrorText(std::string("deleting service ") + name));
        }
    }
    ForEachOurInfCopy([&](const char* fileName, const std::string& path) {
        if (!::SetupUninstallOEMInfA(fileName, SUOI_FORCEDELETE, nullptr) && !::DeleteFileA(path.c_str())) {
            leftovers.push_back(LastErrorText("deleting " + path));
        }
        const std::string pnf = path.substr(0, path.size() - 3) + "pnf";
        ::DeleteFileA(pnf.c_str());
        return true;
    });
    for (const char* file : kDriverFiles) {
        const std::string path = SystemDirectory() + "\\drivers\\" + file;
        if (::GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) continue;
        // A loaded image cannot go at once; it goes when the system restarts.
        if (!::DeleteFileA(path.c_str()) && !::MoveFileExA(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
            leftovers.push_back(LastErrorText("deleting " + path));
        }
    }
    if (leftovers.empty()) return Outcome::Ok;
    error = leftovers.front();
    for (size_t i = 1; i < leftovers.size(); ++i) error += "; " + leftovers[i];
    return Outcome::Failed;
}

int RunControlTool(const std::string& arguments, DWORD milliseconds) {
    std::string commandLine = "\"" + ProgramDirectory() + "\\virtual-reader\\VirtualReader.exe\" " + arguments;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!::CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                          &process)) {
        return -1;
    }
    norvik::win32::UniqueKernelHandle processHandle(process.hProcess);
    norvik::win32::UniqueKernelHandle threadHandle(process.hThread);
    if (::WaitForSingleObject(process.hProcess, milliseconds) != WAIT_OBJECT_0) {
        // A hung tool must not linger and hold the control device.
        ::TerminateProcess(process.hProcess, WAIT_TIMEOUT);
        ::WaitForSingleObject(process.hProcess, kTimeoutMilliseconds);
        return kControlToolTimedOut;
    }
    DWORD code = 0;
    return ::GetExitCodeProcess(process.hProcess, &code) ? static_cast<int>(code) : -1;
}

}  // namespace vorlex::virtual_reader

#include "platform/win32/Win32DeviceArrival.h"

#include <windows.h>
#include <dbt.h>

#include <cctype>
#include <cstdio>
#include <string>

#include "Vorlex.h"
#include "platform/win32/Win32Handles.h"

namespace norvik {
namespace {

// GUID_DEVINTERFACE_HID, without linking the HID library for it.
constexpr GUID kHidInterface = {0x4d1e55b2, 0xf16f, 0x11cf, {0x88, 0xcb, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
constexpr char kWindowClass[] = "NorvikMSRSO.DeviceArrival";
// Where the system lists the HID interfaces it knows; "#\Control" "Linked" 1
// marks those present.
constexpr char kHidInterfaces[] =
    "SYSTEM\\CurrentControlSet\\Control\\DeviceClasses\\{4d1e55b2-f16f-11cf-88cb-001111000030}";

std::string Lowercase(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// The interfaces of our vendor's devices that are present, one name each.
std::string PresentReaders() {
    win32::UniqueRegistryKey classKey;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kHidInterfaces, 0, KEY_READ, classKey.put()) != ERROR_SUCCESS) return {};
    char vendor[16];
    std::snprintf(vendor, sizeof vendor, "vid_%04x", static_cast<unsigned>(VORLEX_VENDOR_ID));
    std::string present;
    char name[512];
    for (DWORD index = 0;; ++index) {
        DWORD length = sizeof name;
        const LONG status = ::RegEnumKeyExA(classKey.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_MORE_DATA) continue;
        if (status != ERROR_SUCCESS) break;
        const std::string interfaceName = Lowercase(std::string(name, length));
        if (interfaceName.find(vendor) == std::string::npos) continue;
        DWORD linked = 0, size = sizeof linked;
        if (::RegGetValueA(classKey.get(), (interfaceName + "\\#\\Control").c_str(), "Linked", RRF_RT_REG_DWORD, nullptr,
                           &linked, &size) == ERROR_SUCCESS &&
            linked == 1) {
            present += interfaceName;
            present += '\n';
        }
    }
    return present;
}

HINSTANCE ThisModule() {
    HMODULE module = nullptr;
    ::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                         reinterpret_cast<LPCSTR>(&ThisModule), &module);
    return module;
}

class Win32ArrivalWatch final : public ArrivalWatch {
public:
    Win32ArrivalWatch() = default;
    Win32ArrivalWatch(const Win32ArrivalWatch&) = delete;
    Win32ArrivalWatch& operator=(const Win32ArrivalWatch&) = delete;

    bool Open() {
        wake_.reset(::CreateEventA(nullptr, FALSE, FALSE, nullptr));
        if (!wake_) return false;
        WNDCLASSA windowClass{};
        windowClass.lpfnWndProc = &WindowProc;
        windowClass.hInstance = ThisModule();
        windowClass.lpszClassName = kWindowClass;
        ::RegisterClassA(&windowClass);  // fails harmlessly when registered already
        window_.reset(::CreateWindowExA(0, kWindowClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, ThisModule(),
                                        nullptr));
        if (!window_) return false;
        ::SetWindowLongPtrA(window_.get(), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        DEV_BROADCAST_DEVICEINTERFACE_A filter{};
        filter.dbcc_size = sizeof filter;
        filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
        filter.dbcc_classguid = kHidInterface;
        notification_.reset(::RegisterDeviceNotificationA(window_.get(), &filter, DEVICE_NOTIFY_WINDOW_HANDLE));
        // The registry's own notice of a change to the interface list wakes
        // the wait too; without it the watch looks on its timer.
        change_.reset(::CreateEventA(nullptr, FALSE, FALSE, nullptr));
        if (change_ && ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kHidInterfaces, 0, KEY_NOTIFY, interfaces_.put()) ==
                           ERROR_SUCCESS) {
            endsOnChange_ = ArmChangeNotice();
        }
        return static_cast<bool>(notification_) || endsOnChange_;
    }

    bool Wait(std::chrono::milliseconds timeout) override {
        const ULONGLONG deadline = ::GetTickCount64() + static_cast<ULONGLONG>(timeout.count());
        HANDLE waitables[] = {wake_.get(), change_.get()};
        const DWORD count = endsOnChange_ ? 2 : 1;
        for (;;) {
            MSG message;
            while (::PeekMessageA(&message, window_.get(), 0, 0, PM_REMOVE)) ::DispatchMessageA(&message);
            if (arrived_) {
                arrived_ = false;
                return true;
            }
            const ULONGLONG now = ::GetTickCount64();
            if (now >= deadline) return false;
            const DWORD woken = ::MsgWaitForMultipleObjects(count, waitables, FALSE,
                                                            static_cast<DWORD>(deadline - now), QS_ALLINPUT);
            if (woken == WAIT_OBJECT_0) return false;
            if (woken == WAIT_OBJECT_0 + 1) {  // the list changed: the caller looks
                endsOnChange_ = ArmChangeNotice();
                return false;
            }
        }
    }

    void Wake() override { ::SetEvent(wake_.get()); }

    bool EndsOnChange() const override { return endsOnChange_; }

    bool ReadersChanged() override {
        std::string present = PresentReaders();
        const bool changed = present != lastPresent_ && !present.empty();
        lastPresent_ = std::move(present);
        return changed;
    }

private:
    bool ArmChangeNotice() {
        return ::RegNotifyChangeKeyValue(interfaces_.get(), TRUE, REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET,
                                         change_.get(), TRUE) == ERROR_SUCCESS;
    }

    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_DEVICECHANGE && wParam == DBT_DEVICEARRIVAL) {
            auto* self = reinterpret_cast<Win32ArrivalWatch*>(::GetWindowLongPtrA(window, GWLP_USERDATA));
            if (self != nullptr) self->arrived_ = true;
            return TRUE;
        }
        return ::DefWindowProcA(window, message, wParam, lParam);
    }

    win32::UniqueKernelHandle wake_;
    win32::UniqueKernelHandle change_;
    win32::UniqueRegistryKey interfaces_;
    bool endsOnChange_ = false;
    win32::UniqueWindow window_;
    win32::UniqueDeviceNotification notification_;  // declared after the window: unregistered before it goes
    bool arrived_ = false;     // touched only on the listening thread
    std::string lastPresent_;  // what the last cheap look found
};

}  // namespace

std::unique_ptr<ArrivalWatch> Win32DeviceArrival::Listen() {
    auto watch = std::make_unique<Win32ArrivalWatch>();
    if (!watch->Open()) return nullptr;
    return watch;
}

}  // namespace norvik

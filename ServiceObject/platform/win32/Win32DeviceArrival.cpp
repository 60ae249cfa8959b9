#include "platform/win32/Win32DeviceArrival.h"

#include <windows.h>
#include <dbt.h>

#include "common/win32/UniqueResource.h"

namespace norvik {
namespace {

// GUID_DEVINTERFACE_HID, without linking the HID library for it.
constexpr GUID kHidInterface = {0x4d1e55b2, 0xf16f, 0x11cf, {0x88, 0xcb, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
constexpr char kWindowClass[] = "NorvikMSRSO.DeviceArrival";

struct WindowTraits {
    using Type = HWND;
    static Type Empty() noexcept { return nullptr; }
    static void Close(Type window) noexcept { ::DestroyWindow(window); }
};
struct DeviceNotificationTraits {
    using Type = HDEVNOTIFY;
    static Type Empty() noexcept { return nullptr; }
    static void Close(Type notification) noexcept { ::UnregisterDeviceNotification(notification); }
};
using UniqueWindow = win32::UniqueResource<WindowTraits>;
using UniqueDeviceNotification = win32::UniqueResource<DeviceNotificationTraits>;

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
        return static_cast<bool>(notification_);
    }

    bool Wait(std::chrono::milliseconds timeout) override {
        const ULONGLONG deadline = ::GetTickCount64() + static_cast<ULONGLONG>(timeout.count());
        HANDLE wake = wake_.get();
        for (;;) {
            MSG message;
            while (::PeekMessageA(&message, window_.get(), 0, 0, PM_REMOVE)) ::DispatchMessageA(&message);
            if (arrived_) {
                arrived_ = false;
                return true;
            }
            const ULONGLONG now = ::GetTickCount64();
            if (now >= deadline) return false;
            const DWORD woken = ::MsgWaitForMultipleObjects(1, &wake, FALSE, static_cast<DWORD>(deadline - now),
                                                            QS_ALLINPUT);
            if (woken == WAIT_OBJECT_0) return false;
        }
    }

    void Wake() override { ::SetEvent(wake_.get()); }

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_DEVICECHANGE && wParam == DBT_DEVICEARRIVAL) {
            auto* self = reinterpret_cast<Win32ArrivalWatch*>(::GetWindowLongPtrA(window, GWLP_USERDATA));
            if (self != nullptr) self->arrived_ = true;
            return TRUE;
        }
        return ::DefWindowProcA(window, message, wParam, lParam);
    }

    win32::UniqueKernelHandle wake_;
    UniqueWindow window_;
    UniqueDeviceNotification notification_;  // declared after the window: unregistered before it goes
    bool arrived_ = false;  // touched only on the listening thread
};

}  // namespace

std::unique_ptr<ArrivalWatch> Win32DeviceArrival::Listen() {
    auto watch = std::make_unique<Win32ArrivalWatch>();
    if (!watch->Open()) return nullptr;
    return watch;
}

}  // namespace norvik

// Owning wrappers for the Win32 resources of the service object's adapters.
// Each wrapper's "empty" value is the one its API returns on failure.
#pragma once

#include <windows.h>

#include "common/win32/UniqueResource.h"

namespace norvik::win32 {

struct RegistryKeyTraits {
    using Type = HKEY;
    static Type Empty() noexcept { return nullptr; }
    static void Close(Type key) noexcept { ::RegCloseKey(key); }
};

struct MappedViewTraits {
    using Type = void*;
    static Type Empty() noexcept { return nullptr; }
    static void Close(Type view) noexcept { ::UnmapViewOfFile(view); }
};

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

using UniqueRegistryKey = UniqueResource<RegistryKeyTraits>;
using UniqueMappedView = UniqueResource<MappedViewTraits>;
using UniqueWindow = UniqueResource<WindowTraits>;
using UniqueDeviceNotification = UniqueResource<DeviceNotificationTraits>;

}  // namespace norvik::win32

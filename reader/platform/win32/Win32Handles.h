// Owning wrappers for the Win32 resources of the HID transport. Each wrapper's
// "empty" value is the one its API uses for failure: INVALID_HANDLE_VALUE for
// files and device-information sets, NULL for events and preparsed data.
#pragma once

#include <windows.h>
#include <setupapi.h>

extern "C" {
#include <hidsdi.h>
}

#include "common/win32/UniqueResource.h"

namespace vorlex::win32 {

using norvik::win32::UniqueFile;
using norvik::win32::UniqueResource;
using UniqueEvent = norvik::win32::UniqueKernelHandle;

struct DeviceInfoSetTraits {
    using Type = HDEVINFO;
    static Type Empty() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(Type set) noexcept { ::SetupDiDestroyDeviceInfoList(set); }
};

struct PreparsedDataTraits {
    using Type = PHIDP_PREPARSED_DATA;
    static Type Empty() noexcept { return nullptr; }
    static void Close(Type data) noexcept { ::HidD_FreePreparsedData(data); }
};

using UniqueDeviceInfoSet = UniqueResource<DeviceInfoSetTraits>;
using UniquePreparsedData = UniqueResource<PreparsedDataTraits>;

}  // namespace vorlex::win32

// The reader library's platform on Windows: the SetupAPI/HID bus and the
// kernel's pointer checks.
#include "platform/Platform.h"

#include "platform/win32/Win32HidBus.h"
#include "platform/win32/Win32Handles.h"

namespace vorlex::platform {

std::unique_ptr<HidBus> CreateSystemHidBus() { return win32::CreateWin32HidBus(); }

// IsBad*Ptr accept null for a size of 0; the interface never does.
bool IsReadable(const void* pointer, size_t size) {
    return pointer != nullptr && !::IsBadReadPtr(pointer, size);
}

bool IsWritable(void* pointer, size_t size) {
    return pointer != nullptr && !::IsBadWritePtr(pointer, size);
}

}  // namespace vorlex::platform

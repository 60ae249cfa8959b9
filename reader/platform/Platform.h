// What the reader library needs of its platform besides the HID bus.
#pragma once

#include <cstddef>
#include <memory>

#include "core/HidTransport.h"

namespace vorlex::platform {

// The system's HID bus (SetupAPI and the HID class driver on Windows; an
// empty bus elsewhere).
std::unique_ptr<HidBus> CreateSystemHidBus();

// Pointer checks of the interface: the first `size` bytes can be read / written.
bool IsReadable(const void* pointer, size_t size);
bool IsWritable(void* pointer, size_t size);

}  // namespace vorlex::platform

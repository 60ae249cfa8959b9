// The service object's view of HKEY_LOCAL_MACHINE through the Win32 registry
// API (ANSI calls, KEY_READ).
#pragma once

#include "seams/RegistryView.h"

namespace norvik {

// Value names are read into 128 characters and data into 1024 bytes; a name
// or value that does not fit reads as failed. REG_SZ data ends at its first
// NUL or at the returned size, whichever comes first.
class Win32RegistryView final : public RegistryView {
public:
    std::unique_ptr<RegistryKey> OpenKeyForRead(const std::string& path) override;
};

}  // namespace norvik

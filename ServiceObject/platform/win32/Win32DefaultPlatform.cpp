#include "platform/DefaultPlatform.h"

#include "platform/win32/Win32ClaimMemory.h"
#include "platform/win32/Win32RegistryView.h"

namespace norvik {

RegistryView& DefaultRegistryView() {
    static Win32RegistryView registry;
    return registry;
}

// One mapping per process, made on first use.
ClaimMemory& DefaultClaimMemory() {
    static Win32ClaimMemory claims;
    return claims;
}

}  // namespace norvik

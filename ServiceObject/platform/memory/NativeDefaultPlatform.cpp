#include "platform/DefaultPlatform.h"
#include "platform/memory/NativePlatform.h"

namespace norvik {

InMemoryRegistryView& NativeRegistry() {
    static InMemoryRegistryView registry;
    return registry;
}

InMemoryClaimMemory& NativeClaimMemory() {
    static InMemoryClaimMemory claims;
    return claims;
}

RegistryView& DefaultRegistryView() { return NativeRegistry(); }
ClaimMemory& DefaultClaimMemory() { return NativeClaimMemory(); }

}  // namespace norvik

#include "composition/DefaultEnvironment.h"

#include "platform/SystemClock.h"
#ifdef _WIN32
#include "platform/win32/Win32ClaimMemory.h"
#include "platform/win32/Win32DeviceArrival.h"
#include "platform/win32/Win32RegistryView.h"
#include "platform/win32/Win32TracePlatform.h"
#else
#include "platform/memory/InMemoryClaimMemory.h"
#include "platform/memory/InMemoryRegistryView.h"
#include "platform/memory/StdioTracePlatform.h"
#endif

namespace norvik {

#ifdef _WIN32
RegistryView& DefaultRegistryView() {
    static Win32RegistryView registry;
    return registry;
}

// One mapping per process, made on first use.
ClaimMemory& DefaultClaimMemory() {
    static Win32ClaimMemory claims;
    return claims;
}

TracePlatform& DefaultTracePlatform() { return Win32TracePlatformInstance(); }

DeviceArrival* DefaultDeviceArrival() {
    static Win32DeviceArrival arrival;
    return &arrival;
}
#else
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
TracePlatform& DefaultTracePlatform() { return StdioTracePlatformInstance(); }
DeviceArrival* DefaultDeviceArrival() { return nullptr; }
#endif

ServiceEnvironment WithPlatformDefaults(ServiceEnvironment environment) {
    if (environment.registry == nullptr) environment.registry = &DefaultRegistryView();
    if (environment.claims == nullptr) environment.claims = &DefaultClaimMemory();
    if (environment.clock == nullptr) environment.clock = &SystemClock();
    if (environment.trace == nullptr) environment.trace = &DefaultTracePlatform();
    if (environment.arrival == nullptr) environment.arrival = DefaultDeviceArrival();
    return environment;
}

}  // namespace norvik

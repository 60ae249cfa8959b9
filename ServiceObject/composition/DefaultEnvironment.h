// Owns: the platform's default adapters of the service object, one each per
//       process, made on first use, gone with the module.
// Threads: any; each adapter guards itself.
// Lock: none of ours.
//
// The one place that picks adapters: the Win32 registry, claim table and
// trace files in the product, in-memory ones and stdio natively. The COM
// adapter and the tests compose their environments here.
#pragma once

#include "instance/ServiceObjectCore.h"

namespace norvik {

class InMemoryRegistryView;
class InMemoryClaimMemory;

RegistryView& DefaultRegistryView();
ClaimMemory& DefaultClaimMemory();
TracePlatform& DefaultTracePlatform();
// Null where the platform cannot tell of new devices (a lost reader is then polled for).
DeviceArrival* DefaultDeviceArrival();

// `environment` with every unset member taken from the defaults above.
ServiceEnvironment WithPlatformDefaults(ServiceEnvironment environment);

#ifndef _WIN32
// Native builds: the in-memory defaults themselves, so that tests can fill and reset them.
InMemoryRegistryView& NativeRegistry();
InMemoryClaimMemory& NativeClaimMemory();
#endif

}  // namespace norvik

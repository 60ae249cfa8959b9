// The platform services that the service object uses when its environment
// names none: the Win32 registry and the shared claim table in the product,
// process-wide in-memory ones in native builds. Each lives until the process
// (or the DLL) ends.
#pragma once

namespace norvik {

class RegistryView;
class ClaimMemory;

RegistryView& DefaultRegistryView();
ClaimMemory& DefaultClaimMemory();

}  // namespace norvik

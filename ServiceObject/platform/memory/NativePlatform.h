// Native builds only: the in-memory instances behind DefaultRegistryView()
// and DefaultClaimMemory(), so that tests can fill and reset them.
#pragma once

#include "platform/InMemoryClaimMemory.h"
#include "platform/InMemoryRegistryView.h"

namespace norvik {

InMemoryRegistryView& NativeRegistry();
InMemoryClaimMemory& NativeClaimMemory();

}  // namespace norvik

// The claims of logical device names in the table shared by every process.
#pragma once

#include <string_view>

#include "seams/ClaimMemory.h"

namespace norvik {

enum class ClaimResult { Granted, HeldElsewhere, TableFull, NameTooLong, Unavailable, TimedOut };

// Each step first frees the slots whose holder is known to have ended (a
// process that died holding its claim), so such a claim never blocks for ever.

// Test and record a claim of `name` as one step across processes; the slot
// records the calling process as its holder.
ClaimResult ClaimName(ClaimMemory& memory, std::string_view name);
// Frees every slot that holds `name`; anything but Done means the table was
// not reached and the name may still be recorded.
ClaimAccess ReleaseName(ClaimMemory& memory, std::string_view name);
// Whether a slot holds `name`; false also when the table could not be read,
// and then `access` tells why.
bool IsNameClaimed(ClaimMemory& memory, std::string_view name, ClaimAccess* access = nullptr);

}  // namespace norvik

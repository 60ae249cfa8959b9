// The claims of logical device names in the table shared by every process.
#pragma once

#include <string_view>

namespace norvik {

class ClaimMemory;

enum class ClaimResult { Granted, HeldElsewhere, TableFull, NameTooLong, Unavailable };

// Test and record a claim of `name` as one step across processes.
ClaimResult ClaimName(ClaimMemory& memory, std::string_view name);
// Frees every slot that holds `name`.
void ReleaseName(ClaimMemory& memory, std::string_view name);
// Whether a slot holds `name`.
bool IsNameClaimed(ClaimMemory& memory, std::string_view name);

}  // namespace norvik

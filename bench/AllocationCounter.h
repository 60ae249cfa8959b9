// Counts every heap allocation of the process (global operator new), so a
// benchmark can prove that a path allocates nothing.
#pragma once

#include <atomic>
#include <cstdint>

namespace bench {

uint64_t AllocationCount();

}  // namespace bench

#include "platform/memory/InMemoryClaimMemory.h"

#include <cstring>

namespace norvik {

ClaimAccess InMemoryClaimMemory::Access(const std::function<void(char (&table)[kClaimTableSize])>& action) {
    std::lock_guard<std::mutex> lock(mutex_);
    action(table_);
    return ClaimAccess::Done;
}

void InMemoryClaimMemory::Reset() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::memset(table_, 0, sizeof table_);
}

}  // namespace norvik

#include "logic/ClaimTable.h"

#include <cstring>

#include "seams/ClaimMemory.h"

namespace norvik {
namespace {

using Table = char[kClaimTableSize];

std::string_view SlotName(const Table& table, size_t slot) {
    const char* chars = table + slot * kClaimSlotSize;
    return std::string_view(chars, ::strnlen(chars, kClaimSlotSize - 1));
}

bool Holds(const Table& table, size_t slot, std::string_view name) {
    return table[slot * kClaimSlotSize] != '\0' && SlotName(table, slot) == name;
}

}  // namespace

ClaimResult ClaimName(ClaimMemory& memory, std::string_view name) {
    // A slot holds 31 characters; a longer name is refused rather than cut,
    // since a cut name would claim another device.
    if (name.empty() || name.size() >= kClaimSlotSize) return ClaimResult::NameTooLong;
    ClaimResult result = ClaimResult::Unavailable;
    const ClaimAccess access = memory.Access([&](Table& table) {
        for (size_t slot = 0; slot < kClaimSlotCount; ++slot) {
            if (Holds(table, slot, name)) {
                result = ClaimResult::HeldElsewhere;
                return;
            }
        }
        for (size_t slot = 0; slot < kClaimSlotCount; ++slot) {
            char* chars = table + slot * kClaimSlotSize;
            if (chars[0] == '\0') {
                std::memset(chars, 0, kClaimSlotSize);
                std::memcpy(chars, name.data(), name.size());
                result = ClaimResult::Granted;
                return;
            }
        }
        result = ClaimResult::TableFull;
    });
    if (access.status() == ClaimAccess::TimedOut) return ClaimResult::TimedOut;
    return result;
}

void ReleaseName(ClaimMemory& memory, std::string_view name) {
    memory.Access([&](Table& table) {
        for (size_t slot = 0; slot < kClaimSlotCount; ++slot) {
            if (Holds(table, slot, name)) table[slot * kClaimSlotSize] = '\0';
        }
    });
}

bool IsNameClaimed(ClaimMemory& memory, std::string_view name, ClaimAccess* access) {
    bool claimed = false;
    const ClaimAccess result = memory.Access([&](Table& table) {
        for (size_t slot = 0; slot < kClaimSlotCount; ++slot) claimed = claimed || Holds(table, slot, name);
    });
    if (access) *access = result;
    return claimed;
}

}  // namespace norvik

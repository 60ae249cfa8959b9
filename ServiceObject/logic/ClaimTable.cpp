#include "logic/ClaimTable.h"

#include <cstring>

#include "seams/ClaimMemory.h"

namespace norvik {
namespace {

std::string_view Bounded(const char* chars) { return std::string_view(chars, ::strnlen(chars, kClaimSlotSize - 1)); }

std::string_view SlotName(const ClaimTableView& table, size_t slot) {
    return Bounded(table.names + slot * kClaimSlotSize);
}

bool Holds(const ClaimTableView& table, size_t slot, std::string_view name) {
    return table.names[slot * kClaimSlotSize] != '\0' && SlotName(table, slot) == name;
}

void FreeSlot(ClaimTableView& table, size_t slot) {
    table.names[slot * kClaimSlotSize] = '\0';
    std::memset(&table.holders[slot], 0, sizeof table.holders[slot]);
}

// A slot whose recorded holder has ended is free: nobody else can release it.
void FreeAbandoned(ClaimMemory& memory, ClaimTableView& table) {
    for (size_t slot = 0; slot < kClaimSlotCount; ++slot) {
        const ClaimHolder& holder = table.holders[slot];
        if (table.names[slot * kClaimSlotSize] == '\0' || holder.processId == 0) continue;
        if (Bounded(holder.name) != SlotName(table, slot)) continue;  // not the holder of this claim
        if (memory.HasEnded({holder.processId, holder.startTime})) FreeSlot(table, slot);
    }
}

}  // namespace

ClaimResult ClaimName(ClaimMemory& memory, std::string_view name) {
    // A slot holds 31 characters; a longer name is refused rather than cut,
    // since a cut name would claim another device.
    if (name.empty() || name.size() >= kClaimSlotSize) return ClaimResult::NameTooLong;
    const ProcessIdentity self = memory.CurrentProcess();
    ClaimResult result = ClaimResult::Unavailable;
    const ClaimAccess access = memory.AccessTable([&](ClaimTableView& table) {
        FreeAbandoned(memory, table);
        for (size_t slot = 0; slot < kClaimSlotCount; ++slot) {
            if (Holds(table, slot, name)) {
                result = ClaimResult::HeldElsewhere;
                return;
            }
        }
        for (size_t slot = 0; slot < kClaimSlotCount; ++slot) {
            char* chars = table.names + slot * kClaimSlotSize;
            if (chars[0] == '\0') {
                std::memset(chars, 0, kClaimSlotSize);
                std::memcpy(chars, name.data(), name.size());
                ClaimHolder& holder = table.holders[slot];
                std::memset(&holder, 0, sizeof holder);
                holder.processId = self.processId;
                holder.startTime = self.startTime;
                std::memcpy(holder.name, name.data(), name.size());
                result = ClaimResult::Granted;
                return;
            }
        }
        result = ClaimResult::TableFull;
    });
    if (access.status() == ClaimAccess::TimedOut) return ClaimResult::TimedOut;
    return result;
}

ClaimAccess ReleaseName(ClaimMemory& memory, std::string_view name) {
    return memory.AccessTable([&](ClaimTableView& table) {
        for (size_t slot = 0; slot < kClaimSlotCount; ++slot) {
            if (Holds(table, slot, name)) FreeSlot(table, slot);
        }
    });
}

bool IsNameClaimed(ClaimMemory& memory, std::string_view name, ClaimAccess* access) {
    bool claimed = false;
    const ClaimAccess result = memory.AccessTable([&](ClaimTableView& table) {
        FreeAbandoned(memory, table);
        for (size_t slot = 0; slot < kClaimSlotCount; ++slot) claimed = claimed || Holds(table, slot, name);
    });
    if (access) *access = result;
    return claimed;
}

}  // namespace norvik

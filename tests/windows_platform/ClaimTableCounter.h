// A 32-bit counter in the first bytes of a claim table, shared by the
// claim-memory test and its child process. Each increment yields between its
// read and its write, so that two processes not excluding each other would
// lose increments.
#pragma once

#include <windows.h>

#include <cstdint>
#include <cstring>

#include "seams/ClaimMemory.h"

namespace norvik::claimtest {

inline uint32_t ReadCounter(const char (&table)[kClaimTableSize]) {
    uint32_t value;
    std::memcpy(&value, table, sizeof value);
    return value;
}

inline bool IncrementCounter(ClaimMemory& claims) {
    return static_cast<bool>(claims.Access([](char(&table)[kClaimTableSize]) {
        const uint32_t value = ReadCounter(table) + 1;
        ::SwitchToThread();
        std::memcpy(table, &value, sizeof value);
    }));
}

}  // namespace norvik::claimtest

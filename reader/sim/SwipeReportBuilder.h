// Builds the input report that a reader of a given model sends for a swipe,
// so that the simulator, tests and benchmarks can feed realistic reports.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/ModelTable.h"

namespace vorlex {

struct SwipeTracks {
    const char* track[3] = {"", "", ""};  // card characters, with sentinels
    int8_t decodeStatus[3] = {0, 0, 0};
    int8_t encodeType = 0;
};

// Writes a report of `reportLength` bytes (at most `capacity`) into `report`
// and returns its length. Plain models carry the tracks as characters. An
// encrypting model carries them enciphered as bytes, with masked tracks (the
// account number masked in the middle), a serial number, the two auxiliary
// blocks and an authentication block derived from the tracks.
size_t BuildSwipeReport(const ModelSwitches& model, const SwipeTracks& tracks, size_t reportLength,
                        uint8_t* report, size_t capacity);

// The account number of a track masked as an encrypting reader masks it:
// first six and last four digits kept, the others replaced by '*'.
void MaskAccountNumber(const char* track, char* masked, size_t capacity);

}  // namespace vorlex

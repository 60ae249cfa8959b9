// The readers the library accepts: one row per USB product ID, each with the
// report layout switches of its model.
#pragma once

#include <cstdint>

namespace vorlex {

struct ModelSwitches {
    bool hasFluxScribe = false;    // authentication block; names come from the masked tracks
    bool hexTrackData = false;     // 112-byte track fields rendered as hexadecimal text
    bool hasMaskedTracks = false;
    bool hasAuxBlock8 = false;
    bool hasAuxBlock10 = false;
    bool hasSerialNumber = false;
};

struct ReaderModel {
    uint16_t productId;
    const char* name;  // descriptive only
    ModelSwitches switches;
};

// Looks `productId` up in the model table. On a match returns the row;
// otherwise null.
const ReaderModel* FindReaderModel(uint16_t productId);

}  // namespace vorlex

// The data properties of a delivered swipe: track texts with or without
// sentinels, discretionary data, the bank-card properties parsed from the
// track 1 name field and the account field of track 1 or 2, and the encrypted
// and authentication texts of encrypting readers.
//
// Concurrency: none inside; the caller serialises access to the property
// block and the current record.
// Ownership: works on the caller's block and record; allocates nothing, and
// every stored text is cut to its property's capacity. Record texts are read
// only up to their field width, so a record without terminators is safe.
#pragma once

#include <cstdint>
#include <string_view>

#include "Vorlex.h"
#include "logic/PropertyBlock.h"

namespace norvik {

// Derives every data property from `current` by the block's reader kind,
// TracksToRead, ParseDecodeData and TransmitSentinels. The texts of tracks
// that TracksToRead leaves out are emptied in `current` too, so a later
// ProcessSentinels cannot bring them back.
void BuildDataProperties(PropertyBlock& props, VorlexCardData& current);

// Rebuilds Track1Data to Track3Data from `current` by TransmitSentinels.
// Without sentinels, a track of 5 characters or fewer keeps its present value.
void ProcessSentinels(PropertyBlock& props, const VorlexCardData& current);

// The Status of a data event: the lengths of Track1Data, Track2Data and
// Track3Data in bits 0-7, 8-15 and 16-23.
int32_t DataEventStatus(const PropertyBlock& props);

// Empties the card, track, discretionary, encrypted and authentication texts
// and zeroes their lengths. CapCardAuthentication, CardType and
// CardPropertyList stay.
// Every text that held card data, wiped with writes that are never dropped.
void WipeCardProperties(PropertyBlock& props);
void ClearInputPropertyValues(PropertyBlock& props);

// The present value of one of the card properties named in CardPropertyList
// (exact, case-sensitive). False for any other name; `value` is then left
// alone. `value` refers into `props`.
bool LookupCardProperty(const PropertyBlock& props, std::string_view name, std::string_view& value);

}  // namespace norvik

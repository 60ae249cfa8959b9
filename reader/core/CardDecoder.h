// Decoding of one swipe report into the card data store, and the two views
// a client copies out of it: the fixed-layout record and the card data text.
//
// Pure byte and string logic: no platform, no threads. The caller
// serialises access to a store.
#pragma once

#include <cstddef>
#include <cstdint>

#include "Vorlex.h"
#include "common/BoundedText.h"
#include "core/ModelTable.h"

namespace vorlex {

using norvik::Text;

// Size of every report, command and reply buffer of the library.
constexpr size_t kReportBufferSize = 4096;
// Track, masked track and authentication data lengths outside 0..127 are not used.
constexpr int32_t kMaxDataLength = 127;

struct CardDataStore {
    Text<256> Track1Text, Track2Text, Track3Text;
    Text<512> AllTracksText;
    Text<256> MaskedTrack1Text, MaskedTrack2Text, MaskedTrack3Text;
    Text<512> AllMaskedTracksText;
    Text<512> FluxScribeHex;
    Text<9> FluxScribeStatusText;
    Text<256> CardEncodeTypeName;
    Text<256> SerialNumberText;
    Text<256> AuxBlock10Hex;
    Text<256> AuxBlock8Hex;
    Text<256> ParsedFirstName, ParsedLastName, ParsedAccountNumber;
    Text<256> ParsedExpirationYear, ParsedExpirationMonth;

    int32_t Track1Length = 0, Track2Length = 0, Track3Length = 0;
    int32_t MaskedTrack1Length = 0, MaskedTrack2Length = 0, MaskedTrack3Length = 0;
    int32_t Track1DecodeStatus = 0, Track2DecodeStatus = 0, Track3DecodeStatus = 0;
    int32_t CardEncodeType = 0;
    int32_t FluxScribeLength = 0;
    int32_t FluxScribeStatus = 0;
    int32_t DecodeFailed = 0;
    int32_t ProductID = 0;

    // Raw bytes as taken from the report, each followed by a zero byte.
    uint8_t rawTrack[3][257] = {};
    uint8_t rawMaskedTrack[3][257] = {};
    uint8_t rawFluxScribe[129] = {};
    uint8_t rawSerialNumber[17] = {};
    uint8_t rawAuxBlock10[11] = {};
    uint8_t rawAuxBlock8[9] = {};
};

// Decodes `report` (kReportBufferSize bytes) into the store's numbers and raw buffers.
void GetMSRResults(CardDataStore& store, const uint8_t* report, const ModelSwitches& model);
// Renders the raw buffers into the texts and runs ExtractData. The caller
// then sets the card-data state to 1.
void UpdateData(CardDataStore& store, const ModelSwitches& model);
// Name, account number and expiration from the current track texts.
void ExtractData(CardDataStore& store, const ModelSwitches& model);
// Empties the store; CardEncodeType, DecodeFailed, FluxScribeStatusText and
// ProductID keep the last swipe's values.
void ClearCardData(CardDataStore& store);

// Writes `count` bytes (from byte 3 when `skipHeader`) as upper-case hexadecimal
// pairs into `out`, emptied first and cut to whole pairs within `outCapacity`.
void BytesToHex(const uint8_t* bytes, int count, char* out, size_t outCapacity, bool skipHeader);
// The name of an encode type code; empty for unknown codes.
const char* CardEncodeTypeName(int32_t code);

void FillRecord(const CardDataStore& store, VorlexCardData& record);
// Builds the card data text into `out` (kReportBufferSize bytes), cut at
// kReportBufferSize - 1 characters and terminated. Returns its length.
size_t BuildCardDataText(const CardDataStore& store, const char* separator, char* out);

}  // namespace vorlex

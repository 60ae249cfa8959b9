// Summaries of card data that are safe to trace: an account number shows at
// most its first six and last four digits, tracks, names and encrypted blocks
// only their lengths, and reader replies only theirs.
#pragma once

#include <cstddef>
#include <string_view>

#include "Vorlex.h"

namespace norvik {

constexpr size_t kMaskedAccountCapacity = 40;

// "411111******1111"; a number too short to hide its middle shows only stars.
void MaskAccountNumber(std::string_view number, char (&out)[kMaskedAccountCapacity]);

// One line about a swipe: the fetch result, product, per-track lengths and
// decode statuses, the encoding, the masked account number and the lengths of
// the encrypted blocks. Never a track text, name or block.
void SummarizeCardRecord(const VorlexCardData& record, int fetchResult, char* out, size_t capacity);

}  // namespace norvik

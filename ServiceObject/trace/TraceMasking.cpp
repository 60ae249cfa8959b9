#include "trace/TraceMasking.h"

#include <cstdio>
#include <cstring>

namespace norvik {
namespace {

constexpr size_t kShownHead = 6;
constexpr size_t kShownTail = 4;
// Below this many characters, head and tail together would reveal too much.
constexpr size_t kShortestMaskable = kShownHead + kShownTail + 3;

// Lengths as printf takes them everywhere (no %zu in every Windows C runtime).
unsigned Length(const char* text, size_t capacity) { return static_cast<unsigned>(::strnlen(text, capacity)); }

}  // namespace

void MaskAccountNumber(std::string_view number, char (&out)[kMaskedAccountCapacity]) {
    const size_t length = number.size() < kMaskedAccountCapacity - 1 ? number.size() : kMaskedAccountCapacity - 1;
    const bool showEnds = number.size() >= kShortestMaskable && number.size() <= kMaskedAccountCapacity - 1;
    for (size_t i = 0; i < length; ++i) {
        const bool shown = showEnds && (i < kShownHead || i >= length - kShownTail);
        out[i] = shown ? number[i] : '*';
    }
    out[length] = '\0';
}

void SummarizeCardRecord(const VorlexCardData& record, int fetchResult, char* out, size_t capacity) {
    char account[kMaskedAccountCapacity];
    MaskAccountNumber(std::string_view(record.ParsedAccountNumber,
                                       Length(record.ParsedAccountNumber, sizeof record.ParsedAccountNumber)),
                      account);
    std::snprintf(out, capacity,
                  "report fetch=%d product=0x%04X tracks=%u/%u/%u chars decode=%d/%d/%d failed=%d "
                  "encode=%d account=%s name=%u chars encrypted=%u hex chars masked=%u/%u/%u chars",
                  fetchResult, static_cast<unsigned>(record.ProductID),
                  Length(record.Track1Text, sizeof record.Track1Text),
                  Length(record.Track2Text, sizeof record.Track2Text),
                  Length(record.Track3Text, sizeof record.Track3Text), record.Track1DecodeStatus,
                  record.Track2DecodeStatus, record.Track3DecodeStatus, record.DecodeFailed,
                  record.CardEncodeType, account[0] ? account : "-",
                  Length(record.ParsedFirstName, sizeof record.ParsedFirstName) +
                      Length(record.ParsedLastName, sizeof record.ParsedLastName),
                  Length(record.FluxScribeHex, sizeof record.FluxScribeHex),
                  Length(record.MaskedTrack1Text, sizeof record.MaskedTrack1Text),
                  Length(record.MaskedTrack2Text, sizeof record.MaskedTrack2Text),
                  Length(record.MaskedTrack3Text, sizeof record.MaskedTrack3Text));
}

}  // namespace norvik

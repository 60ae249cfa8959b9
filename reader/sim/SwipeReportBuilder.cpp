#include "sim/SwipeReportBuilder.h"

#include <algorithm>
#include <cstring>

#include "common/SecureWipe.h"

#include "common/BoundedText.h"

namespace vorlex {
namespace {

constexpr size_t kPlainTrackWidth = 110;
constexpr size_t kSecureTrackWidth = 112;
constexpr size_t kCipherBlock = 8;
const char kSimulatedSerial[] = "NVK-SIM-00000042";

// FNV-1a over the tracks: the start of every derived block, so the same card
// always produces the same report.
uint32_t CardFingerprint(const SwipeTracks& tracks) {
    uint32_t hash = 2166136261u;
    for (const char* track : tracks.track) {
        for (const char* c = track; *c; ++c) hash = (hash ^ static_cast<uint8_t>(*c)) * 16777619u;
        hash = (hash ^ 0xFF) * 16777619u;
    }
    return hash;
}

// A small deterministic keystream (xorshift32); stands in for the reader's cipher.
class KeyStream {
public:
    explicit KeyStream(uint32_t start) : state_(start ? start : 0x9E3779B9u) {}
    uint8_t Next() {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 17;
        state_ ^= state_ << 5;
        return static_cast<uint8_t>(state_);
    }

private:
    uint32_t state_;
};

size_t TrackLength(const char* track, size_t width) { return ::strnlen(track, width); }

}  // namespace

void MaskAccountNumber(const char* track, char* masked, size_t capacity) {
    norvik::CopyBounded(masked, capacity, track);
    // The account number is the run of digits after the start sentinel
    // (and the format code 'B' on track 1).
    char* start = masked;
    while (*start && !(*start >= '0' && *start <= '9')) ++start;
    char* end = start;
    while (*end >= '0' && *end <= '9') ++end;
    const size_t digits = static_cast<size_t>(end - start);
    if (digits <= 10) return;
    std::fill(start + 6, end - 4, '*');
}

size_t BuildSwipeReport(const ModelSwitches& model, const SwipeTracks& tracks, size_t reportLength,
                        uint8_t* report, size_t capacity) {
    const size_t length = std::min(reportLength, capacity);
    std::memset(report, 0, length);
    uint8_t work[1024] = {};  // every field offset lies below this
    work[0] = 0;              // report ID
    for (int i = 0; i < 3; ++i) work[1 + i] = static_cast<uint8_t>(tracks.decodeStatus[i]);
    work[7] = static_cast<uint8_t>(tracks.encodeType);

    const uint32_t fingerprint = CardFingerprint(tracks);
    if (!model.hexTrackData) {
        const size_t offsets[3] = {8, 118, 228};
        for (int i = 0; i < 3; ++i) {
            const size_t n = TrackLength(tracks.track[i], kPlainTrackWidth);
            work[4 + i] = static_cast<uint8_t>(n);
            std::memcpy(work + offsets[i], tracks.track[i], n);
        }
    } else {
        const size_t offsets[3] = {8, 120, 232};
        KeyStream cipher(fingerprint);
        for (int i = 0; i < 3; ++i) {
            const size_t n = TrackLength(tracks.track[i], kSecureTrackWidth);
            // Enciphered in whole blocks, as a block cipher would.
            const size_t padded = std::min((n + kCipherBlock - 1) / kCipherBlock * kCipherBlock,
                                           kSecureTrackWidth);
            for (size_t k = 0; k < padded; ++k) {
                const uint8_t plain = k < n ? static_cast<uint8_t>(tracks.track[i][k]) : 0;
                work[offsets[i] + k] = plain ^ cipher.Next();
            }
            work[4 + i] = static_cast<uint8_t>(padded);
        }
    }

    if (model.hasMaskedTracks) {
        const size_t offsets[3] = {509, 621, 733};
        for (int i = 0; i < 3; ++i) {
            char masked[kSecureTrackWidth + 1];
            MaskAccountNumber(tracks.track[i], masked, sizeof masked);
            const size_t n = ::strnlen(masked, kSecureTrackWidth);
            work[506 + i] = static_cast<uint8_t>(n);
            std::memcpy(work + offsets[i], masked, n);
        }
    }
    KeyStream blocks(fingerprint ^ 0xA5A5A5A5u);
    if (model.hasFluxScribe) {
        const uint32_t status = 0x0000C001u;  // a good magnetic signature
        for (int i = 0; i < 4; ++i) work[345 + i] = static_cast<uint8_t>(status >> (8 * i));
        const uint8_t fluxLength = 64;
        work[349] = fluxLength;
        for (size_t k = 0; k < fluxLength; ++k) work[350 + k] = blocks.Next();
    }
    if (model.hasSerialNumber) std::memcpy(work + 478, kSimulatedSerial, 16);
    if (model.hasAuxBlock10) {
        for (size_t k = 0; k < 10; ++k) work[496 + k] = blocks.Next();
    }
    if (model.hasAuxBlock8) {
        for (size_t k = 0; k < 8; ++k) work[845 + k] = blocks.Next();
    }
    std::memcpy(report, work, std::min(length, sizeof work));
    norvik::SecureWipe(work, sizeof work);  // the card goes to `report` only
    return length;
}

}  // namespace vorlex

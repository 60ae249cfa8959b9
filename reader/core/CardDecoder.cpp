#include "core/CardDecoder.h"

#include <cstdio>
#include <cstring>
#include <string_view>

#include "common/SecureWipe.h"

namespace vorlex {
namespace {

int32_t SignedByte(const uint8_t* report, size_t offset) {
    return static_cast<int8_t>(report[offset]);
}

bool IsUsableLength(int32_t length) { return length >= 0 && length <= kMaxDataLength; }

// Copies `length` bytes and terminates them; an unusable length leaves the buffer empty.
template <size_t N>
void CopyRaw(uint8_t (&dest)[N], const uint8_t* source, int32_t length) {
    static_assert(N > kMaxDataLength, "raw buffer holds the longest field");
    if (!IsUsableLength(length)) {
        dest[0] = 0;
        return;
    }
    std::memcpy(dest, source, static_cast<size_t>(length));
    dest[length] = 0;
}

std::string_view RawText(const uint8_t* raw, size_t capacity) {
    const char* chars = reinterpret_cast<const char*>(raw);
    return std::string_view(chars, ::strnlen(chars, capacity));
}

template <size_t N>
void RenderTrack(Text<N>& text, const uint8_t (&raw)[257], int32_t length, bool hex) {
    text.Clear();
    if (length < 1 || length > kMaxDataLength) return;
    if (hex) {
        BytesToHex(raw, length, text.data(), N, false);
    } else {
        text.Assign(RawText(raw, sizeof raw));
    }
}

template <size_t N>
void RenderHexBlock(Text<N>& text, const uint8_t* raw, int count) {
    BytesToHex(raw, count, text.data(), N, false);
}

}  // namespace

void GetMSRResults(CardDataStore& store, const uint8_t* report, const ModelSwitches& model) {
    store.Track1DecodeStatus = SignedByte(report, 1);
    store.Track2DecodeStatus = SignedByte(report, 2);
    store.Track3DecodeStatus = SignedByte(report, 3);
    store.Track1Length = SignedByte(report, 4);
    store.Track2Length = SignedByte(report, 5);
    store.Track3Length = SignedByte(report, 6);
    store.CardEncodeType = SignedByte(report, 7);

    const size_t track2Offset = model.hexTrackData ? 120 : 118;
    const size_t track3Offset = model.hexTrackData ? 232 : 228;
    CopyRaw(store.rawTrack[0], report + 8, store.Track1Length);
    CopyRaw(store.rawTrack[1], report + track2Offset, store.Track2Length);
    CopyRaw(store.rawTrack[2], report + track3Offset, store.Track3Length);

    if (model.hasMaskedTracks) {
        store.MaskedTrack1Length = SignedByte(report, 506);
        store.MaskedTrack2Length = SignedByte(report, 507);
        store.MaskedTrack3Length = SignedByte(report, 508);
        CopyRaw(store.rawMaskedTrack[0], report + 509, store.MaskedTrack1Length);
        CopyRaw(store.rawMaskedTrack[1], report + 621, store.MaskedTrack2Length);
        CopyRaw(store.rawMaskedTrack[2], report + 733, store.MaskedTrack3Length);
    }
    if (model.hasAuxBlock8) std::memcpy(store.rawAuxBlock8, report + 845, 8);
    if (model.hasAuxBlock10) std::memcpy(store.rawAuxBlock10, report + 496, 10);
    if (model.hasFluxScribe) {
        store.FluxScribeStatus = static_cast<int32_t>(
            static_cast<uint32_t>(report[345]) | static_cast<uint32_t>(report[346]) << 8 |
            static_cast<uint32_t>(report[347]) << 16 | static_cast<uint32_t>(report[348]) << 24);
        store.FluxScribeLength = SignedByte(report, 349);
        std::memcpy(store.rawFluxScribe, report + 350, 128);
        store.rawFluxScribe[128] = 0;
    }
    if (model.hasSerialNumber) std::memcpy(store.rawSerialNumber, report + 478, 16);

    const bool failed = ((store.Track1DecodeStatus | store.Track2DecodeStatus |
                          store.Track3DecodeStatus) & 1) != 0;
    store.DecodeFailed = failed ? 1 : 0;
}

void UpdateData(CardDataStore& store, const ModelSwitches& model) {
    RenderTrack(store.Track1Text, store.rawTrack[0], store.Track1Length, model.hexTrackData);
    RenderTrack(store.Track2Text, store.rawTrack[1], store.Track2Length, model.hexTrackData);
    RenderTrack(store.Track3Text, store.rawTrack[2], store.Track3Length, model.hexTrackData);
    store.AllTracksText.Clear();
    store.AllTracksText.Append(store.Track1Text.view());
    store.AllTracksText.Append(store.Track2Text.view());
    store.AllTracksText.Append(store.Track3Text.view());

    store.MaskedTrack1Text.Assign(RawText(store.rawMaskedTrack[0], 257));
    store.MaskedTrack2Text.Assign(RawText(store.rawMaskedTrack[1], 257));
    store.MaskedTrack3Text.Assign(RawText(store.rawMaskedTrack[2], 257));
    store.AllMaskedTracksText.Clear();
    store.AllMaskedTracksText.Append(store.MaskedTrack1Text.view());
    store.AllMaskedTracksText.Append(store.MaskedTrack2Text.view());
    store.AllMaskedTracksText.Append(store.MaskedTrack3Text.view());

    store.SerialNumberText.Assign(RawText(store.rawSerialNumber, 16));
    store.CardEncodeTypeName.Assign(CardEncodeTypeName(store.CardEncodeType));
    RenderHexBlock(store.AuxBlock8Hex, store.rawAuxBlock8, 8);

    if (model.hasFluxScribe) {
        char status[16];
        std::snprintf(status, sizeof status, "%08lx",
                      static_cast<unsigned long>(static_cast<uint32_t>(store.FluxScribeStatus)));
        store.FluxScribeStatusText.Assign(status);
        store.FluxScribeHex.Clear();
        if (store.FluxScribeLength >= 1 && store.FluxScribeLength <= kMaxDataLength) {
            RenderHexBlock(store.FluxScribeHex, store.rawFluxScribe, store.FluxScribeLength);
        }
    }
    RenderHexBlock(store.AuxBlock10Hex, store.rawAuxBlock10, 10);
    ExtractData(store, model);
}

void ExtractData(CardDataStore& store, const ModelSwitches& model) {
    store.ParsedFirstName.Clear();
    store.ParsedLastName.Clear();
    store.ParsedAccountNumber.Clear();
    store.ParsedExpirationMonth.Clear();
    store.ParsedExpirationYear.Clear();

    // Track 1: the name sits between the first and the last '^', "LAST/FIRST".
    const std::string_view line1 =
        model.hasFluxScribe ? store.MaskedTrack1Text.view() : store.Track1Text.view();
    const size_t last = line1.rfind('^');
    if (last != std::string_view::npos) {
        const std::string_view partA = line1.substr(0, last);
        size_t start = partA.find('^');
        if (start == std::string_view::npos) start = partA.find('?');
        if (start != std::string_view::npos) {
            const std::string_view name = partA.substr(start + 1);
            const size_t slash = name.find('/');
            if (slash != std::string_view::npos) {
                store.ParsedFirstName.Assign(name.substr(slash + 1));
                store.ParsedLastName.Assign(name.substr(0, slash));
            }
        }
    }

    // Track 2: ";ACCOUNT=YYMM...".
    const std::string_view line2 =
        model.hasFluxScribe ? store.MaskedTrack2Text.view() : store.Track2Text.view();
    const size_t semicolon = line2.find(';');
    if (semicolon == std::string_view::npos) return;
    const std::string_view partA = line2.substr(semicolon + 1);
    const size_t equals = partA.find('=');
    if (equals == std::string_view::npos) return;
    store.ParsedAccountNumber.Assign(partA.substr(0, equals));
    const std::string_view expiration = partA.substr(equals + 1);
    store.ParsedExpirationYear.Assign(expiration.substr(0, 2));
    if (expiration.size() > 2) store.ParsedExpirationMonth.Assign(expiration.substr(2, 2));
}

void ClearCardData(CardDataStore& store) {
    for (auto* text : {&store.Track1Text, &store.Track2Text, &store.Track3Text,
                       &store.MaskedTrack1Text, &store.MaskedTrack2Text, &store.MaskedTrack3Text,
                       &store.CardEncodeTypeName, &store.SerialNumberText, &store.AuxBlock10Hex,
                       &store.AuxBlock8Hex, &store.ParsedFirstName, &store.ParsedLastName,
                       &store.ParsedAccountNumber, &store.ParsedExpirationMonth,
                       &store.ParsedExpirationYear}) {
        text->Wipe();
    }
    store.AllTracksText.Wipe();
    store.AllMaskedTracksText.Wipe();
    store.FluxScribeHex.Wipe();
    // Every raw buffer is emptied, not only the blocks: a later report of a
    // model without masked tracks must not render an earlier card's data.
    // Wiped, not merely emptied: no card stays in the library's memory.
    norvik::SecureWipe(store.rawTrack, sizeof store.rawTrack);
    norvik::SecureWipe(store.rawMaskedTrack, sizeof store.rawMaskedTrack);
    norvik::SecureWipe(store.rawFluxScribe, sizeof store.rawFluxScribe);
    norvik::SecureWipe(store.rawSerialNumber, sizeof store.rawSerialNumber);
    norvik::SecureWipe(store.rawAuxBlock10, sizeof store.rawAuxBlock10);
    norvik::SecureWipe(store.rawAuxBlock8, sizeof store.rawAuxBlock8);
    store.Track1Length = store.Track2Length = store.Track3Length = 0;
    store.MaskedTrack1Length = store.MaskedTrack2Length = store.MaskedTrack3Length = 0;
    store.Track1DecodeStatus = store.Track2DecodeStatus = store.Track3DecodeStatus = 0;
    store.FluxScribeLength = 0;
    store.FluxScribeStatus = 0;
}

void BytesToHex(const uint8_t* bytes, int count, char* out, size_t outCapacity, bool skipHeader) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    if (outCapacity == 0) return;
    out[0] = '\0';
    if (count <= 0 || bytes == nullptr) return;
    const uint8_t* from = skipHeader ? bytes + 3 : bytes;
    size_t written = 0;
    for (int i = 0; i < count && written + 2 < outCapacity; ++i) {
        out[written++] = kDigits[from[i] >> 4];
        out[written++] = kDigits[from[i] & 0x0F];
    }
    out[written] = '\0';
}

const char* CardEncodeTypeName(int32_t code) {
    static constexpr const char* kNames[] = {"ISO",   "AAMVA",        "CADL", "BLANK",
                                             "OTHER", "UNDETERMINED", "NONE"};
    if (code < 0 || code >= static_cast<int32_t>(sizeof kNames / sizeof kNames[0])) return "";
    return kNames[code];
}

void FillRecord(const CardDataStore& store, VorlexCardData& record) {
    auto copy = [](char* field, size_t capacity, const auto& text) {
        norvik::CopyBounded(field, capacity, text.view());
    };
    copy(record.AllTracks, sizeof record.AllTracks, store.Track1Text);
    norvik::AppendBounded(record.AllTracks, sizeof record.AllTracks, store.Track2Text.view());
    norvik::AppendBounded(record.AllTracks, sizeof record.AllTracks, store.Track3Text.view());
    copy(record.Track1Text, 256, store.Track1Text);
    copy(record.Track2Text, 256, store.Track2Text);
    copy(record.Track3Text, 256, store.Track3Text);
    copy(record.MaskedTrack1Text, 256, store.MaskedTrack1Text);
    copy(record.MaskedTrack2Text, 256, store.MaskedTrack2Text);
    copy(record.MaskedTrack3Text, 256, store.MaskedTrack3Text);
    copy(record.FluxScribeHex, 256, store.FluxScribeHex);
    copy(record.CardEncodeTypeName, 256, store.CardEncodeTypeName);
    copy(record.FluxScribeStatusText, 256, store.FluxScribeStatusText);
    copy(record.AuxBlock8Hex, 256, store.AuxBlock8Hex);
    copy(record.SerialNumberText, 256, store.SerialNumberText);
    copy(record.AuxBlock10Hex, 256, store.AuxBlock10Hex);
    copy(record.ParsedFirstName, 256, store.ParsedFirstName);
    copy(record.ParsedLastName, 256, store.ParsedLastName);
    copy(record.ParsedAccountNumber, 256, store.ParsedAccountNumber);
    copy(record.ParsedExpirationMonth, 256, store.ParsedExpirationMonth);
    copy(record.ParsedExpirationYear, 256, store.ParsedExpirationYear);
    record.ProductID = store.ProductID;
    record.FluxScribeLength = store.FluxScribeLength;
    record.FluxScribeStatus = store.FluxScribeStatus;
    record.Track1Length = store.Track1Length;
    record.Track2Length = store.Track2Length;
    record.Track3Length = store.Track3Length;
    record.MaskedTrack1Length = store.MaskedTrack1Length;
    record.MaskedTrack2Length = store.MaskedTrack2Length;
    record.MaskedTrack3Length = store.MaskedTrack3Length;
    record.CardEncodeType = store.CardEncodeType;
    record.Track1DecodeStatus = store.Track1DecodeStatus;
    record.Track2DecodeStatus = store.Track2DecodeStatus;
    record.Track3DecodeStatus = store.Track3DecodeStatus;
    record.DecodeFailed = store.DecodeFailed;
}

size_t BuildCardDataText(const CardDataStore& store, const char* separator, char* out) {
    out[0] = '\0';
    char scratch[260];
    auto field = [&](std::string_view text) {
        norvik::AppendBounded(out, kReportBufferSize, text);
        norvik::AppendBounded(out, kReportBufferSize, separator);
    };
    auto number = [&](const char* format, int32_t value) {
        std::snprintf(scratch, sizeof scratch, format, value);
        field(scratch);
    };
    auto hexNumber = [&](uint32_t value) {
        std::snprintf(scratch, sizeof scratch, "%02X", static_cast<unsigned>(value));
        field(scratch);
    };
    hexNumber(static_cast<uint32_t>(store.ProductID));
    field(store.SerialNumberText.view());
    for (int32_t value : {store.DecodeFailed, store.CardEncodeType, store.Track1DecodeStatus,
                          store.Track2DecodeStatus, store.Track3DecodeStatus}) {
        number("%d", value);
    }
    hexNumber(static_cast<uint32_t>(store.FluxScribeStatus));
    for (int32_t value : {store.Track1Length, store.Track2Length, store.Track3Length,
                          store.MaskedTrack1Length, store.MaskedTrack2Length,
                          store.MaskedTrack3Length, store.FluxScribeLength}) {
        number("%d", value);
    }
    // Text fields: an empty one contributes only its separator.
    for (std::string_view text :
         {store.AllTracksText.view(), store.AllMaskedTracksText.view(), store.AuxBlock8Hex.view(),
          store.AuxBlock10Hex.view(), store.ParsedFirstName.view(), store.ParsedLastName.view(),
          store.ParsedAccountNumber.view(), store.ParsedExpirationMonth.view(),
          store.ParsedExpirationYear.view(), store.Track1Text.view(), store.Track2Text.view(),
          store.Track3Text.view(), store.MaskedTrack1Text.view(), store.MaskedTrack2Text.view(),
          store.MaskedTrack3Text.view(), store.FluxScribeHex.view()}) {
        field(text);
    }
    return ::strnlen(out, kReportBufferSize);
}

}  // namespace vorlex

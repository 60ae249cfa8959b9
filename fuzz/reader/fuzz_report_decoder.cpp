// Arbitrary report bytes through decoding, rendering and both client views,
// for every model. The first byte picks the model.
#include <cstdint>
#include <algorithm>
#include <cstring>

#include "core/CardDecoder.h"
#include "core/ModelTable.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace vorlex;
    if (size == 0) return 0;
    static const uint16_t kProducts[] = {VORLEX_PID_SECURE_SWIPE, VORLEX_PID_BASIC_SWIPE, 0};
    const ReaderModel* model = FindReaderModel(kProducts[data[0] % 3]);
    // The library decodes from a zero-filled buffer of fixed size.
    static uint8_t report[kReportBufferSize];
    std::memset(report, 0, sizeof report);
    std::memcpy(report, data + 1, std::min(size - 1, sizeof report));

    static CardDataStore store;
    GetMSRResults(store, report, model->switches);
    UpdateData(store, model->switches);
    static VorlexCardData record;
    FillRecord(store, record);
    static char text[kReportBufferSize];
    const size_t length = BuildCardDataText(store, "|", text);
    if (length >= kReportBufferSize || std::strlen(text) != length) __builtin_trap();
    if (std::strlen(record.AllTracks) >= sizeof record.AllTracks) __builtin_trap();
    ClearCardData(store);
    return 0;
}

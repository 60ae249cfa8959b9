// The simulator's exported functions (VorlexSimulator.h).
#include "VorlexSimulator.h"

#include <cstring>

#include "VorlexRuntime.h"
#include "common/SecureWipe.h"
#include "core/ModelTable.h"
#include "core/CardDecoder.h"
#include "sim/SwipeReportBuilder.h"

using vorlex::SimulatedBus;

namespace {

constexpr int kRefused = 1;

int Result(bool ok) { return ok ? 0 : kRefused; }

}  // namespace

extern "C" {

int VORLEX_CALL VorlexSimEnable(int enable) {
    vorlex::UseSimulatedBus(enable == 1);
    return 0;
}

int VORLEX_CALL VorlexSimReset(void) {
    SimulatedBus().Reset();
    return 0;
}

int VORLEX_CALL VorlexSimAttach(unsigned short vendorId, unsigned short productId,
                                unsigned short inputReportLength,
                                unsigned short featureReportLength) {
    SimulatedBus().Attach(vendorId, productId, inputReportLength, featureReportLength);
    return 0;
}

int VORLEX_CALL VorlexSimDetach(void) { return Result(SimulatedBus().Detach()); }

int VORLEX_CALL VorlexSimSwipe(const unsigned char* report, int length) {
    if (length < 0 || (report == nullptr && length > 0)) return kRefused;
    return Result(SimulatedBus().Swipe(report, static_cast<size_t>(length)));
}

int VORLEX_CALL VorlexSimSwipeTracks(const char* track1, const char* track2, const char* track3,
                                     int decodeStatus1, int decodeStatus2, int decodeStatus3,
                                     int encodeType) {
    uint16_t productId = 0;
    uint16_t inputLength = 0;
    if (!SimulatedBus().OpenReaderIdentity(productId, inputLength)) return kRefused;
    const vorlex::ReaderModel* model = vorlex::FindReaderModel(productId);
    vorlex::SwipeTracks tracks;
    tracks.track[0] = track1 ? track1 : "";
    tracks.track[1] = track2 ? track2 : "";
    tracks.track[2] = track3 ? track3 : "";
    tracks.decodeStatus[0] = static_cast<int8_t>(decodeStatus1);
    tracks.decodeStatus[1] = static_cast<int8_t>(decodeStatus2);
    tracks.decodeStatus[2] = static_cast<int8_t>(decodeStatus3);
    tracks.encodeType = static_cast<int8_t>(encodeType);
    static thread_local unsigned char report[vorlex::kReportBufferSize];
    const size_t length =
        vorlex::BuildSwipeReport(model ? model->switches : vorlex::ModelSwitches{}, tracks,
                                 inputLength, report, sizeof report);
    const bool delivered = SimulatedBus().Swipe(report, length);
    norvik::SecureWipe(report, sizeof report);
    return Result(delivered);
}

int VORLEX_CALL VorlexSimSetFeatureReply(const unsigned char* reply, int length) {
    if (length < 0 || (reply == nullptr && length > 0)) return kRefused;
    SimulatedBus().SetFeatureReply(reply, static_cast<size_t>(length));
    return 0;
}

int VORLEX_CALL VorlexSimGetLastFeatureRequest(unsigned char* buffer, int capacity) {
    if (capacity < 0 || (buffer == nullptr && capacity > 0)) return -1;
    return static_cast<int>(SimulatedBus().LastFeatureRequest(buffer, static_cast<size_t>(capacity)));
}

int VORLEX_CALL VorlexSimFailNext(int point) {
    if (point < VORLEX_SIM_FAIL_INTERFACE_SET || point > VORLEX_SIM_FAIL_GET_FEATURE) return kRefused;
    SimulatedBus().FailNext(static_cast<vorlex::SimFailPoint>(point));
    return 0;
}

}  // extern "C"

// The eleven exported functions of Vorlex, over the process-wide library.
#include "Vorlex.h"

#include <memory>

#include "VorlexRuntime.h"
#include "common/NoDestructor.h"
#include "platform/Platform.h"

namespace vorlex {
namespace {

struct Runtime {
    Runtime() : systemBus(platform::CreateSystemHidBus()) { library.SetBus(systemBus.get()); }
    std::unique_ptr<HidBus> systemBus;
    SimulatedHidBus simulatedBus;
    ReaderLibrary library;
};

Runtime& TheRuntime() {
    static norvik::NoDestructor<Runtime> runtime;
    return runtime.get();
}

}  // namespace

ReaderLibrary& Library() { return TheRuntime().library; }
SimulatedHidBus& SimulatedBus() { return TheRuntime().simulatedBus; }
void UseSimulatedBus(bool simulated) {
    Runtime& runtime = TheRuntime();
    runtime.library.SetBus(simulated ? static_cast<HidBus*>(&runtime.simulatedBus)
                                     : runtime.systemBus.get());
}

}  // namespace vorlex

using vorlex::Library;

extern "C" {

// No C++ exception may leave the library: each export that can meet one
// turns it into its failure result.
int32_t VORLEX_CALL VorlexOpenDevice(const char* /*reserved*/) {
    try {
        return Library().OpenDevice();
    } catch (...) {
        return VORLEX_FAILED;
    }
}

int32_t VORLEX_CALL VorlexCloseDevice(void) { return Library().CloseDevice(); }

void VORLEX_CALL VorlexClearBuffer(void) { Library().ClearBuffer(); }

void VORLEX_CALL VorlexCardDataStateChangedNotify(VorlexCardDataStateCallback callback) {
    Library().SetCardDataCallback(callback);
}

void VORLEX_CALL VorlexDeviceStateChangedNotify(VorlexDeviceStateCallback callback) {
    Library().SetDeviceStateCallback(callback);
}

int32_t VORLEX_CALL VorlexGetDeviceState(int32_t* state) {
    const int32_t value = Library().DeviceState();
    if (state) *state = value;
    return value;
}

int32_t VORLEX_CALL VorlexGetCardDataState(int32_t* state) {
    const int32_t value = Library().CardDataState();
    if (state) *state = value;
    return value;
}

int32_t VORLEX_CALL VorlexGetPID(int32_t* productId) {
    const int32_t value = Library().ProductId();
    if (productId) *productId = value;
    return value;
}

int32_t VORLEX_CALL VorlexGetCardData(VorlexCardData* record) {
    if (record == nullptr) return VORLEX_BAD_POINTER;
    Library().GetCardData(*record);
    return VORLEX_OK;
}

int32_t VORLEX_CALL VorlexGetCardDataStr(char* text, const char* separator) {
    if (!vorlex::platform::IsWritable(text, 4) || !vorlex::platform::IsReadable(separator, 4)) {
        return VORLEX_BAD_POINTER;
    }
    return Library().GetCardDataText(text, separator);
}

int32_t VORLEX_CALL VorlexSendCommand(const char* command, int32_t mode, char* replyText,
                                      int32_t replyCapacity) {
    return Library().SendCommand(command, mode, replyText, replyCapacity);
}

}  // extern "C"

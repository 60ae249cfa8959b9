// The reader library: detection of one reader on a HID bus, its read thread,
// the card data store, the two state values and the two callbacks. The flat
// C interface forwards to one process-wide instance; tests build their own.
//
// Lifecycle: OpenDevice detects and opens a reader and starts its read
// thread; CloseDevice, a failed feature transfer or an unplug release it.
// The store lives as long as the library and survives closing.
//
// Concurrency: every member may be called from any thread, also from inside
// a callback on the read thread (CloseDevice then does not wait for the
// calling thread). One mutex guards the store and the open reader; it is
// never held while a callback runs or while a thread is joined.
//
// Ownership: the library owns the open HID device and its read thread; the
// bus passed to SetBus must outlive every reader opened on it.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

#include "Vorlex.h"
#include "core/CardDecoder.h"
#include "core/HidTransport.h"

namespace vorlex {

class ReaderLibrary {
public:
    // Failed reads in a row, with no report in between, after which the reader
    // counts as removed: a device that fails every read is as good as gone,
    // and reading on would only spin.
    static constexpr int kFailedReadsMeaningRemoval = 8;

    ReaderLibrary();
    ~ReaderLibrary();
    ReaderLibrary(const ReaderLibrary&) = delete;
    ReaderLibrary& operator=(const ReaderLibrary&) = delete;

    // The bus that the next detection walks (null: no interface at all).
    void SetBus(HidBus* bus);

    int32_t OpenDevice();
    int32_t CloseDevice();
    void ClearBuffer();
    void SetCardDataCallback(VorlexCardDataStateCallback callback);
    void SetDeviceStateCallback(VorlexDeviceStateCallback callback);
    int32_t DeviceState() const;
    int32_t CardDataState() const;
    int32_t ProductId() const;
    void GetCardData(VorlexCardData& record) const;
    // Writes the card data text without terminator; returns 1 when no reader is open.
    int32_t GetCardDataText(char* text, const char* separator) const;
    int32_t SendCommand(const char* command, int32_t mode, char* replyText, int32_t replyCapacity);

private:
    struct OpenReader;

    bool DetectDevice(HidBus& bus);
    void ReadThreadProc(OpenReader* reader);
    void HandleAsyncInputReport(OpenReader* reader, size_t byteCount);
    void HandleRemoval(OpenReader* reader);
    // Takes the open reader out of the library, if it is still `expected` (or any, when null).
    std::unique_ptr<OpenReader> TakeOpenReader(const OpenReader* expected);
    void Release(std::unique_ptr<OpenReader> reader);
    void JoinRetiredReader();
    void Destroy(std::unique_ptr<OpenReader> reader);
    bool IsOpen(const OpenReader* reader) const;
    void NotifyDeviceState(int32_t state);
    void NotifyCardData(int32_t state);

    mutable std::mutex mutex_;
    HidBus* bus_ = nullptr;
    CardDataStore store_;
    ModelSwitches switches_;
    HidCaps caps_;
    bool detected_ = false;
    bool opening_ = false;
    std::unique_ptr<OpenReader> reader_;
    // A reader released on its own read thread, joined by the next caller from another thread.
    std::unique_ptr<OpenReader> retired_;
    uint8_t reportCopy_[kReportBufferSize] = {};

    std::mutex commandMutex_;  // commands go one at a time
    uint8_t commandRequest_[kReportBufferSize] = {};
    uint8_t commandReply_[kReportBufferSize] = {};

    std::atomic<int32_t> deviceState_{0};
    std::atomic<int32_t> cardDataState_{0};
    std::atomic<VorlexCardDataStateCallback> cardDataCallback_{nullptr};
    std::atomic<VorlexDeviceStateCallback> deviceStateCallback_{nullptr};
};

}  // namespace vorlex

#include "core/ReaderLibrary.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>

#include "common/SecureWipe.h"
#include "core/CommandCodec.h"
#include "core/ModelTable.h"

namespace vorlex {

struct ReaderLibrary::OpenReader {
    std::unique_ptr<HidDevice> device;
    std::thread thread;
    size_t inputReportLength = 0;
    size_t featureReportLength = 0;
    uint8_t reportBuffer[kReportBufferSize] = {};
    ~OpenReader() { norvik::SecureWipe(reportBuffer, sizeof reportBuffer); }
};

ReaderLibrary::ReaderLibrary() = default;

ReaderLibrary::~ReaderLibrary() {
    CloseDevice();
    JoinRetiredReader();
}

void ReaderLibrary::SetBus(HidBus* bus) {
    std::lock_guard<std::mutex> lock(mutex_);
    bus_ = bus;
}

int32_t ReaderLibrary::OpenDevice() {
    JoinRetiredReader();
    HidBus* bus = nullptr;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (reader_ || opening_) return VORLEX_ALREADY_OPEN;
        opening_ = true;
        bus = bus_;
        // InitUSB: a fresh store and no model until one is recognised.
        ClearCardData(store_);
        switches_ = ModelSwitches{};
        detected_ = false;
        store_.DecodeFailed = -1;
        store_.ProductID = 0;
        cardDataState_ = 0;
    }
    bool found = false;
    try {
        found = bus != nullptr && DetectDevice(*bus);
    } catch (...) {
        // Out of memory, or no thread to be had: no reader, and nothing of
        // one left open (DetectDevice unwinds what it did).
        found = false;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    opening_ = false;
    // Found is opened, even when the reader went away before this returns:
    // the client has seen 1, then 2 and 0, from the read thread.
    return found ? VORLEX_OK : VORLEX_FAILED;
}

bool ReaderLibrary::DetectDevice(HidBus& bus) {
    if (!bus.BeginEnumeration()) return false;
    struct EnumerationGuard {
        HidBus& bus;
        ~EnumerationGuard() { bus.EndEnumeration(); }
    } guard{bus};

    std::string path;
    for (size_t index = 0; bus.InterfacePath(index, path); ++index) {
        std::unique_ptr<HidDevice> device = bus.Open(path);
        // An interface that cannot be opened or identified is skipped: a
        // reader later on the bus is still found.
        if (!device) continue;
        HidAttributes attributes;
        if (!device->GetAttributes(attributes)) {
            device->Close();
            continue;
        }
        const ReaderModel* model = FindReaderModel(attributes.productId);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            switches_ = model ? model->switches : ModelSwitches{};
        }
        if (attributes.vendorId != VORLEX_VENDOR_ID || model == nullptr) {
            device->Close();
            continue;
        }

        HidCaps caps;
        if (device->GetCaps(caps) != CapsResult::Ok) {
            device->Close();
            deviceState_ = 0;
            NotifyDeviceState(VORLEX_DEVICE_RELEASED);
            return false;
        }
        // Allocated before anything is announced, so that running out of
        // memory leaves nothing to undo but the device.
        auto reader = std::make_unique<OpenReader>();
        reader->device = std::move(device);
        reader->inputReportLength = caps.inputReportByteLength;
        reader->featureReportLength = caps.featureReportByteLength;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            caps_ = caps;
            detected_ = true;
        }
        NotifyDeviceState(VORLEX_DEVICE_OPENED);
        deviceState_ = 1;

        OpenReader* raw = reader.get();
        try {
            std::lock_guard<std::mutex> lock(mutex_);
            store_.ProductID = attributes.productId;
            // Published under the lock before the thread can look for it.
            reader->thread = std::thread(&ReaderLibrary::ReadThreadProc, this, raw);
            reader_ = std::move(reader);
        } catch (...) {
            // No read thread: the reader is released again, as a client would see a close.
            {
                std::lock_guard<std::mutex> lock(mutex_);
                detected_ = false;
                store_.ProductID = 0;
            }
            reader->device->Close();
            deviceState_ = 0;
            NotifyDeviceState(VORLEX_DEVICE_RELEASED);
            throw;
        }
        return true;
    }
    return false;
}

void ReaderLibrary::ReadThreadProc(OpenReader* reader) {
    struct Sink final : ReportSink {
        ReaderLibrary& library;
        OpenReader* reader;
        size_t readLength;
        int failedInARow = 0;
        Sink(ReaderLibrary& l, OpenReader* r, size_t length) : library(l), reader(r), readLength(length) {}

        bool Take(ReadStatus status, size_t transferred) override {
            if (status == ReadStatus::Completed) {
                failedInARow = 0;
                library.HandleAsyncInputReport(reader, transferred);
                // Decoded (or dropped): the raw report is not kept, nor what the
                // decoder and the callbacks left in the vector registers.
                norvik::SecureWipe(reader->reportBuffer, readLength);
                norvik::WipeVectorRegisters();
            } else if (status != ReadStatus::OtherError || ++failedInARow >= kFailedReadsMeaningRemoval) {
                return false;  // the reader is gone
            }
            // A report or a passing error: the next read is issued while the reader is ours.
            return library.IsOpen(reader);
        }
    };
    // Reports longer than the buffer are never read past it (and never decoded).
    Sink sink(*this, reader, std::min(reader->inputReportLength, kReportBufferSize));
    reader->device->ReadReports(reader->reportBuffer, sink.readLength, sink);
    // The thread ends only when the library released the reader; any other
    // end of reading is the reader's removal, never a silent one.
    HandleRemoval(reader);
}

void ReaderLibrary::HandleAsyncInputReport(OpenReader* reader, size_t byteCount) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (reader_.get() != reader || !detected_) return;
        if (byteCount < reader->inputReportLength) return;
        std::memcpy(reportCopy_, reader->reportBuffer, std::min(byteCount, kReportBufferSize));
        GetMSRResults(store_, reportCopy_, switches_);
        UpdateData(store_, switches_);
        norvik::SecureWipe(reportCopy_, sizeof reportCopy_);
        cardDataState_ = 1;
    }
    NotifyCardData(VORLEX_CARD_DATA_NEW);
}

void ReaderLibrary::HandleRemoval(OpenReader* reader) {
    // Our own close or stop: the closer reports the release.
    if (!IsOpen(reader)) return;
    NotifyDeviceState(VORLEX_DEVICE_REMOVED);
    deviceState_ = 2;
    // The client may already have closed the reader from inside the callback.
    if (auto removed = TakeOpenReader(reader)) Release(std::move(removed));
}

int32_t ReaderLibrary::CloseDevice() {
    JoinRetiredReader();
    if (auto reader = TakeOpenReader(nullptr)) Release(std::move(reader));
    return VORLEX_OK;
}

std::unique_ptr<ReaderLibrary::OpenReader> ReaderLibrary::TakeOpenReader(const OpenReader* expected) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!reader_ || (expected != nullptr && reader_.get() != expected)) return nullptr;
    detected_ = false;
    return std::move(reader_);
}

void ReaderLibrary::Release(std::unique_ptr<OpenReader> reader) {
    reader->device->Close();
    reader->device->Stop();
    if (reader->thread.get_id() == std::this_thread::get_id()) {
        // On the read thread itself: it ends as soon as the current callback
        // returns; whoever comes next from another thread joins it.
        std::unique_ptr<OpenReader> previous;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            previous = std::move(retired_);
            retired_ = std::move(reader);
        }
        if (previous && previous->thread.joinable()) previous->thread.join();
        Destroy(std::move(previous));
    } else {
        if (reader->thread.joinable()) reader->thread.join();
        Destroy(std::move(reader));
    }
    deviceState_ = 0;
    NotifyDeviceState(VORLEX_DEVICE_RELEASED);
}

void ReaderLibrary::JoinRetiredReader() {
    std::unique_ptr<OpenReader> retired;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!retired_ || retired_->thread.get_id() == std::this_thread::get_id()) return;
        retired = std::move(retired_);
    }
    if (retired->thread.joinable()) retired->thread.join();
    Destroy(std::move(retired));
}

bool ReaderLibrary::IsOpen(const OpenReader* reader) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return reader_.get() == reader;
}

void ReaderLibrary::ClearBuffer() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ClearCardData(store_);
        cardDataState_ = 0;
    }
    NotifyCardData(VORLEX_CARD_DATA_CLEARED);
}

void ReaderLibrary::SetCardDataCallback(VorlexCardDataStateCallback callback) {
    cardDataCallback_ = callback;
}

void ReaderLibrary::SetDeviceStateCallback(VorlexDeviceStateCallback callback) {
    deviceStateCallback_ = callback;
}

int32_t ReaderLibrary::DeviceState() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return detected_ ? deviceState_.load() : 0;
}

int32_t ReaderLibrary::CardDataState() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return detected_ ? cardDataState_.load() : 0;
}

int32_t ReaderLibrary::ProductId() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return detected_ ? store_.ProductID : 0;
}

void ReaderLibrary::GetCardData(VorlexCardData& record) const {
    std::lock_guard<std::mutex> lock(mutex_);
    FillRecord(store_, record);
}

int32_t ReaderLibrary::GetCardDataText(char* text, const char* separator) const {
    char work[kReportBufferSize];
    size_t length = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!detected_) return VORLEX_FAILED;
        length = BuildCardDataText(store_, separator, work);
    }
    std::memcpy(text, work, length);  // without a terminator: the caller cleared its buffer
    norvik::SecureWipe(work, sizeof work);
    return VORLEX_OK;
}

int32_t ReaderLibrary::SendCommand(const char* command, int32_t mode, char* replyText,
                                   int32_t replyCapacity) {
    const OpenReader* owner = nullptr;
    {
        // Readers are destroyed only under the command mutex, so the device
        // stays valid for the whole transfer even if another thread closes it.
        std::lock_guard<std::mutex> commandLock(commandMutex_);
        HidDevice* device = nullptr;
        size_t featureLength = 0;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!reader_ || !detected_) return VORLEX_FAILED;
            owner = reader_.get();
            device = reader_->device.get();
            featureLength = reader_->featureReportLength;
        }
        // The request may carry keys and the reply card data: neither outlives the call.
        struct WipeOnExit {
            ReaderLibrary& library;
            ~WipeOnExit() {
                norvik::SecureWipe(library.commandRequest_, sizeof library.commandRequest_);
                norvik::SecureWipe(library.commandReply_, sizeof library.commandReply_);
            }
        } wipe{*this};
        // A report longer than the buffers cannot be sent without reading past them.
        if (featureLength > kReportBufferSize) return VORLEX_FAILED;
        if (!ParseCommand(command, mode, commandRequest_, featureLength)) return VORLEX_FAILED;

        if (device->SetFeature(commandRequest_, featureLength) &&
            device->GetFeature(commandReply_, featureLength)) {
            char work[kReportBufferSize];
            BytesToHex(commandReply_, commandReply_[2], work, sizeof work, true);
            if (replyText != nullptr && replyCapacity > 0) {
                // Cut at a whole byte: never half of a hexadecimal pair.
                const size_t fits = (static_cast<size_t>(replyCapacity) - 1) & ~static_cast<size_t>(1);
                norvik::CopyBounded(replyText, fits + 1, work);
            }
            norvik::SecureWipe(work, sizeof work);
            return VORLEX_OK;
        }
    }
    // A failed transfer closes the reader that failed (not one opened since).
    if (auto reader = TakeOpenReader(owner)) Release(std::move(reader));
    return VORLEX_FAILED;
}

void ReaderLibrary::Destroy(std::unique_ptr<OpenReader> reader) {
    std::lock_guard<std::mutex> commandLock(commandMutex_);
    reader.reset();
}

void ReaderLibrary::NotifyDeviceState(int32_t state) {
    if (VorlexDeviceStateCallback callback = deviceStateCallback_.load()) callback(state);
}

void ReaderLibrary::NotifyCardData(int32_t state) {
    if (VorlexCardDataStateCallback callback = cardDataCallback_.load()) callback(state);
}

}  // namespace vorlex

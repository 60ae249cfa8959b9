// SetupAPI enumeration and the HID class driver behind the HidBus/HidDevice seam.
#include "platform/win32/Win32HidBus.h"

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstring>
#include <limits>
#include <mutex>
#include <shared_mutex>
#include <vector>

#include "common/SecureWipe.h"
#include "platform/win32/Win32Handles.h"

namespace vorlex::win32 {
namespace {

DWORD SystemAlertableWait(HANDLE handle, DWORD milliseconds) {
    return ::WaitForSingleObjectEx(handle, milliseconds, TRUE);
}

class Win32HidDevice final : public HidDevice {
public:
    Win32HidDevice(UniqueFile file, UniqueEvent stopEvent, AlertableWait wait)
        : file_(std::move(file)), stopEvent_(std::move(stopEvent)), wait_(wait) {
        request_.device = this;
    }

    bool GetAttributes(HidAttributes& attributes) override {
        HIDD_ATTRIBUTES hidAttributes{};
        hidAttributes.Size = sizeof hidAttributes;
        std::shared_lock lock(handleLock_);
        if (!file_ || !::HidD_GetAttributes(file_.get(), &hidAttributes)) return false;
        attributes.vendorId = hidAttributes.VendorID;
        attributes.productId = hidAttributes.ProductID;
        return true;
    }

    CapsResult GetCaps(HidCaps& caps) override {
        UniquePreparsedData preparsed;
        {
            std::shared_lock lock(handleLock_);
            if (!file_ || !::HidD_GetPreparsedData(file_.get(), preparsed.put())) {
                return CapsResult::PreparsedDataFailed;
            }
        }
        HIDP_CAPS hidCaps{};
        if (::HidP_GetCaps(preparsed.get(), &hidCaps) != HIDP_STATUS_SUCCESS) return CapsResult::CapsFailed;
        caps.inputReportByteLength = hidCaps.InputReportByteLength;
        caps.featureReportByteLength = hidCaps.FeatureReportByteLength;
        return CapsResult::Ok;
    }

    ReadStatus Read(uint8_t* buffer, size_t length, size_t& transferred) override {
        // Reading ends with the first ending, which ReadReports() then returns.
        struct OneReport final : ReportSink {
            size_t& transferred;
            explicit OneReport(size_t& t) : transferred(t) {}
            bool Take(ReadStatus, size_t bytes) override {
                transferred = bytes;
                return false;
            }
        } one(transferred);
        transferred = 0;
        return ReadReports(buffer, length, one);
    }

    ReadStatus ReadReports(uint8_t* buffer, size_t length, ReportSink& sink) override {
        // A stop asked for earlier holds for every later read.
        if (stopRequested_.load()) return ReadStatus::Stopped;
        if (length > std::numeric_limits<DWORD>::max()) return ReadStatus::DeviceNotConnected;
        buffer_ = buffer;
        length_ = static_cast<DWORD>(length);
        sink_ = &sink;
        ending_ = ReadStatus::Completed;  // reading goes on
        // A read that cannot be issued on a handle we still hold means the
        // device is gone (Wine fails ReadFileEx at once after an unplug).
        if (!IssueRead()) return EndedByUs() ? ReadStatus::Stopped : ReadStatus::DeviceNotConnected;

        // Asleep until there is work: the completion routine hands each
        // report to the sink and issues the next read, inside this wait; the
        // wait returns when reading has ended there, or for the stop event.
        for (;;) {
            const DWORD woken = wait_(stopEvent_.get(), INFINITE);
            if (woken == WAIT_IO_COMPLETION) {
                if (readPending_) continue;  // the next read is in flight, or another APC ran
                return ending_;
            }
            // The stop event, or a failed wait.
            AbandonRead();
            return ReadStatus::Stopped;
        }
    }

    void Stop() override {
        // The flag spares every read a look at the event; the event wakes a waiting one.
        stopRequested_ = true;
        ::SetEvent(stopEvent_.get());
    }

    void Close() override {
        std::unique_lock lock(handleLock_);
        if (!file_) return;
        // Closing alone need not end a read that another thread issued.
        ::CancelIoEx(file_.get(), nullptr);
        file_.reset();
    }

    bool SetFeature(const uint8_t* report, size_t length) override {
        if (length > std::numeric_limits<ULONG>::max()) return false;
        std::shared_lock lock(handleLock_);
        return file_ && ::HidD_SetFeature(file_.get(), const_cast<uint8_t*>(report), static_cast<ULONG>(length));
    }

    bool GetFeature(uint8_t* report, size_t length) override {
        if (length > std::numeric_limits<ULONG>::max()) return false;
        std::shared_lock lock(handleLock_);
        return file_ && ::HidD_GetFeature(file_.get(), report, static_cast<ULONG>(length));
    }

private:
    // The completion routine gets only the OVERLAPPED; it comes first so that
    // the request, and through it the device, can be found from it.
    struct ReadRequest {
        OVERLAPPED overlapped{};
        Win32HidDevice* device = nullptr;
    };
    static_assert(offsetof(ReadRequest, overlapped) == 0, "the OVERLAPPED must lead the request");

    // The report lands in the caller's buffer directly: no copy of the card
    // data stays behind in the device.
    bool IssueRead() {
        request_.overlapped = OVERLAPPED{};
        lastBytes_ = 0;
        std::shared_lock lock(handleLock_);
        if (!file_) return false;
        if (!::ReadFileEx(file_.get(), buffer_, length_, &request_.overlapped, &Win32HidDevice::OnReadCompleted)) {
            return false;
        }
        readPending_ = true;
        return true;
    }

    static VOID CALLBACK OnReadCompleted(DWORD error, DWORD bytesTransferred, LPOVERLAPPED overlapped) {
        reinterpret_cast<ReadRequest*>(overlapped)->device->CompleteRead(error, bytesTransferred);
    }

    // Runs on the read thread inside one of its alertable waits: hands the
    // ending to the sink and issues the next read, as long as reading goes on.
    void CompleteRead(DWORD error, DWORD bytesTransferred) {
        lastBytes_ = bytesTransferred;
        readPending_ = false;
        if (abandoning_) return;  // a stop came first: nothing is handed out
        ReadStatus status = ReadingEnding(error);
        if (status != ReadStatus::Completed && EndedByUs()) {
            ending_ = ReadStatus::Stopped;
            return;
        }
        if (!sink_->Take(status, std::min<DWORD>(bytesTransferred, length_))) {
            ending_ = status;
            return;
        }
        if (stopRequested_.load()) {
            ending_ = ReadStatus::Stopped;
        } else if (!IssueRead()) {
            ending_ = EndedByUs() ? ReadStatus::Stopped : ReadStatus::DeviceNotConnected;
        }
    }

    ReadStatus ReadingEnding(DWORD error) {
        DWORD resultBytes = 0;
        BOOL succeeded;
        DWORD resultError = ERROR_SUCCESS;
        {
            std::shared_lock lock(handleLock_);
            // Not waiting: the handle is only named here, and may already be closed.
            succeeded = ::GetOverlappedResult(file_.get(), &request_.overlapped, &resultBytes, FALSE);
            if (!succeeded) resultError = ::GetLastError();
        }
        if (succeeded && error == ERROR_SUCCESS) return ReadStatus::Completed;
        return MeansRemoval(error != ERROR_SUCCESS ? error : resultError) ? ReadStatus::DeviceNotConnected
                                                                          : ReadStatus::OtherError;
    }

    // Errors with which a read of an unplugged device completes: Windows
    // reports 1167; Wine fails it with the status of a deleted device, which
    // arrives as access denied. An opened HID handle is never denied a read
    // otherwise, so 5 cannot be a passing error here.
    static bool MeansRemoval(DWORD error) {
        return error == ERROR_DEVICE_NOT_CONNECTED || error == ERROR_ACCESS_DENIED || error == ERROR_DEV_NOT_EXIST;
    }

    // Whether reading ends because this side stopped it or closed the handle.
    bool EndedByUs() {
        if (stopRequested_.load()) return true;
        std::shared_lock lock(handleLock_);
        return !file_;
    }

    // Leaves no read in flight, so that its completion can never run in a
    // later alertable wait of this thread, nor touch the request or the
    // buffer afterwards. A report that made it in before the cancel is not
    // handed out, and not left in the buffer either.
    void AbandonRead() {
        if (!readPending_) return;
        abandoning_ = true;
        {
            std::shared_lock lock(handleLock_);
            if (file_) ::CancelIoEx(file_.get(), &request_.overlapped);
        }
        while (readPending_) ::SleepEx(INFINITE, TRUE);
        abandoning_ = false;
        if (lastBytes_ > 0) norvik::SecureWipe(buffer_, lastBytes_);
    }

    // Close() against every other use of the handle.
    std::shared_mutex handleLock_;
    UniqueFile file_;
    const UniqueEvent stopEvent_;  // manual reset: once stopped, every later wait ends at once
    std::atomic<bool> stopRequested_{false};
    const AlertableWait wait_;

    // Read-thread state: used by ReadReports() and by the completion routine,
    // which runs only inside ReadReports()'s alertable waits on the same thread.
    ReadRequest request_;
    uint8_t* buffer_ = nullptr;
    DWORD length_ = 0;
    ReportSink* sink_ = nullptr;
    bool readPending_ = false;
    bool abandoning_ = false;
    ReadStatus ending_ = ReadStatus::Completed;  // Completed: reading goes on
    DWORD lastBytes_ = 0;
};

class Win32HidBus final : public HidBus {
public:
    explicit Win32HidBus(AlertableWait wait) : wait_(wait) {}

    bool BeginEnumeration() override {
        ::HidD_GetHidGuid(&hidClass_);
        interfaces_.reset(::SetupDiGetClassDevsA(&hidClass_, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
        return static_cast<bool>(interfaces_);
    }

    bool InterfacePath(size_t index, std::string& path) override {
        if (!interfaces_ || index > std::numeric_limits<DWORD>::max()) return false;
        SP_DEVICE_INTERFACE_DATA interfaceData{};
        interfaceData.cbSize = sizeof interfaceData;
        if (!::SetupDiEnumDeviceInterfaces(interfaces_.get(), nullptr, &hidClass_, static_cast<DWORD>(index),
                                           &interfaceData)) {
            return false;
        }
        path.clear();
        DWORD required = 0;
        ::SetupDiGetDeviceInterfaceDetailA(interfaces_.get(), &interfaceData, nullptr, 0, &required, nullptr);
        if (required <= offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath)) return true;

        detailBuffer_.assign(required, 0);
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(detailBuffer_.data());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);  // the fixed part only
        if (::SetupDiGetDeviceInterfaceDetailA(interfaces_.get(), &interfaceData, detail, required, nullptr,
                                               nullptr)) {
            const size_t capacity = required - offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
            path.assign(detail->DevicePath, strnlen(detail->DevicePath, capacity));
        }
        return true;
    }

    void EndEnumeration() override { interfaces_.reset(); }

    std::unique_ptr<HidDevice> Open(const std::string& path) override {
        UniqueFile file(::CreateFileA(path.c_str(), MAXIMUM_ALLOWED, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr));
        if (!file) return nullptr;
        UniqueEvent stopEvent(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
        if (!stopEvent) return nullptr;
        return std::make_unique<Win32HidDevice>(std::move(file), std::move(stopEvent), wait_);
    }

private:
    const AlertableWait wait_;
    GUID hidClass_{};
    UniqueDeviceInfoSet interfaces_;
    std::vector<uint8_t> detailBuffer_;
};

}  // namespace

std::unique_ptr<HidBus> CreateWin32HidBus(AlertableWait wait) {
    return std::make_unique<Win32HidBus>(wait != nullptr ? wait : &SystemAlertableWait);
}

}  // namespace vorlex::win32

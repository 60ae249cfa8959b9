// SetupAPI enumeration and the HID class driver behind the HidBus/HidDevice seam.
#include "platform/win32/Win32HidBus.h"

#include <algorithm>
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

constexpr DWORD kWaitSliceMilliseconds = 10;

class Win32HidDevice final : public HidDevice {
public:
    Win32HidDevice(UniqueFile file, UniqueEvent stopEvent)
        : file_(std::move(file)), stopEvent_(std::move(stopEvent)) {
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
        transferred = 0;
        // A stop asked for earlier holds for every later read.
        if (::WaitForSingleObject(stopEvent_.get(), 0) == WAIT_OBJECT_0) return ReadStatus::Stopped;
        if (!readDone_) {
            readDone_.reset(::CreateEventA(nullptr, FALSE, FALSE, nullptr));
            if (!readDone_) return EndedByUs() ? ReadStatus::Stopped : ReadStatus::DeviceNotConnected;
        }
        // A read that cannot be issued on a handle we still hold means the
        // device is gone (Wine fails ReadFileEx at once after an unplug).
        if (!IssueRead(length)) return EndedByUs() ? ReadStatus::Stopped : ReadStatus::DeviceNotConnected;

        const HANDLE waitables[2] = {readDone_.get(), stopEvent_.get()};
        for (;;) {
            const DWORD woken = ::WaitForMultipleObjectsEx(2, waitables, FALSE, kWaitSliceMilliseconds, TRUE);
            if (woken == WAIT_TIMEOUT || woken == WAIT_IO_COMPLETION) continue;
            if (woken == WAIT_OBJECT_0) {  // only the completion routine signals it
                if (lastStatus_ != ReadStatus::Completed && EndedByUs()) return ReadStatus::Stopped;
                transferred = std::min<size_t>(lastBytes_, length);
                if (transferred > 0) std::memcpy(buffer, readBuffer_.data(), transferred);
                // A report of the basic reader is clear text: no copy stays here.
                norvik::SecureWipe(readBuffer_.data(), readBuffer_.size());
                return lastStatus_;
            }
            // The stop event, or a failed wait.
            AbandonRead();
            return ReadStatus::Stopped;
        }
    }

    // No read is in flight by now (Read() leaves none), so nothing writes the buffer.
    ~Win32HidDevice() override { norvik::SecureWipe(readBuffer_.data(), readBuffer_.size()); }

    void Stop() override { ::SetEvent(stopEvent_.get()); }

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

    bool IssueRead(size_t length) {
        if (length > std::numeric_limits<DWORD>::max()) return false;
        // Grows on first use only: no allocation per report.
        if (readBuffer_.size() < length || readBuffer_.empty()) readBuffer_.resize(std::max<size_t>(length, 1));
        request_.overlapped = OVERLAPPED{};
        request_.overlapped.hEvent = readDone_.get();
        std::shared_lock lock(handleLock_);
        if (!file_) return false;
        if (!::ReadFileEx(file_.get(), readBuffer_.data(), static_cast<DWORD>(length), &request_.overlapped,
                          &Win32HidDevice::OnReadCompleted)) {
            return false;
        }
        readPending_ = true;
        return true;
    }

    static VOID CALLBACK OnReadCompleted(DWORD error, DWORD bytesTransferred, LPOVERLAPPED overlapped) {
        reinterpret_cast<ReadRequest*>(overlapped)->device->CompleteRead(error, bytesTransferred);
    }

    // Runs on the read thread inside one of its alertable waits.
    void CompleteRead(DWORD error, DWORD bytesTransferred) {
        lastBytes_ = bytesTransferred;
        DWORD resultBytes = 0;
        BOOL succeeded;
        DWORD resultError = ERROR_SUCCESS;
        {
            std::shared_lock lock(handleLock_);
            // Not waiting: the handle is only named here, and may already be closed.
            succeeded = ::GetOverlappedResult(file_.get(), &request_.overlapped, &resultBytes, FALSE);
            if (!succeeded) resultError = ::GetLastError();
        }
        if (succeeded && error == ERROR_SUCCESS) {
            lastStatus_ = ReadStatus::Completed;
        } else {
            lastStatus_ = MeansRemoval(error != ERROR_SUCCESS ? error : resultError) ? ReadStatus::DeviceNotConnected
                                                                                     : ReadStatus::OtherError;
        }
        readPending_ = false;
        ::SetEvent(request_.overlapped.hEvent);
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
        if (::WaitForSingleObject(stopEvent_.get(), 0) == WAIT_OBJECT_0) return true;
        std::shared_lock lock(handleLock_);
        return !file_;
    }

    // Leaves no read in flight, so that its completion can never run in a
    // later alertable wait of this thread, nor touch the request afterwards.
    void AbandonRead() {
        if (!readPending_) return;
        {
            std::shared_lock lock(handleLock_);
            if (file_) ::CancelIoEx(file_.get(), &request_.overlapped);
        }
        while (readPending_) ::SleepEx(INFINITE, TRUE);
        ::ResetEvent(readDone_.get());
    }

    // Close() against every other use of the handle.
    std::shared_mutex handleLock_;
    UniqueFile file_;
    const UniqueEvent stopEvent_;

    // Read-thread state: used by Read() and by the completion routine, which
    // runs only inside Read()'s alertable waits on the same thread.
    UniqueEvent readDone_;
    ReadRequest request_;
    std::vector<uint8_t> readBuffer_;
    bool readPending_ = false;
    ReadStatus lastStatus_ = ReadStatus::Stopped;
    DWORD lastBytes_ = 0;
};

class Win32HidBus final : public HidBus {
public:
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
        return std::make_unique<Win32HidDevice>(std::move(file), std::move(stopEvent));
    }

private:
    GUID hidClass_{};
    UniqueDeviceInfoSet interfaces_;
    std::vector<uint8_t> detailBuffer_;
};

}  // namespace

std::unique_ptr<HidBus> CreateWin32HidBus() { return std::make_unique<Win32HidBus>(); }

}  // namespace vorlex::win32

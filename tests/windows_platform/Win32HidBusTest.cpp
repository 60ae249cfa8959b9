// The Win32 HID transport. Wine has no HID reader, so enumeration is checked
// for running through whatever is present, and reads are checked on the
// client end of a named pipe, which the bus opens like any device path.
#include "platform/Platform.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "core/ReaderLibrary.h"
#include "platform/win32/Win32HidBus.h"

namespace vorlex {
namespace {

constexpr size_t kEnumerationLimit = 512;

TEST(Win32HidBus, EnumeratesThePresentInterfacesWithoutCrashing) {
    auto bus = platform::CreateSystemHidBus();
    ASSERT_NE(bus, nullptr);
    std::string path = "untouched";
    EXPECT_FALSE(bus->InterfacePath(0, path));  // no snapshot yet
    EXPECT_EQ(path, "untouched");

    ASSERT_TRUE(bus->BeginEnumeration());
    size_t count = 0;
    while (count < kEnumerationLimit && bus->InterfacePath(count, path)) {
        if (auto device = bus->Open(path)) {
            HidAttributes attributes;
            HidCaps caps;
            device->GetAttributes(attributes);
            device->GetCaps(caps);
        }
        ++count;
    }
    EXPECT_LT(count, kEnumerationLimit);
    ::testing::Test::RecordProperty("interfaces", static_cast<int>(count));
    bus->EndEnumeration();
    EXPECT_FALSE(bus->InterfacePath(0, path));
    ASSERT_TRUE(bus->BeginEnumeration());  // a fresh snapshot after the last one ended
    bus->EndEnumeration();
}

TEST(Win32HidBus, OpeningABogusPathGivesNoDevice) {
    auto bus = platform::CreateSystemHidBus();
    EXPECT_EQ(bus->Open("\\\\?\\hid#vid_0000&pid_0000#0&0&0&0#{4d1e55b2-f16f-11cf-88cb-001111000030}"), nullptr);
    EXPECT_EQ(bus->Open("C:\\no\\such\\device"), nullptr);
    EXPECT_EQ(bus->Open(""), nullptr);
}

TEST(Win32Platform, PointerChecksFollowThePageProtection) {
    SYSTEM_INFO system{};
    ::GetSystemInfo(&system);
    const SIZE_T page = system.dwPageSize;
    void* readOnly = ::VirtualAlloc(nullptr, page, MEM_COMMIT | MEM_RESERVE, PAGE_READONLY);
    void* noAccess = ::VirtualAlloc(nullptr, page, MEM_COMMIT | MEM_RESERVE, PAGE_NOACCESS);
    ASSERT_NE(readOnly, nullptr);
    ASSERT_NE(noAccess, nullptr);
    char local[4] = {};

    EXPECT_TRUE(platform::IsReadable(local, sizeof local));
    EXPECT_TRUE(platform::IsWritable(local, sizeof local));
    EXPECT_TRUE(platform::IsReadable(readOnly, 4));
    EXPECT_FALSE(platform::IsWritable(readOnly, 4));
    EXPECT_FALSE(platform::IsReadable(noAccess, 4));
    EXPECT_FALSE(platform::IsWritable(noAccess, 4));
    EXPECT_FALSE(platform::IsReadable(nullptr, 0));
    EXPECT_FALSE(platform::IsWritable(nullptr, 0));

    ::VirtualFree(readOnly, 0, MEM_RELEASE);
    ::VirtualFree(noAccess, 0, MEM_RELEASE);
}

// The server end of a pipe; the device under test is its client (which reads
// in byte mode, so each report is sent just before it is read).
class PipeServer {
public:
    PipeServer() {
        static int serial = 0;
        name_ = "\\\\.\\pipe\\NorvikHidTest." + std::to_string(::GetCurrentProcessId()) + "." +
                std::to_string(++serial);
        pipe_ = ::CreateNamedPipeA(name_.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE | PIPE_WAIT,
                                   1, 4096, 4096, 0, nullptr);
    }
    ~PipeServer() {
        if (pipe_ != INVALID_HANDLE_VALUE) ::CloseHandle(pipe_);
    }
    PipeServer(const PipeServer&) = delete;
    PipeServer& operator=(const PipeServer&) = delete;

    bool Valid() const { return pipe_ != INVALID_HANDLE_VALUE; }
    // The device's end goes away under it, as an unplugged reader does.
    void Disconnect() { ::DisconnectNamedPipe(pipe_); }
    const std::string& Name() const { return name_; }
    bool Send(const std::vector<uint8_t>& message) {
        DWORD written = 0;
        return ::WriteFile(pipe_, message.data(), static_cast<DWORD>(message.size()), &written, nullptr) &&
               written == message.size();
    }

private:
    std::string name_;
    HANDLE pipe_ = INVALID_HANDLE_VALUE;
};

class Win32HidDeviceOnPipe : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server_.Valid());
        device_ = bus_->Open(server_.Name());
        ASSERT_NE(device_, nullptr);
    }

    PipeServer server_;
    std::unique_ptr<HidBus> bus_ = platform::CreateSystemHidBus();
    std::unique_ptr<HidDevice> device_;
};

TEST_F(Win32HidDeviceOnPipe, ReadsWholeAndShortReports) {
    const std::vector<uint8_t> report = {0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0x70, 0x80};
    std::vector<uint8_t> buffer(8, 0xEE);
    size_t transferred = 99;
    ASSERT_TRUE(server_.Send(report));
    ASSERT_EQ(device_->Read(buffer.data(), buffer.size(), transferred), ReadStatus::Completed);
    EXPECT_EQ(transferred, 8u);
    EXPECT_EQ(buffer, report);

    std::fill(buffer.begin(), buffer.end(), 0xEE);
    ASSERT_TRUE(server_.Send({0xA1, 0xA2, 0xA3}));
    ASSERT_EQ(device_->Read(buffer.data(), buffer.size(), transferred), ReadStatus::Completed);
    EXPECT_EQ(transferred, 3u);
    EXPECT_EQ(buffer, (std::vector<uint8_t>{0xA1, 0xA2, 0xA3, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE}));
}

TEST_F(Win32HidDeviceOnPipe, ReadWaitsForAReportSentFromAnotherThread) {
    std::thread sender([this] { server_.Send({1, 2, 3, 4}); });
    uint8_t buffer[4] = {};
    size_t transferred = 0;
    EXPECT_EQ(device_->Read(buffer, sizeof buffer, transferred), ReadStatus::Completed);
    sender.join();
    EXPECT_EQ(transferred, 4u);
    EXPECT_EQ(buffer[3], 4);
}

TEST_F(Win32HidDeviceOnPipe, StopEndsAPendingReadAndStaysInForce) {
    device_->Stop();
    uint8_t buffer[4] = {};
    size_t transferred = 99;
    EXPECT_EQ(device_->Read(buffer, sizeof buffer, transferred), ReadStatus::Stopped);
    EXPECT_EQ(transferred, 0u);
    // A report that arrives afterwards is not handed out: the stop holds.
    ASSERT_TRUE(server_.Send({9, 9, 9, 9}));
    EXPECT_EQ(device_->Read(buffer, sizeof buffer, transferred), ReadStatus::Stopped);
    EXPECT_EQ(buffer[0], 0);
}

TEST_F(Win32HidDeviceOnPipe, StopFromAnotherThreadEndsARead) {
    ReadStatus status = ReadStatus::Completed;
    std::thread reader([this, &status] {
        uint8_t buffer[4];
        size_t transferred = 0;
        status = device_->Read(buffer, sizeof buffer, transferred);
    });
    device_->Stop();
    reader.join();
    EXPECT_EQ(status, ReadStatus::Stopped);
}

TEST_F(Win32HidDeviceOnPipe, CloseFromAnotherThreadEndsReading) {
    std::vector<ReadStatus> statuses;
    std::thread reader([this, &statuses] {
        uint8_t buffer[4];
        size_t transferred = 0;
        // As the read thread does: go on after errors, end when stopped.
        for (int attempt = 0; attempt < 10; ++attempt) {
            statuses.push_back(device_->Read(buffer, sizeof buffer, transferred));
            if (statuses.back() == ReadStatus::Stopped) break;
        }
    });
    device_->Close();
    reader.join();
    // Also the read that the close cancelled ends as stopped, never as an error.
    EXPECT_EQ(statuses, std::vector<ReadStatus>{ReadStatus::Stopped});
}

// A device that fails under a read is never taken for our own stop: the
// library would end reading without telling anyone.
TEST_F(Win32HidDeviceOnPipe, ADeviceThatGoesAwayIsNoStop) {
    std::thread unplug([this] {
        ::Sleep(20);
        server_.Disconnect();
    });
    uint8_t buffer[4] = {};
    size_t transferred = 0;
    for (int attempt = 0; attempt < 3; ++attempt) {
        const ReadStatus status = device_->Read(buffer, sizeof buffer, transferred);
        EXPECT_TRUE(status == ReadStatus::OtherError || status == ReadStatus::DeviceNotConnected)
            << static_cast<int>(status);
    }
    unplug.join();
}

// An APC queued to the reading thread runs only inside Read()'s alertable
// wait, that is while the read is certainly in flight.
template <void (HidDevice::*Call)()>
void CALLBACK CallFromInsideTheWait(ULONG_PTR device) {
    (reinterpret_cast<HidDevice*>(device)->*Call)();
}

TEST_F(Win32HidDeviceOnPipe, StopWhileTheReadIsInFlightCancelsIt) {
    ASSERT_TRUE(::QueueUserAPC(&CallFromInsideTheWait<&HidDevice::Stop>, ::GetCurrentThread(),
                               reinterpret_cast<ULONG_PTR>(device_.get())));
    uint8_t buffer[4] = {};
    size_t transferred = 99;
    EXPECT_EQ(device_->Read(buffer, sizeof buffer, transferred), ReadStatus::Stopped);
    EXPECT_EQ(transferred, 0u);
    // The cancelled read left nothing behind to complete in a later alertable wait.
    EXPECT_EQ(::SleepEx(0, TRUE), 0u);
}

TEST_F(Win32HidDeviceOnPipe, CloseWhileTheReadIsInFlightEndsIt) {
    ASSERT_TRUE(::QueueUserAPC(&CallFromInsideTheWait<&HidDevice::Close>, ::GetCurrentThread(),
                               reinterpret_cast<ULONG_PTR>(device_.get())));
    uint8_t buffer[4] = {};
    size_t transferred = 99;
    // Our own close, not a failure of the device: the library must not take
    // it for a removal.
    EXPECT_EQ(device_->Read(buffer, sizeof buffer, transferred), ReadStatus::Stopped);  // aborted
    EXPECT_EQ(device_->Read(buffer, sizeof buffer, transferred), ReadStatus::Stopped);  // cannot be issued
    EXPECT_EQ(::SleepEx(0, TRUE), 0u);
}

TEST_F(Win32HidDeviceOnPipe, AHandleThatIsNoHidDeviceFailsEveryHidCall) {
    HidAttributes attributes;
    attributes.vendorId = 0xBEEF;
    HidCaps caps;
    uint8_t report[8] = {};
    EXPECT_FALSE(device_->GetAttributes(attributes));
    EXPECT_EQ(attributes.vendorId, 0xBEEF);
    EXPECT_EQ(device_->GetCaps(caps), CapsResult::PreparsedDataFailed);
    EXPECT_FALSE(device_->SetFeature(report, sizeof report));
    EXPECT_FALSE(device_->GetFeature(report, sizeof report));

    device_->Close();
    device_->Close();  // twice is harmless
    EXPECT_FALSE(device_->GetAttributes(attributes));
    EXPECT_EQ(device_->GetCaps(caps), CapsResult::PreparsedDataFailed);
    size_t transferred = 0;
    EXPECT_EQ(device_->Read(report, sizeof report, transferred), ReadStatus::Stopped);
}

// The read thread's sleep, scripted: a wait with a timeout returns at once,
// timed out, as if that much idle time had passed, and is counted; the stretch
// of idle time is over after ten seconds' worth of them or at the first wait
// with no timeout, which then really waits.
struct ScriptedIdleWait {
    static constexpr uint64_t kStretchMilliseconds = 10000;
    static inline std::atomic<int> timedOut{0};
    static inline std::atomic<uint64_t> elapsed{0};
    static inline HANDLE stretchOver = nullptr;

    static DWORD Wait(HANDLE handle, DWORD milliseconds) {
        if (milliseconds != INFINITE && elapsed < kStretchMilliseconds) {
            ++timedOut;
            elapsed += std::max<DWORD>(milliseconds, 1);
            if (elapsed >= kStretchMilliseconds) ::SetEvent(stretchOver);
            return WAIT_TIMEOUT;
        }
        ::SetEvent(stretchOver);
        return ::WaitForSingleObjectEx(handle, milliseconds, TRUE);
    }
};

// A basic reader on a pipe: the Win32 device reads, the identity is ours.
class PipeReaderBus final : public HidBus {
public:
    PipeReaderBus(std::string path, win32::AlertableWait wait) : path_(std::move(path)), bus_(win32::CreateWin32HidBus(wait)) {}
    bool BeginEnumeration() override { return true; }
    bool InterfacePath(size_t index, std::string& path) override {
        path = path_;
        return index == 0;
    }
    void EndEnumeration() override {}
    std::unique_ptr<HidDevice> Open(const std::string& path) override {
        auto device = bus_->Open(path);
        return device ? std::make_unique<Identified>(std::move(device)) : nullptr;
    }

private:
    class Identified final : public HidDevice {
    public:
        explicit Identified(std::unique_ptr<HidDevice> device) : device_(std::move(device)) {}
        bool GetAttributes(HidAttributes& attributes) override {
            attributes = {VORLEX_VENDOR_ID, VORLEX_PID_BASIC_SWIPE};
            return true;
        }
        CapsResult GetCaps(HidCaps& caps) override {
            caps = {338, 64};
            return CapsResult::Ok;
        }
        ReadStatus Read(uint8_t* buffer, size_t length, size_t& transferred) override {
            return device_->Read(buffer, length, transferred);
        }
        void Stop() override { device_->Stop(); }
        void Close() override { device_->Close(); }
        bool SetFeature(const uint8_t* report, size_t length) override { return device_->SetFeature(report, length); }
        bool GetFeature(uint8_t* report, size_t length) override { return device_->GetFeature(report, length); }

    private:
        std::unique_ptr<HidDevice> device_;
    };

    std::string path_;
    std::unique_ptr<HidBus> bus_;
};

// An enabled reader with nobody swiping must cost nothing: the read thread
// sleeps until a report or a stop, never for a slice of time.
TEST(Win32ReadThread, AnOpenReaderWithoutReportsNeverWakesForATimeout) {
    PipeServer server;
    ASSERT_TRUE(server.Valid());
    ScriptedIdleWait::stretchOver = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    PipeReaderBus bus(server.Name(), &ScriptedIdleWait::Wait);
    ReaderLibrary library;
    library.SetBus(&bus);
    ASSERT_EQ(library.OpenDevice(), VORLEX_OK);
    ASSERT_EQ(::WaitForSingleObject(ScriptedIdleWait::stretchOver, 10000), WAIT_OBJECT_0);
    EXPECT_EQ(ScriptedIdleWait::timedOut, 0) << "after " << ScriptedIdleWait::elapsed << " ms of idle time";
    EXPECT_EQ(library.DeviceState(), 1);
    library.CloseDevice();  // ends the wait that has no timeout
    EXPECT_EQ(library.DeviceState(), 0);
    ::CloseHandle(ScriptedIdleWait::stretchOver);
}

}  // namespace
}  // namespace vorlex

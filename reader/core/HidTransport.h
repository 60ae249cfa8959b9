// The HID transport seam of the reader library: everything the library needs
// of the HID class driver. One implementation walks the system's bus, the
// other the simulated bus; detection, the read thread and decoding sit above.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace vorlex {

struct HidAttributes {
    uint16_t vendorId = 0;
    uint16_t productId = 0;
};

struct HidCaps {
    uint16_t inputReportByteLength = 0;
    uint16_t featureReportByteLength = 0;
};

enum class CapsResult { Ok, PreparsedDataFailed, CapsFailed };

// How one read ended. The transport decides which failures mean the reader is
// gone; the library treats every ending other than its own stop as final.
enum class ReadStatus {
    Completed,           // `transferred` bytes arrived (may be fewer than asked: a short report)
    DeviceNotConnected,  // the reader is gone: unplugged during the read, or no read can be issued
    OtherError,          // failed otherwise; reading goes on (a run of them means removal)
    Stopped,             // Stop() or Close() was called
};

// Takes each ending of a read as ReadReports() sees it, on the read thread.
class ReportSink {
public:
    virtual ~ReportSink() = default;
    // A report (Completed: `transferred` bytes in the buffer) or a failure
    // other than a stop. True: read the next report; false: stop reading.
    virtual bool Take(ReadStatus status, size_t transferred) = 0;
};

// One opened HID interface.
//
// Concurrency: Read() and ReadReports() run on the read thread only. Stop() and Close() may be
// called from any thread, also while Read() blocks, and make it return.
// SetFeature()/GetFeature() run on the command sender's thread while a read is
// pending. Ownership: the object outlives every call into it.
class HidDevice {
public:
    virtual ~HidDevice() = default;
    virtual bool GetAttributes(HidAttributes& attributes) = 0;
    virtual CapsResult GetCaps(HidCaps& caps) = 0;
    // Blocks until one report arrives in `buffer` or the device stops.
    virtual ReadStatus Read(uint8_t* buffer, size_t length, size_t& transferred) = 0;
    // Reads one report at a time into `buffer` and hands each ending to
    // `sink` before the next read is issued, until the sink says no or the
    // device stops; returns the last ending. A transport whose reads complete
    // in a callback of their own hands the report on from there.
    virtual ReadStatus ReadReports(uint8_t* buffer, size_t length, ReportSink& sink) {
        for (;;) {
            size_t transferred = 0;
            const ReadStatus status = Read(buffer, length, transferred);
            if (status == ReadStatus::Stopped || !sink.Take(status, transferred)) return status;
        }
    }
    // Asks a pending or later Read() to return Stopped.
    virtual void Stop() = 0;
    // Closes the handle; a pending read ends.
    virtual void Close() = 0;
    virtual bool SetFeature(const uint8_t* report, size_t length) = 0;
    virtual bool GetFeature(uint8_t* report, size_t length) = 0;
};

// The set of present HID interfaces, in enumeration order.
class HidBus {
public:
    virtual ~HidBus() = default;
    // Takes a fresh snapshot of the present interfaces; false when the set
    // cannot be obtained.
    virtual bool BeginEnumeration() = 0;
    // Path of interface `index` of the snapshot; false when none is left.
    virtual bool InterfacePath(size_t index, std::string& path) = 0;
    virtual void EndEnumeration() = 0;
    // Opens an interface for overlapped reading; null when it cannot be opened.
    virtual std::unique_ptr<HidDevice> Open(const std::string& path) = 0;
};

}  // namespace vorlex

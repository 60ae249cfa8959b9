// What the diagnostic trace needs from the platform: files, local time,
// process and thread identifiers, path expansion and a place to report that
// the trace went off. Injected, so that tests own files and time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace norvik {

// ISO 8601 parts of a local time.
struct TraceTime {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, millisecond = 0;
    int utcOffsetMinutes = 0;
};

// An open trace file. Written only by the trace's writer thread.
class TraceFileSink {
public:
    virtual ~TraceFileSink() = default;
    virtual uint64_t Size() = 0;
    virtual bool Write(const char* data, size_t length) = 0;
    // The current file becomes the previous one (replacing it); a new empty file follows.
    virtual bool Roll() = 0;
};

// What the trace needs from the platform; injected so that tests own files and time.
class TracePlatform {
public:
    virtual ~TracePlatform() = default;
    // Creates missing folders and opens `path` for appending; null with `error` set when it cannot.
    virtual std::unique_ptr<TraceFileSink> OpenFile(const std::string& path, std::string& error) = 0;
    virtual TraceTime Now() = 0;
    virtual uint32_t ProcessId() = 0;
    virtual uint32_t ThreadId() = 0;
    // "%NAME%" references replaced by the environment's values.
    virtual std::string ExpandPath(const std::string& path) = 0;
    // The folder of the default trace files with its separator: %ProgramData%\Norvik\Logs\ on Windows.
    virtual std::string DefaultFolder() = 0;
    // Says once why the trace went off: the Windows event log, stderr natively.
    virtual void ReportProblem(const std::string& message) = 0;
};

}  // namespace norvik

// The diagnostic trace of one service object instance: off by default,
// switched on per device key ("TraceLevel", "TraceFile"). Lines are formatted
// into fixed storage on the calling thread and handed to a bounded buffer; a
// writer thread of the trace puts them on disk, so the card path never waits
// for the disk. A full buffer drops lines and counts them.
//
// What a caller writes must never carry card data: the masking helpers of
// TraceMasking.h turn records, account numbers and replies into summaries.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdarg>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "seams/TracePlatform.h"

namespace norvik {

enum class TraceLevel : int32_t {
    Off = 0,
    Errors = 1,   // failed calls, error events, reader failures
    Calls = 2,    // plus every OPOS call with its result codes, and every event
    Details = 3,  // plus reader states, commands and report summaries
};

// The file that a device key's trace goes to: its "TraceFile" value with
// %NAME% references expanded, or <device key>.log in the platform's default
// folder when the value is empty. SwipeBench finds the trace folder by it.
std::string TraceFilePath(TracePlatform& platform, std::string_view file, std::string_view deviceKey);

class Trace {
public:
    static constexpr size_t kLineCapacity = 400;        // longer lines are cut
    static constexpr size_t kBufferedLines = 256;       // lines waiting for the writer
    static constexpr uint64_t kRollOverBytes = 1 << 20;  // the file rolls over at 1 MiB
    static constexpr size_t kMaxPathLength = 259;       // MAX_PATH less its terminator

    explicit Trace(TracePlatform& platform);
    ~Trace();  // writes what is buffered, then stops
    Trace(const Trace&) = delete;
    Trace& operator=(const Trace&) = delete;

    // (Re)starts the trace for `deviceKey` at `level`; `file` empty takes the
    // default file. A file that cannot be used turns the trace off and is
    // reported once; it never fails the caller.
    void Configure(int32_t level, std::string_view file, std::string_view deviceKey);
    // Writes what is buffered and switches the trace off.
    void Stop();

    bool On(TraceLevel level) const noexcept {
        // Acquire: a line written after this sees the configuration that switched the trace on.
        return static_cast<int32_t>(level) <= level_.load(std::memory_order_acquire);
    }
    // One line, printf-style, when the trace is on at `level`.
    void Write(TraceLevel level, const char* format, ...)
#if defined(__MINGW_PRINTF_FORMAT)
        __attribute__((format(__MINGW_PRINTF_FORMAT, 3, 4)))
#elif defined(__GNUC__)
        __attribute__((format(printf, 3, 4)))
#endif
        ;
    // Waits until every line written so far is in the file (tests, close).
    void Flush();

    std::string Path() const;
    int32_t Level() const noexcept { return level_.load(std::memory_order_relaxed); }

private:
    struct Line {
        uint16_t length;
        char text[kLineCapacity];
    };
    void Append(const char* text, size_t length);
    void WriterMain();
    void Store(const char* text, size_t length);  // writer thread: with roll-over
    void StopWriter();

    TracePlatform& platform_;
    std::atomic<int32_t> level_{0};

    mutable std::mutex mutex_;  // guards everything below
    char instance_[48] = {};    // Configure writes it while other threads format lines
    // Two conditions, so that a notification meant for the writer never
    // wakes a flushing thread instead: the writer waits for work, Flush for
    // lines written.
    std::condition_variable work_;
    std::condition_variable written_cv_;
    std::unique_ptr<Line[]> lines_;  // ring of kBufferedLines
    size_t head_ = 0, count_ = 0;
    uint64_t dropped_ = 0;
    uint64_t queued_ = 0, written_ = 0;  // lines handed over / lines the writer finished
    bool stop_ = false;
    std::string path_;
    std::unique_ptr<TraceFileSink> file_;
    std::thread writer_;
};

}  // namespace norvik

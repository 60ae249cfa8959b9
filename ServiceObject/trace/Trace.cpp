#include "trace/Trace.h"

#include <cstdio>
#include <cstring>
#include <vector>

namespace norvik {
namespace {

std::atomic<uint32_t> g_instances{0};

// "2026-12-08T14:03:05.123+01:00"
size_t FormatTime(const TraceTime& t, char* out, size_t capacity) {
    const int offset = t.utcOffsetMinutes < 0 ? -t.utcOffsetMinutes : t.utcOffsetMinutes;
    const int n = std::snprintf(out, capacity, "%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02d:%02d", t.year,
                                t.month, t.day, t.hour, t.minute, t.second, t.millisecond,
                                t.utcOffsetMinutes < 0 ? '-' : '+', offset / 60, offset % 60);
    return n < 0 ? 0 : static_cast<size_t>(n) < capacity ? static_cast<size_t>(n) : capacity - 1;
}

}  // namespace

std::string TraceFilePath(TracePlatform& platform, std::string_view file, std::string_view deviceKey) {
    return file.empty() ? platform.DefaultFolder() + std::string(deviceKey) + ".log"
                        : platform.ExpandPath(std::string(file));
}

Trace::Trace(TracePlatform& platform) : platform_(platform) {}

Trace::~Trace() { Stop(); }

void Trace::Configure(int32_t level, std::string_view file, std::string_view deviceKey) {
    Stop();
    if (level <= 0) return;
    if (level > static_cast<int32_t>(TraceLevel::Details)) level = static_cast<int32_t>(TraceLevel::Details);

    std::string path = TraceFilePath(platform_, file, deviceKey);
    std::string error;
    std::unique_ptr<TraceFileSink> sink;
    if (path.size() > kMaxPathLength) {
        error = "the path is longer than MAX_PATH";
    } else {
        sink = platform_.OpenFile(path, error);
    }
    if (!sink) {
        platform_.ReportProblem("NorvikMSR trace of " + std::string(deviceKey) + " is off: cannot use \"" +
                                path + "\": " + error);
        return;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        std::snprintf(instance_, sizeof instance_, "%.30s#%u", std::string(deviceKey).c_str(),
                      static_cast<unsigned>(++g_instances));
        if (!lines_) lines_ = std::make_unique<Line[]>(kBufferedLines);
        head_ = count_ = 0;
        dropped_ = 0;
        stop_ = false;
        path_ = path;
        file_ = std::move(sink);
    }
    writer_ = std::thread(&Trace::WriterMain, this);
    level_.store(level, std::memory_order_release);
}

void Trace::Stop() {
    level_.store(0, std::memory_order_relaxed);
    StopWriter();
}

void Trace::StopWriter() {
    if (!writer_.joinable()) return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    work_.notify_all();
    writer_.join();
    std::lock_guard<std::mutex> lock(mutex_);
    file_.reset();
}

std::string Trace::Path() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return path_;
}

void Trace::Write(TraceLevel level, const char* format, ...) {
    if (!On(level)) return;
    char line[kLineCapacity];
    const size_t limit = sizeof line - 2;  // room for "\r\n"
    char instance[sizeof instance_];
    {
        std::lock_guard<std::mutex> lock(mutex_);
        std::memcpy(instance, instance_, sizeof instance);
    }
    size_t used = FormatTime(platform_.Now(), line, limit);
    int n = std::snprintf(line + used, limit - used, " pid=%u tid=%u %s ", platform_.ProcessId(),
                          platform_.ThreadId(), instance);
    used += n < 0 ? 0 : static_cast<size_t>(n);
    if (used < limit) {
        va_list arguments;
        va_start(arguments, format);
        n = std::vsnprintf(line + used, limit - used, format, arguments);
        va_end(arguments);
        used += n < 0 ? 0 : static_cast<size_t>(n);
    }
    if (used > limit - 1) used = limit - 1;  // cut: vsnprintf reports what it wanted
    line[used++] = '\r';
    line[used++] = '\n';
    Append(line, used);
}

void Trace::Append(const char* text, size_t length) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!lines_ || stop_) return;
        if (count_ == kBufferedLines) {
            ++dropped_;  // never wait for the disk
            return;
        }
        Line& line = lines_[(head_ + count_) % kBufferedLines];
        std::memcpy(line.text, text, length);
        line.length = static_cast<uint16_t>(length);
        ++count_;
        ++queued_;
    }
    work_.notify_one();  // only the writer waits for work
}

void Trace::Flush() {
    std::unique_lock<std::mutex> lock(mutex_);
    const uint64_t target = queued_;
    written_cv_.wait(lock, [&] { return written_ >= target; });
}

void Trace::WriterMain() {
    // The writer's own copy, so that the buffer's lock is never held during I/O.
    std::vector<Line> batch(kBufferedLines);
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        work_.wait(lock, [&] { return stop_ || count_ > 0 || dropped_ > 0; });
        const size_t taken = count_;
        for (size_t i = 0; i < taken; ++i) batch[i] = lines_[(head_ + i) % kBufferedLines];
        head_ = (head_ + taken) % kBufferedLines;
        count_ = 0;
        const uint64_t dropped = dropped_;
        dropped_ = 0;
        const bool stopping = stop_;
        lock.unlock();

        if (dropped > 0) {
            char note[96];
            const int n = std::snprintf(note, sizeof note, "--- %lu lines dropped: the trace buffer was full\r\n",
                                        static_cast<unsigned long>(dropped));
            Store(note, static_cast<size_t>(n));
        }
        for (size_t i = 0; i < taken; ++i) Store(batch[i].text, batch[i].length);

        lock.lock();
        written_ += taken;
        written_cv_.notify_all();
        if (stopping && count_ == 0 && dropped_ == 0) return;
    }
}

void Trace::Store(const char* text, size_t length) {
    if (!file_) return;
    if (file_->Size() + length > kRollOverBytes && !file_->Roll()) {
        platform_.ReportProblem("NorvikMSR trace: cannot roll over \"" + path_ + "\"; the trace stops writing");
        file_.reset();
        return;
    }
    if (!file_->Write(text, length)) {
        platform_.ReportProblem("NorvikMSR trace: cannot write \"" + path_ + "\"; the trace stops writing");
        file_.reset();
    }
}

}  // namespace norvik

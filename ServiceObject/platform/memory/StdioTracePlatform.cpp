// The trace natively: stdio files, the C library's local time, and stderr
// for a trace that had to go off.
#include <sys/syscall.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <system_error>

#include "platform/memory/StdioTracePlatform.h"

namespace norvik {
namespace {

class StdioTraceFile final : public TraceFileSink {
public:
    StdioTraceFile(std::string path, std::FILE* file)
        : path_(std::move(path)), previous_(path_ + ".1"), file_(file) {
        std::fseek(file_, 0, SEEK_END);
        const long size = std::ftell(file_);
        size_ = size > 0 ? static_cast<uint64_t>(size) : 0;
    }
    ~StdioTraceFile() override { Close(); }

    // Counted rather than asked for: asking would allocate on every line.
    uint64_t Size() override { return size_; }
    bool Write(const char* data, size_t length) override {
        if (!file_ || std::fwrite(data, 1, length, file_) != length || std::fflush(file_) != 0) return false;
        size_ += length;
        return true;
    }
    bool Roll() override {
        Close();
        std::rename(path_.c_str(), previous_.c_str());
        file_ = std::fopen(path_.c_str(), "wb");
        size_ = 0;
        return file_ != nullptr;
    }

private:
    void Close() {
        if (file_) std::fclose(file_);
        file_ = nullptr;
    }
    std::string path_;
    std::string previous_;  // made once: rolling over allocates nothing
    std::FILE* file_;
    uint64_t size_ = 0;
};

class NativeTracePlatform final : public TracePlatform {
public:
    std::unique_ptr<TraceFileSink> OpenFile(const std::string& path, std::string& error) override {
        const std::filesystem::path folder = std::filesystem::path(path).parent_path();
        std::error_code code;
        if (!folder.empty()) std::filesystem::create_directories(folder, code);
        if (code) {
            error = "cannot create the folder \"" + folder.string() + "\": " + code.message();
            return nullptr;
        }
        std::FILE* file = std::fopen(path.c_str(), "ab");
        if (!file) {
            error = std::error_code(errno, std::generic_category()).message();
            return nullptr;
        }
        return std::make_unique<StdioTraceFile>(path, file);
    }

    TraceTime Now() override {
        timeval now{};
        ::gettimeofday(&now, nullptr);
        const std::time_t seconds = now.tv_sec;
        std::tm local{};
        ::localtime_r(&seconds, &local);
        return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                static_cast<int>(now.tv_usec / 1000), static_cast<int>(local.tm_gmtoff / 60)};
    }

    uint32_t ProcessId() override { return static_cast<uint32_t>(::getpid()); }
    uint32_t ThreadId() override { return static_cast<uint32_t>(::syscall(SYS_gettid)); }

    std::string ExpandPath(const std::string& path) override {
        std::string result;
        for (size_t at = 0; at < path.size();) {
            const size_t open = path.find('%', at);
            const size_t close = open == std::string::npos ? open : path.find('%', open + 1);
            if (close == std::string::npos) {
                result.append(path, at, std::string::npos);
                break;
            }
            const char* value = std::getenv(path.substr(open + 1, close - open - 1).c_str());
            result.append(path, at, open - at);
            result += value ? std::string(value) : path.substr(open, close - open + 1);
            at = close + 1;
        }
        return result;
    }

    std::string DefaultFolder() override {
        const char* root = std::getenv("ProgramData");
        return std::string(root ? root : "/tmp") + "/Norvik/Logs/";
    }

    void ReportProblem(const std::string& message) override { std::fprintf(stderr, "%s\n", message.c_str()); }
};

}  // namespace

TracePlatform& StdioTracePlatformInstance() {
    static NativeTracePlatform platform;
    return platform;
}

}  // namespace norvik

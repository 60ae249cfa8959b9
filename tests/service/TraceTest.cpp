// The diagnostic trace: its switch in the device key, the line format and
// levels, the bounded buffer (roll-over, dropped lines), a file that cannot
// be used, and above all that no card data reaches the file.
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <future>
#include <map>
#include <regex>
#include <sstream>

#include "support/ServiceFixture.h"
#include "trace/Trace.h"
#include "trace/TraceMasking.h"

namespace norvik::test {
namespace {

// Files in memory; a write may be held at a gate so that the buffer fills.
class FakeTracePlatform final : public TracePlatform {
public:
    struct File {
        std::string current, previous;
    };

    class Sink final : public TraceFileSink {
    public:
        Sink(FakeTracePlatform& owner, std::string path) : owner_(owner), path_(std::move(path)) {}
        uint64_t Size() override {
            std::lock_guard<std::mutex> lock(owner_.mutex);
            return owner_.files[path_].current.size();
        }
        bool Write(const char* data, size_t length) override {
            std::unique_lock<std::mutex> lock(owner_.mutex);
            ++owner_.writesEntered;
            owner_.changed.notify_all();
            owner_.changed.wait(lock, [&] { return !owner_.gateClosed; });
            owner_.files[path_].current.append(data, length);
            return true;
        }
        bool Roll() override {
            std::lock_guard<std::mutex> lock(owner_.mutex);
            File& file = owner_.files[path_];
            file.previous = std::move(file.current);
            file.current.clear();
            return true;
        }

    private:
        FakeTracePlatform& owner_;
        std::string path_;
    };

    std::unique_ptr<TraceFileSink> OpenFile(const std::string& path, std::string& error) override {
        std::lock_guard<std::mutex> lock(mutex);
        ++opens;
        if (path.find("unwritable") != std::string::npos) {
            error = "Access is denied.";
            return nullptr;
        }
        files[path];
        return std::make_unique<Sink>(*this, path);
    }
    TraceTime Now() override { return {2026, 12, 8, 14, 3, 5, 7, 60}; }
    uint32_t ProcessId() override { return 4242; }
    uint32_t ThreadId() override { return 77; }
    std::string ExpandPath(const std::string& path) override {
        return std::regex_replace(path, std::regex("%TEMP%"), "C:\\Temp");
    }
    std::string DefaultFolder() override { return "C:\\ProgramData\\Norvik\\Logs\\"; }
    void ReportProblem(const std::string& message) override {
        std::lock_guard<std::mutex> lock(mutex);
        reports.push_back(message);
    }

    File Get(const std::string& path) {
        std::lock_guard<std::mutex> lock(mutex);
        return files[path];
    }
    void SetGate(bool closed) {
        std::lock_guard<std::mutex> lock(mutex);
        gateClosed = closed;
        changed.notify_all();
    }
    void WaitForWrite() {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [&] { return writesEntered > 0; });
    }

    std::mutex mutex;
    std::condition_variable changed;
    std::map<std::string, File> files;
    std::vector<std::string> reports;
    int opens = 0;
    int writesEntered = 0;
    bool gateClosed = false;
};

size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

const std::string kDefaultLog = "C:\\ProgramData\\Norvik\\Logs\\Norvik_MSR-1.log";

class TraceTest : public ServiceTest {
protected:
    void SetUp() override {
        ServiceTest::SetUp();
        tracePlatform = &fake;
    }
    void SetTrace(const std::string& device, uint32_t level, const std::string& file = "") {
        registry.SetDword(kMsrKey + "\\" + device, "TraceLevel", level);
        if (!file.empty()) registry.SetString(kMsrKey + "\\" + device, "TraceFile", file);
    }
    FakeTracePlatform fake;
};

TEST_F(TraceTest, LevelTwoWritesEveryCallWithItsResultInTheLineFormatToTheDefaultFile) {
    SetTrace(kDevice1, 2);
    ServiceObjectCore& so = Claimed(kDevice1);
    int32_t rc = 0;
    so.ReleaseDevice(&rc);
    so.ReleaseDevice(&rc);  // not claimed any more: 106
    so.CloseService(&rc);   // writes what is buffered
    const std::string log = fake.Get(kDefaultLog).current;
    std::istringstream lines(log);
    std::string line;
    std::vector<std::string> calls;
    const std::regex format(
        R"(2026-12-08T14:03:05\.007\+01:00 pid=4242 tid=77 Norvik_MSR-1#[0-9]+ call (\w+)\(.*\) .*\r)");
    while (std::getline(lines, line)) {
        std::smatch match;
        ASSERT_TRUE(std::regex_match(line, match, format)) << line;
        calls.push_back(match[1]);
    }
    EXPECT_EQ(calls, (std::vector<std::string>{"OpenService", "ClaimDevice", "ReleaseDevice", "ReleaseDevice",
                                               "CloseService"}));
    EXPECT_NE(log.find("call OpenService(MSR, Norvik_MSR-1) rc=0 ResultCode=0 ResultCodeExtended=0\r\n"),
              std::string::npos);
    EXPECT_NE(log.find("call ReleaseDevice() rc=106 ResultCode=106"), std::string::npos);
}

TEST_F(TraceTest, LevelOneWritesOnlyErrorsAndLevelZeroNothing) {
    SetTrace(kDevice1, 1);
    SetTrace(kDevice2, 0, "C:\\Temp\\second.log");
    ServiceObjectCore& so = Claimed(kDevice1);
    int32_t rc = 0;
    so.WriteTracks(&rc);
    so.ReleaseDevice(&rc);
    ServiceObjectCore& quiet = Claimed(kDevice2);
    quiet.WriteTracks(&rc);
    so.CloseService(&rc);
    quiet.CloseService(&rc);
    const std::string log = fake.Get(kDefaultLog).current;
    EXPECT_EQ(Count(log, "\r\n"), 1u) << log;
    EXPECT_NE(log.find("call WriteTracks() rc=106"), std::string::npos) << log;
    EXPECT_EQ(fake.opens, 1);  // level 0 opens no file
}

TEST_F(TraceTest, ALevelThreeSwipeWritesNoAccountNumberTrackTextOrName) {
    // The platform's own files, as a support engineer would get them.
    const std::filesystem::path folder = std::filesystem::temp_directory_path() / "norvik-trace-test";
    std::filesystem::remove_all(folder);
    tracePlatform = nullptr;
    const std::string pan = "4111111111111111";
    const std::string track1 = "%B" + pan + "^DOE/JOHN Q^2512101123456789?";
    const std::string track2 = ";" + pan + "=25121011234567890?";
    const std::string track3 = ";011" + pan + "=7249=000000000000000000?";
    for (const std::string& device : {kDevice1, kDevice2}) {
        SCOPED_TRACE(device);
        VorlexSimReset();  // the reader of the device's kind only
        const std::string file = (folder / (device + ".log")).string();
        SetTrace(device, 3, file);
        ServiceObjectCore& so = Enabled(device);
        ASSERT_TRUE(Swipe(track1.c_str(), track2.c_str(), track3.c_str()));
        ASSERT_TRUE(events->WaitForCount(1));
        std::string accountNumber;
        int32_t rc = 0;
        ASSERT_TRUE(so.RetrieveCardProperty("AccountNumber", accountNumber, &rc));
        // The plain reader hands the application the whole number; the trace must not have it.
        if (device == kDevice1) {
            ASSERT_EQ(accountNumber, pan);
        }
        for (int index : {PIDXMsr_Track1Data, PIDXMsr_Track2Data, PIDXMsr_Track3Data, PIDXMsr_Surname}) Text(so, index);
        int32_t data = 0;
        std::string command = "04";
        so.DirectIO(0, &data, command, &rc);
        so.CloseService(&rc);
        Destroy(so);
        std::ifstream in(file, std::ios::binary);
        const std::string log((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        // Plain tracks, or the masked ones of the encrypting reader: their lengths only.
        const std::string lengths = std::to_string(track1.size()) + "/" + std::to_string(track2.size()) + "/" +
                                    std::to_string(track3.size()) + " chars";
        ASSERT_NE(log.find(lengths), std::string::npos) << log;
        EXPECT_NE(log.find("account=411111******1111"), std::string::npos) << log;
        EXPECT_NE(log.find("event SOData("), std::string::npos);
        EXPECT_NE(log.find("reader command 04"), std::string::npos);
        for (const std::string& secret : {pan, track1, track2, track3, track1.substr(2, track1.size() - 3),
                                           track2.substr(1, track2.size() - 2), std::string("DOE"),
                                           std::string("JOHN"), pan.substr(6, 6)}) {
            EXPECT_EQ(log.find(secret), std::string::npos) << "\"" << secret << "\" is in the trace";
        }
        events = std::make_shared<EventRecorder>();
    }
    std::filesystem::remove_all(folder);
}

TEST_F(TraceTest, AccountNumbersShowAtMostSixAndFourDigits) {
    char out[kMaskedAccountCapacity];
    MaskAccountNumber("4111111111111111", out);
    EXPECT_STREQ(out, "411111******1111");
    MaskAccountNumber("378282246310005", out);
    EXPECT_STREQ(out, "378282*****0005");
    MaskAccountNumber("123456789012", out);  // too short to show both ends without revealing most of it
    EXPECT_STREQ(out, "************");
    MaskAccountNumber(std::string(60, '9'), out);  // cut, and fully hidden
    EXPECT_EQ(std::string(out), std::string(kMaskedAccountCapacity - 1, '*'));
}

TEST_F(TraceTest, AFileThatCannotBeUsedTurnsTheTraceOffWithOneReportAndOpenSucceeds) {
    SetTrace(kDevice1, 3, "C:\\unwritable\\trace.log");
    SetTrace(kDevice2, 3, "C:\\" + std::string(300, 'x') + ".log");
    for (const std::string& device : {kDevice1, kDevice2}) {
        ServiceObjectCore& so = NewInstance();
        EXPECT_EQ(Open(so, device), 0);
        int32_t rc = -1;
        so.ClaimDevice(0, &rc);
        EXPECT_EQ(rc, 0);
    }
    EXPECT_EQ(fake.opens, 1);  // the long path is refused before it is tried
    ASSERT_EQ(fake.reports.size(), 2u);
    EXPECT_NE(fake.reports[0].find("Access is denied"), std::string::npos);
    EXPECT_NE(fake.reports[1].find("MAX_PATH"), std::string::npos);

    // The platform's own files: a folder that cannot be created (a file is in its way).
    tracePlatform = nullptr;
    const std::filesystem::path blocker = std::filesystem::temp_directory_path() / "norvik-trace-blocker";
    std::ofstream(blocker.string()) << "x";
    SetTrace(kDevice1, 3, (blocker / "sub" / "trace.log").string());
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(Open(NewInstance(), kDevice1), 0);
    const std::string reported = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(Count(reported, "trace of Norvik_MSR-1 is off"), 1u) << reported;
    std::filesystem::remove(blocker);
}

TEST(TraceBuffer, RollsOverAtOneMebibyteKeepingThePreviousFile) {
    FakeTracePlatform fake;
    Trace trace(fake);
    trace.Configure(3, "C:\\Temp\\roll.log", "Norvik_MSR-1");
    const std::string filler(300, 'f');
    const int lines = 5000;  // about 1.8 MiB
    for (int i = 0; i < lines; ++i) {
        trace.Write(TraceLevel::Details, "%05d %s", i, filler.c_str());
        if (i % 200 == 0) trace.Flush();  // keep within the buffer: this test is not about dropping
    }
    trace.Flush();
    const FakeTracePlatform::File file = fake.Get("C:\\Temp\\roll.log");
    EXPECT_LE(file.current.size(), Trace::kRollOverBytes);
    EXPECT_LE(file.previous.size(), Trace::kRollOverBytes);
    EXPECT_GT(file.previous.size(), Trace::kRollOverBytes - Trace::kLineCapacity);
    EXPECT_EQ(Count(file.previous, "\r\n") + Count(file.current, "\r\n"), static_cast<size_t>(lines));
    EXPECT_NE(file.current.find("04999 "), std::string::npos);
}

TEST(TraceBuffer, AFullBufferDropsLinesAndSaysHowMany) {
    FakeTracePlatform fake;
    Trace trace(fake);
    trace.Configure(2, "C:\\Temp\\drop.log", "Norvik_MSR-2");
    fake.SetGate(true);
    trace.Write(TraceLevel::Calls, "first");
    fake.WaitForWrite();  // the writer holds "first" and waits for the disk
    const size_t extra = 44;
    for (size_t i = 0; i < Trace::kBufferedLines + extra; ++i) trace.Write(TraceLevel::Calls, "line %zu", i);
    trace.Write(TraceLevel::Details, "above the level: not even counted");
    fake.SetGate(false);
    trace.Flush();
    const std::string log = fake.Get("C:\\Temp\\drop.log").current;
    EXPECT_NE(log.find("--- " + std::to_string(extra) + " lines dropped"), std::string::npos) << log.substr(0, 400);
    EXPECT_EQ(Count(log, "\r\n"), 1 + Trace::kBufferedLines + 1);
    EXPECT_NE(log.find(" line " + std::to_string(Trace::kBufferedLines - 1) + "\r\n"), std::string::npos);
}

// Configure names the instance while other threads format lines (a race
// under TSan before the name was guarded), and a flush waits on a condition
// of its own: a wake-up meant for the writer never goes to a flushing thread
// and leaves both waiting.
TEST(TraceBuffer, WritersFlushersAndConfigureOnSeveralThreadsRaceOnNothingAndLoseNoWakeUp) {
    FakeTracePlatform fake;
    Trace trace(fake);
    trace.Configure(2, "C:\\Temp\\race.log", "Norvik_MSR-1");
    std::atomic<bool> done{false};
    std::thread writer([&] {
        while (!done) trace.Write(TraceLevel::Calls, "line");
    });
    for (int i = 0; i < 100; ++i) trace.Configure(2, "C:\\Temp\\race.log", i % 2 ? "Norvik_MSR-1" : "Norvik_MSR-2");
    done = true;
    writer.join();

    int stuck = 0;
    for (int i = 0; i < 3000 && stuck == 0; ++i) {
        std::future<void> flushed = std::async(std::launch::async, [&] { trace.Flush(); });
        trace.Write(TraceLevel::Calls, "step %d", i);
        if (flushed.wait_for(kWait) != std::future_status::ready) {
            ++stuck;
            trace.Write(TraceLevel::Calls, "rescue");  // wakes the writer, and so the flush
        }
    }
    EXPECT_EQ(stuck, 0) << "a flush waited for a line that the writer was never woken for";
}

}  // namespace
}  // namespace norvik::test

// The reader library over the simulated bus: detection, the read thread,
// callbacks and their threads, removal, commands.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <future>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "CallbackLog.h"
#include "core/ReaderLibrary.h"
#include "sim/SimulatedHidBus.h"
#include "sim/SwipeReportBuilder.h"

namespace vorlex {
namespace {

using testing::CallbackEvent;
using testing::CallbackLog;

constexpr uint16_t kBasicInput = 338;
constexpr uint16_t kSecureInput = 887;
constexpr uint16_t kFeature = 64;

class ReaderLibraryTest : public ::testing::Test {
protected:
    void SetUp() override {
        Log().Reset();
        library_.SetBus(&bus_);
        library_.SetCardDataCallback(&CallbackLog::CardDataCallback);
        library_.SetDeviceStateCallback(&CallbackLog::DeviceStateCallback);
    }
    void TearDown() override {
        library_.CloseDevice();
        Log().Reset();
    }

    static CallbackLog& Log() { return CallbackLog::Instance(); }

    void AttachBasic() { bus_.Attach(VORLEX_VENDOR_ID, VORLEX_PID_BASIC_SWIPE, kBasicInput, kFeature); }
    void AttachSecure() { bus_.Attach(VORLEX_VENDOR_ID, VORLEX_PID_SECURE_SWIPE, kSecureInput, kFeature); }

    bool SwipeBasic(const char* track2, int8_t status2 = 0) {
        SwipeTracks tracks;
        tracks.track[1] = track2;
        tracks.decodeStatus[1] = status2;
        uint8_t report[kReportBufferSize];
        const size_t length = BuildSwipeReport(FindReaderModel(VORLEX_PID_BASIC_SWIPE)->switches,
                                               tracks, kBasicInput, report, sizeof report);
        return bus_.Swipe(report, length);
    }

    VorlexCardData Record() const {
        VorlexCardData record{};
        library_.GetCardData(record);
        return record;
    }

    SimulatedHidBus bus_;
    ReaderLibrary library_;
};

TEST_F(ReaderLibraryTest, OpensTheFirstMatchingReaderAndReportsOnTheOpenersThread) {
    AttachBasic();
    EXPECT_EQ(library_.OpenDevice(), VORLEX_OK);
    const auto events = Log().Events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].kind, CallbackEvent::DeviceState);
    EXPECT_EQ(events[0].state, 1);
    EXPECT_EQ(events[0].thread, std::this_thread::get_id());
    EXPECT_EQ(library_.DeviceState(), 1);
    EXPECT_EQ(library_.ProductId(), VORLEX_PID_BASIC_SWIPE);
    EXPECT_EQ(Record().DecodeFailed, -1);  // nothing decoded since opening

    EXPECT_EQ(library_.OpenDevice(), VORLEX_ALREADY_OPEN);
    EXPECT_EQ(Log().Events().size(), 1u);

    EXPECT_EQ(library_.CloseDevice(), VORLEX_OK);
    EXPECT_EQ(Log().States(CallbackEvent::DeviceState), (std::vector<int32_t>{1, 0}));
    EXPECT_EQ(library_.ProductId(), 0);
    EXPECT_EQ(library_.DeviceState(), 0);
    EXPECT_EQ(library_.CloseDevice(), VORLEX_OK);  // nothing open: no callback
    EXPECT_EQ(Log().Events().size(), 2u);
}

TEST_F(ReaderLibraryTest, SkipsInterfacesThatCannotBeOpenedOrIdentified) {
    for (SimFailPoint point : {SimFailPoint::Open, SimFailPoint::Attributes}) {
        SimulatedHidBus bus;
        library_.SetBus(&bus);
        bus.Attach(VORLEX_VENDOR_ID, VORLEX_PID_SECURE_SWIPE, kSecureInput, kFeature);
        bus.Attach(VORLEX_VENDOR_ID, VORLEX_PID_BASIC_SWIPE, kBasicInput, kFeature);
        bus.FailNext(point);  // hits the first interface
        ASSERT_EQ(library_.OpenDevice(), VORLEX_OK);
        // A reader later on the bus is still found.
        EXPECT_EQ(library_.ProductId(), VORLEX_PID_BASIC_SWIPE);
        library_.CloseDevice();
    }
    library_.SetBus(&bus_);
}

TEST_F(ReaderLibraryTest, SkipsForeignInterfacesWithoutKeepingTheirModel) {
    bus_.Attach(VORLEX_VENDOR_ID, 0x7777, kBasicInput, kFeature);          // unknown model
    bus_.Attach(0x1234, VORLEX_PID_SECURE_SWIPE, kSecureInput, kFeature);  // other vendor
    AttachBasic();
    ASSERT_EQ(library_.OpenDevice(), VORLEX_OK);
    EXPECT_EQ(library_.ProductId(), VORLEX_PID_BASIC_SWIPE);
    // The foreign secure product ID left no switch behind: the basic reader's
    // tracks are characters, not hexadecimal.
    ASSERT_TRUE(SwipeBasic(";4111=2512?"));
    ASSERT_TRUE(Log().WaitFor(CallbackEvent::CardData, 1));
    EXPECT_STREQ(Record().Track2Text, ";4111=2512?");
}

TEST_F(ReaderLibraryTest, DetectionFailuresLeaveTheLibraryClosed) {
    EXPECT_EQ(library_.OpenDevice(), VORLEX_FAILED);  // empty bus
    AttachBasic();
    bus_.FailNext(SimFailPoint::InterfaceSet);
    EXPECT_EQ(library_.OpenDevice(), VORLEX_FAILED);
    EXPECT_TRUE(Log().Events().empty());

    for (SimFailPoint point : {SimFailPoint::PreparsedData, SimFailPoint::Caps}) {
        Log().Reset();
        bus_.FailNext(point);
        EXPECT_EQ(library_.OpenDevice(), VORLEX_FAILED);
        // A released callback although no opened one came before.
        EXPECT_EQ(Log().States(CallbackEvent::DeviceState), (std::vector<int32_t>{0}));
        EXPECT_EQ(library_.DeviceState(), 0);
    }
    Log().Reset();
    EXPECT_EQ(library_.OpenDevice(), VORLEX_OK);  // nothing injected is left over
}

// A bus on which opening an interface runs out of memory once.
class OutOfMemoryBus final : public HidBus {
public:
    explicit OutOfMemoryBus(HidBus& bus) : bus_(bus) {}
    bool BeginEnumeration() override { return bus_.BeginEnumeration(); }
    bool InterfacePath(size_t index, std::string& path) override { return bus_.InterfacePath(index, path); }
    void EndEnumeration() override { bus_.EndEnumeration(); }
    std::unique_ptr<HidDevice> Open(const std::string& path) override {
        if (fail_) {
            fail_ = false;
            throw std::bad_alloc();
        }
        return bus_.Open(path);
    }

private:
    HidBus& bus_;
    bool fail_ = true;
};

TEST_F(ReaderLibraryTest, RunningOutOfMemoryWhileOpeningFailsAndLeavesNothingHalfOpen) {
    AttachBasic();
    OutOfMemoryBus bus(bus_);
    library_.SetBus(&bus);
    int32_t result = -1;
    EXPECT_NO_THROW(result = library_.OpenDevice());
    EXPECT_EQ(result, VORLEX_FAILED);
    EXPECT_EQ(library_.DeviceState(), 0);
    EXPECT_TRUE(Log().Events().empty());
    EXPECT_EQ(library_.OpenDevice(), VORLEX_OK);  // not taken for a reader still being opened
}

// No other test uses this model: its row must still give it the encrypting layout.
TEST_F(ReaderLibraryTest, TheSecureInsertModelReadsTheEncryptingReportLayout) {
    bus_.Attach(VORLEX_VENDOR_ID, VORLEX_PID_SECURE_INSERT, kSecureInput, kFeature);
    ASSERT_EQ(library_.OpenDevice(), VORLEX_OK);
    EXPECT_EQ(library_.ProductId(), VORLEX_PID_SECURE_INSERT);
    SwipeTracks tracks;
    tracks.track[1] = ";4111111111111111=25121011234567890?";
    uint8_t report[kReportBufferSize];
    const size_t length = BuildSwipeReport(FindReaderModel(VORLEX_PID_SECURE_SWIPE)->switches, tracks,
                                           kSecureInput, report, sizeof report);
    ASSERT_TRUE(bus_.Swipe(report, length));
    ASSERT_TRUE(Log().WaitFor(CallbackEvent::CardData, 1));
    const VorlexCardData record = Record();
    EXPECT_GT(record.MaskedTrack2Length, 0);
    EXPECT_STRNE(record.SerialNumberText, "");
}

TEST_F(ReaderLibraryTest, ReportsArriveOnTheReadThreadAndShortOnesAreDropped) {
    AttachBasic();
    ASSERT_EQ(library_.OpenDevice(), VORLEX_OK);
    const uint8_t shortReport[10] = {0, 0, 0, 0, 0, 3, 0, 0};
    ASSERT_TRUE(bus_.Swipe(shortReport, sizeof shortReport));
    ASSERT_TRUE(SwipeBasic(";1111=2501?"));
    ASSERT_TRUE(SwipeBasic(";2222=2602?"));
    ASSERT_TRUE(Log().WaitFor(CallbackEvent::CardData, 1, 2));
    EXPECT_EQ(Log().Count(CallbackEvent::CardData, 1), 2u);  // the short report made none
    for (const auto& e : Log().Events()) {
        if (e.kind == CallbackEvent::CardData) {
            EXPECT_NE(e.thread, std::this_thread::get_id());
        }
    }
    // Without a clear in between, the second swipe overwrote the first.
    EXPECT_STREQ(Record().Track2Text, ";2222=2602?");
    EXPECT_EQ(library_.CardDataState(), 1);

    library_.ClearBuffer();
    EXPECT_EQ(library_.CardDataState(), 0);
    EXPECT_EQ(Log().Count(CallbackEvent::CardData, 0), 1u);
    EXPECT_STREQ(Record().Track2Text, "");
}

TEST_F(ReaderLibraryTest, ClearWorksWithoutAReaderAndWithoutACallback) {
    library_.ClearBuffer();
    EXPECT_EQ(Log().States(CallbackEvent::CardData), (std::vector<int32_t>{0}));

    AttachBasic();
    ASSERT_EQ(library_.OpenDevice(), VORLEX_OK);
    library_.SetCardDataCallback(nullptr);
    ASSERT_TRUE(SwipeBasic(";3333=2703?"));
    // Decoding goes on without anyone to tell: wait on the state instead.
    for (int i = 0; i < 1000 && library_.CardDataState() != 1; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_EQ(library_.CardDataState(), 1);
    EXPECT_STREQ(Record().Track2Text, ";3333=2703?");
    EXPECT_EQ(Log().Count(CallbackEvent::CardData, 1), 0u);
}

TEST_F(ReaderLibraryTest, ClientReadsAndClearsInsideTheCallback) {
    AttachBasic();
    ASSERT_EQ(library_.OpenDevice(), VORLEX_OK);
    std::vector<std::string> seen;
    Log().OnCardData([&](int32_t state) {
        if (state != 1) return;
        VorlexCardData record{};
        library_.GetCardData(record);
        seen.push_back(record.Track2Text);
        library_.ClearBuffer();  // nested callback with 0
    });
    for (int i = 0; i < 50; ++i) {
        ASSERT_TRUE(SwipeBasic((";" + std::to_string(1000 + i) + "=2512?").c_str()));
    }
    ASSERT_TRUE(Log().WaitFor(CallbackEvent::CardData, 1, 50));
    library_.CloseDevice();  // joins the read thread: `seen` is complete
    ASSERT_EQ(seen.size(), 50u);
    for (int i = 0; i < 50; ++i) EXPECT_EQ(seen[i], ";" + std::to_string(1000 + i) + "=2512?");
    // Every 1 is followed by its nested 0.
    const auto states = Log().States(CallbackEvent::CardData);
    ASSERT_EQ(states.size(), 100u);
    for (size_t i = 0; i < states.size(); ++i) EXPECT_EQ(states[i], i % 2 == 0 ? 1 : 0);
}

TEST_F(ReaderLibraryTest, UnplugReportsRemovedThenReleasedOnTheReadThread) {
    AttachBasic();
    ASSERT_EQ(library_.OpenDevice(), VORLEX_OK);
    ASSERT_TRUE(SwipeBasic(";4444=2804?"));
    ASSERT_TRUE(Log().WaitFor(CallbackEvent::CardData, 1));
    ASSERT_TRUE(bus_.Detach());
    ASSERT_TRUE(Log().WaitFor(CallbackEvent::DeviceState, 0));
    EXPECT_EQ(Log().States(CallbackEvent::DeviceState), (std::vector<int32_t>{1, 2, 0}));
    EXPECT_FALSE(Log().RemovalReportedOn(std::this_thread::get_id()));
    EXPECT_EQ(library_.DeviceState(), 0);
    EXPECT_EQ(library_.ProductId(), 0);
    EXPECT_STREQ(Record().Track2Text, ";4444=2804?");  // the store keeps the last swipe
    EXPECT_FALSE(bus_.Swipe(nullptr, 0));

    // Detection starts afresh: nothing on the bus, then a reader plugged in again.
    EXPECT_EQ(library_.OpenDevice(), VORLEX_FAILED);
    AttachBasic();
    EXPECT_EQ(library_.OpenDevice(), VORLEX_OK);
}

TEST_F(ReaderLibraryTest, CloseFromInsideACallbackDoesNotWaitForItself) {
    AttachBasic();
    ASSERT_EQ(library_.OpenDevice(), VORLEX_OK);
    std::atomic<bool> closed{false};
    Log().OnCardData([&](int32_t state) {
        if (state == 1) {
            library_.CloseDevice();
            closed = true;
        }
    });
    ASSERT_TRUE(SwipeBasic(";5555=2905?"));
    ASSERT_TRUE(Log().WaitFor(CallbackEvent::DeviceState, 0));
    EXPECT_EQ(library_.DeviceState(), 0);
    Log().OnCardData(nullptr);
    // The next open reaps the finished thread and works as usual.
    ASSERT_EQ(library_.OpenDevice(), VORLEX_OK);
    ASSERT_TRUE(SwipeBasic(";6666=3006?"));
    ASSERT_TRUE(Log().WaitFor(CallbackEvent::CardData, 1, 2));
    EXPECT_TRUE(closed);
}

TEST_F(ReaderLibraryTest, CloseWaitsForARunningCallback) {
    AttachBasic();
    ASSERT_EQ(library_.OpenDevice(), VORLEX_OK);
    std::promise<void> entered;
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<bool> callbackDone{false};
    Log().OnCardData([&](int32_t state) {
        if (state != 1) return;
        entered.set_value();
        released.wait();
        callbackDone = true;
    });
    ASSERT_TRUE(SwipeBasic(";7777=3107?"));
    entered.get_future().wait();
    std::atomic<bool> closeReturned{false};
    std::thread closer([&] {
        library_.CloseDevice();
        closeReturned = true;
        EXPECT_TRUE(callbackDone);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(closeReturned);  // still inside the callback
    release.set_value();
    closer.join();
    EXPECT_TRUE(closeReturned);
}

TEST_F(ReaderLibraryTest, NoReportIsLostRightAfterOpening) {
    AttachBasic();
    ASSERT_EQ(library_.OpenDevice(), VORLEX_OK);
    constexpr int kSwipes = 200;  // more than the simulated queue holds at once
    std::vector<std::string> seen;
    Log().OnCardData([&](int32_t state) {
        if (state != 1) return;
        VorlexCardData record{};
        library_.GetCardData(record);
        seen.push_back(record.Track2Text);
    });
    for (int i = 0; i < kSwipes; ++i) {
        ASSERT_TRUE(SwipeBasic((";" + std::to_string(i) + "=2512?").c_str()));
    }
    ASSERT_TRUE(Log().WaitFor(CallbackEvent::CardData, 1, kSwipes));
    library_.CloseDevice();
    ASSERT_EQ(seen.size(), static_cast<size_t>(kSwipes));
    for (int i = 0; i < kSwipes; ++i) EXPECT_EQ(seen[i], ";" + std::to_string(i) + "=2512?");
}

TEST_F(ReaderLibraryTest, CommandsTravelAsFeatureReports) {
    char reply[64];
    EXPECT_EQ(library_.SendCommand("02 01 03", 0, reply, sizeof reply), VORLEX_FAILED);  // no reader
    AttachBasic();
    ASSERT_EQ(library_.OpenDevice(), VORLEX_OK);

    const uint8_t answer[] = {0x00, 0x00, 0x03, 0x90, 0x00, 0x1F};
    bus_.SetFeatureReply(answer, sizeof answer);
    ASSERT_EQ(library_.SendCommand("02 01 03", 0, reply, sizeof reply), VORLEX_OK);
    EXPECT_STREQ(reply, "90001F");
    uint8_t request[128];
    ASSERT_EQ(bus_.LastFeatureRequest(request, sizeof request), kFeature);
    EXPECT_EQ(std::vector<uint8_t>(request, request + 6),
              (std::vector<uint8_t>{0x00, 0x02, 0x02, 0x01, 0x03, 0x00}));

    // Malformed or oversized commands send nothing.
    const uint8_t before = request[1];
    EXPECT_EQ(library_.SendCommand("0G", 0, reply, sizeof reply), VORLEX_FAILED);
    EXPECT_EQ(library_.SendCommand(std::string(200, '1').c_str(), 0, reply, sizeof reply),
              VORLEX_FAILED);
    bus_.LastFeatureRequest(request, sizeof request);
    EXPECT_EQ(request[1], before);

    // A long reply is cut to the caller's capacity; an empty one gives an empty text.
    uint8_t longAnswer[kFeature] = {0x00, 0x00, 60};
    std::memset(longAnswer + 3, 0xAB, 60);
    bus_.SetFeatureReply(longAnswer, sizeof longAnswer);
    char small[9];
    ASSERT_EQ(library_.SendCommand("01", 0, small, sizeof small), VORLEX_OK);
    EXPECT_STREQ(small, "ABABABAB");
    char odd[8];  // room for three whole bytes, not three and a half
    ASSERT_EQ(library_.SendCommand("01", 0, odd, sizeof odd), VORLEX_OK);
    EXPECT_STREQ(odd, "ABABAB");
    const uint8_t empty[] = {0x00, 0x05, 0x00};
    bus_.SetFeatureReply(empty, sizeof empty);
    ASSERT_EQ(library_.SendCommand("01", 0, reply, sizeof reply), VORLEX_OK);
    EXPECT_STREQ(reply, "");
    EXPECT_EQ(Log().Count(CallbackEvent::DeviceState, 0), 0u);
}

TEST_F(ReaderLibraryTest, AFailedTransferClosesTheReader) {
    for (SimFailPoint point : {SimFailPoint::SetFeature, SimFailPoint::GetFeature}) {
        Log().Reset();
        AttachBasic();
        ASSERT_EQ(library_.OpenDevice(), VORLEX_OK);
        bus_.FailNext(point);
        char reply[16] = "untouched";
        EXPECT_EQ(library_.SendCommand("01", 0, reply, sizeof reply), VORLEX_FAILED);
        EXPECT_STREQ(reply, "untouched");
        EXPECT_EQ(Log().States(CallbackEvent::DeviceState), (std::vector<int32_t>{1, 0}));
        EXPECT_EQ(library_.DeviceState(), 0);
        EXPECT_EQ(library_.SendCommand("01", 0, reply, sizeof reply), VORLEX_FAILED);
    }
}

TEST_F(ReaderLibraryTest, CardDataTextNeedsAnOpenReader) {
    char text[kReportBufferSize];
    std::memset(text, '#', sizeof text);
    EXPECT_EQ(library_.GetCardDataText(text, "|"), VORLEX_FAILED);
    EXPECT_EQ(text[0], '#');  // untouched
    AttachSecure();
    ASSERT_EQ(library_.OpenDevice(), VORLEX_OK);
    std::memset(text, 0, sizeof text);
    ASSERT_EQ(library_.GetCardDataText(text, "|"), VORLEX_OK);
    EXPECT_EQ(std::string(text).substr(0, 7), "101||-1");
}

// Every entry point from several threads at once while reports stream in;
// TSan watches for races, the assertions for lost reports.
TEST_F(ReaderLibraryTest, ConcurrentClientsWhileReportsStream) {
    AttachBasic();
    ASSERT_EQ(library_.OpenDevice(), VORLEX_OK);
    std::atomic<bool> stop{false};
    std::vector<std::thread> clients;
    clients.emplace_back([&] {
        char text[kReportBufferSize];
        while (!stop) {
            VorlexCardData record{};
            library_.GetCardData(record);
            std::memset(text, 0, sizeof text);
            library_.GetCardDataText(text, "|");
            library_.DeviceState();
            library_.CardDataState();
        }
    });
    clients.emplace_back([&] {
        char reply[32];
        while (!stop) library_.SendCommand("01 02", 0, reply, sizeof reply);
    });
    clients.emplace_back([&] {
        while (!stop) library_.ClearBuffer();
    });
    for (int i = 0; i < 300; ++i) ASSERT_TRUE(SwipeBasic(";8888=3208?"));
    ASSERT_TRUE(Log().WaitFor(CallbackEvent::CardData, 1, 300));
    stop = true;
    for (auto& t : clients) t.join();
}

TEST_F(ReaderLibraryTest, OpenCloseCyclesRaceWithSwipesAndUnplugs) {
    std::atomic<bool> stop{false};
    std::thread swiper([&] {
        while (!stop) {
            SwipeBasic(";9999=3309?");
            std::this_thread::yield();
        }
    });
    for (int cycle = 0; cycle < 100; ++cycle) {
        AttachBasic();
        ASSERT_EQ(library_.OpenDevice(), VORLEX_OK);
        if (cycle % 3 == 0) {
            bus_.Detach();
            ASSERT_TRUE(Log().WaitFor(CallbackEvent::DeviceState, 2, cycle / 3 + 1));
            ASSERT_TRUE(Log().WaitFor(CallbackEvent::DeviceState, 0, cycle + 1));
        } else {
            library_.CloseDevice();
            bus_.Reset();
        }
        EXPECT_EQ(Log().Count(CallbackEvent::DeviceState, 0), static_cast<size_t>(cycle + 1));
    }
    stop = true;
    swiper.join();
}


// A transport whose reads end as scripted, then repeat the last ending (or
// wait for a stop when the script ends with Completed): how a real device
// fails, without the simulated bus's tidy unplug.
class ScriptedHidBus final : public HidBus {
public:
    explicit ScriptedHidBus(std::vector<ReadStatus> script) : script_(std::move(script)) {}

    bool BeginEnumeration() override { return true; }
    bool InterfacePath(size_t index, std::string& path) override {
        path = "scripted";
        return index == 0;
    }
    void EndEnumeration() override {}
    std::unique_ptr<HidDevice> Open(const std::string&) override { return std::make_unique<Device>(*this); }

    std::atomic<int> reads{0};

private:
    class Device final : public HidDevice {
    public:
        explicit Device(ScriptedHidBus& bus) : bus_(bus) {}
        bool GetAttributes(HidAttributes& attributes) override {
            attributes = {VORLEX_VENDOR_ID, VORLEX_PID_BASIC_SWIPE};
            return true;
        }
        CapsResult GetCaps(HidCaps& caps) override {
            caps = {kBasicInput, kFeature};
            return CapsResult::Ok;
        }
        ReadStatus Read(uint8_t* buffer, size_t length, size_t& transferred) override {
            const size_t index = static_cast<size_t>(bus_.reads++);
            const ReadStatus status = bus_.script_[std::min(index, bus_.script_.size() - 1)];
            transferred = 0;
            if (status != ReadStatus::Completed) return status;
            if (index >= bus_.script_.size()) {  // nothing more to say: wait to be stopped
                std::unique_lock<std::mutex> lock(mutex_);
                stopped_.wait(lock, [&] { return stop_; });
                return ReadStatus::Stopped;
            }
            std::memset(buffer, 0, length);
            transferred = length;
            return status;
        }
        void Stop() override {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
            stopped_.notify_all();
        }
        void Close() override { Stop(); }
        bool SetFeature(const uint8_t*, size_t) override { return true; }
        bool GetFeature(uint8_t*, size_t) override { return true; }

    private:
        ScriptedHidBus& bus_;
        std::mutex mutex_;
        std::condition_variable stopped_;
        bool stop_ = false;
    };

    std::vector<ReadStatus> script_;
};

// Every way reading can end without our stop is a removal: 2 then 0 once, on
// the read thread, with a bounded number of reads (no spin) and the reader
// free to be opened again.
TEST_F(ReaderLibraryTest, EveryUnrequestedEndOfReadingIsARemoval) {
    const std::vector<std::vector<ReadStatus>> scripts = {
        {ReadStatus::Completed, ReadStatus::DeviceNotConnected},
        {ReadStatus::Completed, ReadStatus::Stopped},     // a read that could not be issued
        {ReadStatus::Completed, ReadStatus::OtherError},  // failing for ever
    };
    for (const auto& script : scripts) {
        Log().Reset();
        ScriptedHidBus bus(script);
        library_.SetBus(&bus);
        ASSERT_EQ(library_.OpenDevice(), VORLEX_OK);
        ASSERT_TRUE(Log().WaitFor(CallbackEvent::DeviceState, 0));
        EXPECT_EQ(Log().States(CallbackEvent::DeviceState), (std::vector<int32_t>{1, 2, 0}));
        EXPECT_FALSE(Log().RemovalReportedOn(std::this_thread::get_id()));
        EXPECT_LE(bus.reads.load(), 1 + ReaderLibrary::kFailedReadsMeaningRemoval);
        EXPECT_EQ(Log().Count(CallbackEvent::CardData, 1), 1u);
        EXPECT_EQ(library_.DeviceState(), 0);
        library_.SetBus(&bus_);
        AttachBasic();
        ASSERT_EQ(library_.OpenDevice(), VORLEX_OK);  // detected afresh
        library_.CloseDevice();
        bus_.Reset();
    }
}

// Errors with reports between them pass: the reader stays open.
TEST_F(ReaderLibraryTest, PassingReadErrorsKeepTheReaderOpen) {
    std::vector<ReadStatus> script;
    for (int i = 0; i < 5; ++i) {
        for (int k = 1; k < ReaderLibrary::kFailedReadsMeaningRemoval; ++k) script.push_back(ReadStatus::OtherError);
        script.push_back(ReadStatus::Completed);
    }
    ScriptedHidBus bus(script);
    library_.SetBus(&bus);
    ASSERT_EQ(library_.OpenDevice(), VORLEX_OK);
    ASSERT_TRUE(Log().WaitFor(CallbackEvent::CardData, 1, 5));
    EXPECT_EQ(library_.DeviceState(), 1);
    library_.CloseDevice();
    EXPECT_EQ(Log().States(CallbackEvent::DeviceState), (std::vector<int32_t>{1, 0}));
    library_.SetBus(&bus_);
}

}  // namespace
}  // namespace vorlex

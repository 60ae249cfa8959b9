// One process runs 100 full sessions through our control object: open, claim,
// enable, swipe, data event, disable, release, close. After the first 10 the
// process's handles, threads and private bytes must stay flat: anything one
// session leaves behind would show as growth per cycle.
#include <gtest/gtest.h>

#include <windows.h>
#include <tlhelp32.h>

#include <cstdint>
#include <cstdio>

#include "Installation.h"
#include "PosClient.h"
#include "Vorlex.h"
#include "VorlexSimulator.h"

namespace {

using norvik::pos::Event;
using norvik::pos::MsrControl;

constexpr int kCycles = 100;
constexpr int kWarmUp = 10;

struct Usage {
    DWORD handles = 0;
    long threads = 0;
    size_t privateBytes = 0;
};

// Counted the way that works under Wine too, which reports neither a handle
// count nor private bytes: valid handle values, and committed private pages.
Usage Measure() {
    Usage usage;
    for (uintptr_t value = 4; value < 0x10000; value += 4) {
        DWORD flags = 0;
        if (::GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) ++usage.handles;
    }
    HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = ::Thread32First(snapshot, &entry); more; more = ::Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID == ::GetCurrentProcessId()) ++usage.threads;
    }
    ::CloseHandle(snapshot);
    SYSTEM_INFO system;
    ::GetSystemInfo(&system);
    MEMORY_BASIC_INFORMATION region;
    for (auto* address = static_cast<char*>(system.lpMinimumApplicationAddress);
         address < system.lpMaximumApplicationAddress && ::VirtualQuery(address, &region, sizeof region);
         address = static_cast<char*>(region.BaseAddress) + region.RegionSize) {
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) usage.privateBytes += region.RegionSize;
    }
    return usage;
}

const auto* const installation = ::testing::AddGlobalTestEnvironment(new norvik::e2e::Installation);

TEST(SoakTest, HundredSessionsLeaveHandlesThreadsAndMemoryFlat) {
    norvik::win32::CoInitializeScope com(COINIT_APARTMENTTHREADED);
    ASSERT_TRUE(SUCCEEDED(com.result()));
    VorlexSimEnable(1);
    VorlexSimReset();
    VorlexSimAttach(VORLEX_VENDOR_ID, VORLEX_PID_BASIC_SWIPE, 338, 64);
    Usage warm, last;
    for (int cycle = 1; cycle <= kCycles; ++cycle) {
        MsrControl msr;
        ASSERT_TRUE(msr.Create());
        ASSERT_EQ(msr.Open("E2ELane1"), 0) << "cycle " << cycle;
        ASSERT_EQ(msr.Method(DISPID_NORVIKMSR_CLAIMDEVICE, {MsrControl::Long(1000)}), 0);
        msr.SetFlag(DISPID_NORVIKMSR_DEVICEENABLED, true);
        ASSERT_EQ(msr.Number(DISPID_NORVIKMSR_RESULTCODE), 0) << "cycle " << cycle;
        msr.SetFlag(DISPID_NORVIKMSR_DATAEVENTENABLED, true);
        ASSERT_EQ(VorlexSimSwipeTracks("%B4111111111111111^SOAK/TEST^2512101123456789?",
                                       ";4111111111111111=25121011234567890?", "", 0, 0, 0, 0),
                  0);
        Event data{};
        ASSERT_TRUE(msr.Events().WaitFor(DISPID_NORVIKMSR_DATAEVENT, data)) << "cycle " << cycle;
        msr.SetFlag(DISPID_NORVIKMSR_DEVICEENABLED, false);
        EXPECT_EQ(msr.Method(DISPID_NORVIKMSR_RELEASEDEVICE), 0);
        EXPECT_EQ(msr.Method(DISPID_NORVIKMSR_CLOSE), 0);
        msr.Release();  // the servers stay loaded: this measures sessions, not reloads
        if (cycle == kWarmUp) warm = Measure();
        if (cycle == kCycles) last = Measure();
    }
    VorlexSimReset();
    std::printf("after %d cycles: handles %lu, threads %ld, private bytes %zu\n", kWarmUp,
                static_cast<unsigned long>(warm.handles), warm.threads, warm.privateBytes);
    std::printf("after %d cycles: handles %lu, threads %ld, private bytes %zu\n", kCycles,
                static_cast<unsigned long>(last.handles), last.threads, last.privateBytes);
    ASSERT_GT(warm.handles, 0u);
    ASSERT_GT(warm.threads, 0);
    ASSERT_GT(warm.privateBytes, 0u);
    // Generous bounds: a leak of one handle, or of 16 KB, per session exceeds them.
    EXPECT_LE(last.handles, warm.handles + 45);
    EXPECT_LE(last.threads, warm.threads + 2);
    EXPECT_LE(last.privateBytes, warm.privateBytes + 1440 * 1024);
}

}  // namespace

#include "platform/memory/InMemoryClaimMemory.h"

#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

#include "composition/DefaultEnvironment.h"

namespace norvik {
namespace {

uint32_t ReadCounter(const char (&table)[kClaimTableSize]) {
    uint32_t value;
    std::memcpy(&value, table, sizeof value);
    return value;
}

TEST(InMemoryClaimMemory, StartsZeroAndResetFreesEverySlot) {
    InMemoryClaimMemory claims;
    ASSERT_TRUE(claims.Access([](char(&table)[kClaimTableSize]) {
        for (char byte : table) ASSERT_EQ(byte, 0);
        std::strcpy(table, "Norvik_MSR-1");
        std::strcpy(table + kClaimSlotSize, "Norvik_MSR-2");
    }));
    claims.Reset();
    claims.Access([](char(&table)[kClaimTableSize]) {
        for (char byte : table) EXPECT_EQ(byte, 0);
    });
}

// Each read-modify-write yields between its read and its write, so an access
// that were not exclusive would lose increments.
TEST(InMemoryClaimMemory, ConcurrentAccessesLoseNoUpdate) {
    InMemoryClaimMemory claims;
    constexpr int kThreads = 4;
    constexpr int kIncrements = 2000;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&claims] {
            for (int i = 0; i < kIncrements; ++i) {
                claims.Access([](char(&table)[kClaimTableSize]) {
                    const uint32_t value = ReadCounter(table) + 1;
                    std::this_thread::yield();
                    std::memcpy(table, &value, sizeof value);
                });
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    claims.Access([](char(&table)[kClaimTableSize]) {
        EXPECT_EQ(ReadCounter(table), uint32_t{kThreads * kIncrements});
    });
}

TEST(NativePlatform, TheDefaultClaimMemoryIsTheOneTestsReset) {
    NativeClaimMemory().Access([](char(&table)[kClaimTableSize]) { std::strcpy(table, "Norvik_MSR-1"); });
    std::string seen;
    DefaultClaimMemory().Access([&](char(&table)[kClaimTableSize]) { seen = table; });
    NativeClaimMemory().Reset();
    EXPECT_EQ(seen, "Norvik_MSR-1");
    DefaultClaimMemory().Access([&](char(&table)[kClaimTableSize]) { seen = table; });
    EXPECT_EQ(seen, "");
}

}  // namespace
}  // namespace norvik

// No copy of a card stays in the process's memory longer than the stack needs
// it: after ClearInput none of a queued card, after CloseService and after the
// instance is gone none at all. The test scans its own committed memory for
// the account number, in narrow and in UTF-16 form. It holds the number only
// masked, and runs with OANOCACHE=1 so that oleaut32 keeps no freed strings.
#include "ComTestSupport.h"
#include "FakeControlObject.h"

#include <cstdio>
#include <cstring>
#include <thread>
#include <string>
#include <vector>

#include "VorlexSimulator.h"

namespace norvik::com::testing {
namespace {

constexpr wchar_t kOposRoot[] = L"SOFTWARE\\OLEforRetail";
constexpr wchar_t kDeviceKey[] = L"SOFTWARE\\OLEforRetail\\ServiceOPOS\\MSR\\NorvikHygieneTest";
constexpr LONG kDataEventEnabled = 2, kDeviceEnabled = 3, kDataCount = 12, kTrack2Data = 1007011;
constexpr size_t kDigits = 16;

// An account number made at run time, kept XOR-masked: the plain digits exist
// only inside the buffers handed to the simulated reader, wiped right after.
class MaskedAccount {
public:
    explicit MaskedAccount(unsigned seed) {
        for (size_t i = 0; i < kDigits; ++i) {
            seed = seed * 1103515245u + 12345u;
            masked_[i] = static_cast<unsigned char>(('0' + (i == 0 ? 4 : (seed >> 16) % 10)) ^ kMask);
        }
    }
    // Swipes a card that carries the number on tracks 1 and 2. On a thread of
    // its own, whose stack (holding the application's copies) goes with it.
    bool Swipe() const {
        bool swiped = false;
        std::thread([&] {
            char track1[64] = "%B", track2[64] = ";";
            for (size_t i = 0; i < kDigits; ++i) {
                track1[2 + i] = track2[1 + i] = static_cast<char>(masked_[i] ^ kMask);
            }
            std::strcpy(track1 + 2 + kDigits, "^HYGIENE/TEST^2912101000000000000?");
            std::strcpy(track2 + 1 + kDigits, "=29121010000000000?");
            swiped = VorlexSimSwipeTracks(track1, track2, "", 0, 0, 0, 0) == 0;
            ::SecureZeroMemory(track1, sizeof track1);
            ::SecureZeroMemory(track2, sizeof track2);
        }).join();
        return swiped;
    }
    // Where the number lies in committed, readable memory (narrow or UTF-16).
    std::vector<std::string> Hits() const;

private:
    static constexpr unsigned char kMask = 0x5A;
    bool MatchesAt(const unsigned char* bytes, size_t available, size_t stride) const {
        if (available < kDigits * stride) return false;
        for (size_t i = 0; i < kDigits; ++i) {
            if ((bytes[i * stride] ^ kMask) != masked_[i]) return false;
            if (stride == 2 && bytes[i * 2 + 1] != 0) return false;
        }
        return true;
    }
    unsigned char masked_[kDigits];
};

std::vector<std::string> MaskedAccount::Hits() const {
    constexpr size_t kChunk = 1 << 16;
    constexpr size_t kOverlap = 2 * kDigits;
    constexpr DWORD kReadable = PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READ |
                                PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
    auto* chunk = static_cast<unsigned char*>(::VirtualAlloc(nullptr, kChunk, MEM_COMMIT, PAGE_READWRITE));
    std::vector<std::string> hits;
    if (chunk == nullptr) return {"no scan buffer"};
    SYSTEM_INFO system;
    ::GetSystemInfo(&system);
    auto* address = static_cast<unsigned char*>(system.lpMinimumApplicationAddress);
    MEMORY_BASIC_INFORMATION region;
    while (address < system.lpMaximumApplicationAddress && ::VirtualQuery(address, &region, sizeof region)) {
        auto* base = static_cast<unsigned char*>(region.BaseAddress);
        address = base + region.RegionSize;
        if (region.State != MEM_COMMIT || (region.Protect & PAGE_GUARD) || !(region.Protect & kReadable) ||
            base == chunk) {
            continue;
        }
        for (size_t offset = 0; offset < region.RegionSize; offset += kChunk - kOverlap) {
            SIZE_T read = 0;
            const size_t wanted = std::min<size_t>(kChunk, region.RegionSize - offset);
            if (!::ReadProcessMemory(::GetCurrentProcess(), base + offset, chunk, wanted, &read)) break;
            for (size_t at = 0; at < read; ++at) {
                for (size_t stride : {1, 2}) {
                    if (!MatchesAt(chunk + at, read - at, stride)) continue;
                    // Where, and what surrounds it, digits hidden: never a copy of the card.
                    char where[160];
                    int n = std::snprintf(where, sizeof where, "%p (%s, allocation %p, type %lx): ",
                                          static_cast<void*>(base + offset + at), stride == 1 ? "narrow" : "UTF-16",
                                          region.AllocationBase, static_cast<unsigned long>(region.Type));
                    for (size_t k = at > 24 ? at - 24 : 0; k < std::min<size_t>(read, at + 48) && n < 158; ++k) {
                        const unsigned char c = chunk[k];
                        where[n++] = c >= '0' && c <= '9' ? '#' : (c >= 32 && c < 127 ? static_cast<char>(c) : '.');
                    }
                    where[n] = '\0';
                    hits.push_back(where);
                }
            }
            if (wanted < kChunk) break;
        }
    }
    ::SecureZeroMemory(chunk, kChunk);
    ::VirtualFree(chunk, 0, MEM_RELEASE);
    return hits;
}

class CardHygieneTest : public ComTest {
protected:
    void SetUp() override {
        ComTest::SetUp();
        ASSERT_EQ(::GetEnvironmentVariableA("OANOCACHE", nullptr, 0) > 0, true) << "run with OANOCACHE=1";
        UniqueHKey probe, key;
        createdRoot_ = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kOposRoot, 0, KEY_READ, probe.put()) != ERROR_SUCCESS;
        ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kDeviceKey, 0, nullptr, 0, KEY_WRITE,
                                                   nullptr, key.put(), nullptr));
        const DWORD kind = 0;
        ::RegSetValueExW(key.get(), L"DeviceType", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&kind), sizeof kind);
        VorlexSimReset();
        VorlexSimEnable(1);
        ASSERT_EQ(0, VorlexSimAttach(VORLEX_VENDOR_ID, VORLEX_PID_BASIC_SWIPE, 338, 64));
    }
    void TearDown() override {
        VorlexSimReset();
        VorlexSimEnable(0);
        ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, createdRoot_ ? kOposRoot : kDeviceKey);
    }
    static LONG Number(INorvikMSRSOImpl* so, LONG index) {
        long value = -1;
        so->GetPropertyNumber(index, &value);
        return value;
    }

    FakeControlObject control_;
    bool createdRoot_ = false;
};

TEST_F(CardHygieneTest, NoCopyOfACardOutlivesClearInputOrClose) {
    const MaskedAccount delivered(::GetTickCount() | 1u), queued(::GetCurrentProcessId() * 7919u);
    ComPtr<INorvikMSRSOImpl> so = CreateServiceObject();
    ASSERT_TRUE(so);
    long rc = -1;
    UniqueBstr deviceClass(::SysAllocString(L"MSR")), device(::SysAllocString(L"NorvikHygieneTest"));
    ASSERT_EQ(S_OK, so->OpenService(deviceClass.get(), device.get(), &control_, &rc));
    ASSERT_EQ(0, rc);
    so->ClaimDevice(0, &rc);
    so->SetPropertyNumber(kDeviceEnabled, 1);
    ASSERT_EQ(1, Number(so.get(), kDeviceEnabled));
    so->SetPropertyNumber(kDataEventEnabled, 1);

    // The application reads the first card, and wipes its own copy.
    ASSERT_TRUE(delivered.Swipe());
    ASSERT_TRUE(control_.WaitForCalls(1));
    BSTR track2 = nullptr;
    ASSERT_EQ(S_OK, so->GetPropertyString(kTrack2Data, &track2));
    EXPECT_GT(::SysStringLen(track2), kDigits);
    ::SecureZeroMemory(track2, ::SysStringByteLen(track2));
    ::SysFreeString(track2);

    // The second waits in the queue until the application clears its input.
    ASSERT_TRUE(queued.Swipe());
    for (int i = 0; i < 2000 && Number(so.get(), kDataCount) != 1; ++i) ::Sleep(5);
    ASSERT_EQ(1, Number(so.get(), kDataCount));
    EXPECT_FALSE(queued.Hits().empty()) << "the scan cannot see a queued card";
    so->ClearInput(&rc);
    EXPECT_EQ(0, rc);
    EXPECT_EQ(std::vector<std::string>{}, queued.Hits()) << "after ClearInput";
    EXPECT_FALSE(delivered.Hits().empty()) << "the delivered card's properties stay readable";

    so->CloseService(&rc);
    EXPECT_EQ(std::vector<std::string>{}, delivered.Hits()) << "after CloseService";
    EXPECT_EQ(std::vector<std::string>{}, queued.Hits()) << "after CloseService";
    EXPECT_EQ(0u, so.detach()->Release());
    EXPECT_EQ(std::vector<std::string>{}, delivered.Hits()) << "after the instance is gone";
}

}  // namespace
}  // namespace norvik::com::testing

// No copy of a card stays in the process's memory longer than the stack needs
// it: after ClearInput none of a queued card, after CloseService and after the
// instance is gone none at all. The test scans its own committed memory for
// the account number, in narrow and in UTF-16 form. It holds the number only
// masked, and runs with OANOCACHE=1 so that oleaut32 keeps no freed strings.
#include "ComTestSupport.h"
#include "FakeControlObject.h"
#include "MaskedAccount.h"

#include <cstdio>
#include <cstring>
#include <thread>
#include <string>
#include <vector>

#include "VorlexSimulator.h"

namespace norvik::com::testing {
namespace {

using norvik::testing::kDigits;
using norvik::testing::MaskedAccount;

constexpr wchar_t kOposRoot[] = L"SOFTWARE\\OLEforRetail";
constexpr wchar_t kDeviceKey[] = L"SOFTWARE\\OLEforRetail\\ServiceOPOS\\MSR\\NorvikHygieneTest";
constexpr LONG kDataEventEnabled = 2, kDeviceEnabled = 3, kDataCount = 12, kTrack2Data = 1007011;

// The simulated reader gets the card.
bool SimulatedSwipe(const char* track1, const char* track2) {
    return VorlexSimSwipeTracks(track1, track2, "", 0, 0, 0, 0) == 0;
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
    ASSERT_TRUE(delivered.Swipe(SimulatedSwipe));
    ASSERT_TRUE(control_.WaitForCalls(1));
    BSTR track2 = nullptr;
    ASSERT_EQ(S_OK, so->GetPropertyString(kTrack2Data, &track2));
    EXPECT_GT(::SysStringLen(track2), kDigits);
    ::SecureZeroMemory(track2, ::SysStringByteLen(track2));
    ::SysFreeString(track2);

    // The second waits in the queue until the application clears its input.
    ASSERT_TRUE(queued.Swipe(SimulatedSwipe));
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

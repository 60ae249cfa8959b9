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
constexpr LONG kDataEventEnabled = 2, kDeviceEnabled = 3, kFreezeEvents = 4, kDataCount = 12, kTrack2Data = 1007011;

// The simulated reader gets the card.
bool SimulatedSwipe(const char* track1, const char* track2) {
    return VorlexSimSwipeTracks(track1, track2, "", 0, 0, 0, 0) == 0;
}

constexpr size_t kLead = 8, kPacked = kDigits / 2, kReplyLength = 3 + kLead + kPacked + kDigits;

// A reader reply that carries the account number twice: packed two digits a
// byte, so that its hexadecimal text, as DirectIO hands it out, holds the
// number; and as text, so that the raw reply holds it too. Zeros lead, so
// that the number lies inside each copy, not at its start, where a freed
// block's links would cover it.
bool SimulatedReplyCarrying(const char* track2) {
    unsigned char reply[kReplyLength] = {0x00, 0x00, kReplyLength - 3};
    for (size_t i = 0; i < kDigits; ++i) {
        reply[3 + kLead + i / 2] |= static_cast<unsigned char>((track2[1 + i] - '0') << (i % 2 ? 0 : 4));
        reply[3 + kLead + kPacked + i] = static_cast<unsigned char>(track2[1 + i]);
    }
    const bool set = VorlexSimSetFeatureReply(reply, sizeof reply) == 0;
    ::SecureZeroMemory(reply, sizeof reply);
    return set;
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

// A DirectIO reply that carries a card: the application's copy is its own,
// a held event's copy goes when the event is delivered, and no other stays.
TEST_F(CardHygieneTest, NoCopyOfACardThatADirectIOReplyCarriedStaysBehind) {
    const MaskedAccount card(::GetTickCount() * 31u | 1u);
    ComPtr<INorvikMSRSOImpl> so = CreateServiceObject();
    ASSERT_TRUE(so);
    long rc = -1;
    UniqueBstr deviceClass(::SysAllocString(L"MSR")), device(::SysAllocString(L"NorvikHygieneTest"));
    ASSERT_EQ(S_OK, so->OpenService(deviceClass.get(), device.get(), &control_, &rc));
    so->ClaimDevice(0, &rc);
    so->SetPropertyNumber(kDeviceEnabled, 1);
    ASSERT_EQ(1, Number(so.get(), kDeviceEnabled));
    // A handler that empties the text: whatever else held the reply still
    // holds it, unless it was wiped.
    control_.ReplyToDirectIO(L"");
    const auto directIO = [&](long& data) {
        ASSERT_TRUE(card.Swipe([](const char*, const char* track2) { return SimulatedReplyCarrying(track2); }));
        BSTR text = ::SysAllocString(L"1A 0102");
        EXPECT_EQ(S_OK, so->DirectIO(0, &data, &text, &rc));
        EXPECT_EQ(0, rc);
        ::SecureZeroMemory(text, ::SysStringByteLen(text));
        ::SysFreeString(text);
        // The simulated reader forgets it: in the field its memory is the device's.
        const unsigned char quiet[kReplyLength] = {};
        VorlexSimSetFeatureReply(quiet, sizeof quiet);
    };

    long data = 0;
    directIO(data);
    EXPECT_EQ(FakeControlObject::kDirectIOData, data);  // the handler had the reply
    control_.WipeTexts();
    EXPECT_EQ(std::vector<std::string>{}, card.Hits()) << "after a reply that the handler replaced";

    so->SetPropertyNumber(kFreezeEvents, 1);
    directIO(data);
    EXPECT_EQ(static_cast<long>(2 * (kReplyLength - 3)), data);  // held: the reply is the reader's
    EXPECT_FALSE(card.Hits().empty()) << "the scan cannot see the held event's copy";
    so->SetPropertyNumber(kFreezeEvents, 0);
    ASSERT_TRUE(control_.WaitForCalls(2));
    control_.WipeTexts();
    EXPECT_EQ(std::vector<std::string>{}, card.Hits()) << "after the held event was delivered";
    so->CloseService(&rc);
    EXPECT_EQ(0u, so.detach()->Release());
}

}  // namespace
}  // namespace norvik::com::testing

// The service object called the way the OPOS control object calls it: through
// IDispatch, with a recording control object passed to OpenService, and the
// simulated reader of Vorlex for swipes.
#include "ComTestSupport.h"
#include "FakeControlObject.h"

#include "VorlexSimulator.h"

namespace norvik::com::testing {
namespace {

constexpr wchar_t kOposRoot[] = L"SOFTWARE\\OLEforRetail";
constexpr wchar_t kDeviceKey[] = L"SOFTWARE\\OLEforRetail\\ServiceOPOS\\MSR\\NorvikComTest";
constexpr wchar_t kDescription[] = L"Lecteur d'essai \x00E9";

enum : DISPID {  // of the interface
    kGetPropertyNumber = 2, kSetPropertyNumber, kGetPropertyString, kSetPropertyString,
    kOpenService, kCheckHealth, kClaimDevice, kCloseService, kDirectIO, kReleaseDevice,
    kRetrieveCardProperty = 22,
};
enum : LONG {  // property indices
    kDataEventEnabled = 2, kDeviceEnabled = 3, kFreezeEvents = 4, kResultCode = 6,
    kDeviceDescription = 1000002, kAccountNumber = 1007001,
    kTrack1Data = 1007009, kTrack2Data = 1007011, kTrack3Data = 1007013,
};

class ServiceObjectTest : public ComTest {
protected:
    void SetUp() override {
        ComTest::SetUp();
        UniqueHKey probe, key;
        createdRoot_ = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kOposRoot, 0, KEY_READ, probe.put()) !=
                       ERROR_SUCCESS;
        ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kDeviceKey, 0, nullptr, 0,
                                                   KEY_WRITE, nullptr, key.put(), nullptr));
        const DWORD kind = 0;
        ::RegSetValueExW(key.get(), L"DeviceType", 0, REG_DWORD,
                         reinterpret_cast<const BYTE*>(&kind), sizeof kind);
        ::RegSetValueExW(key.get(), L"DeviceDesc", 0, REG_SZ,
                         reinterpret_cast<const BYTE*>(kDescription), sizeof kDescription);
        VorlexSimReset();
        VorlexSimEnable(1);
        object_ = CreateServiceObject();
        ASSERT_TRUE(object_);
    }
    void TearDown() override {
        if (object_) {
            EXPECT_EQ(0u, object_.detach()->Release());
        }
        EXPECT_EQ(1u, control_.refs()) << "the control object is held without a reference";
        VorlexSimReset();
        VorlexSimEnable(0);
        ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, createdRoot_ ? kOposRoot : kDeviceKey);
    }

    LONG Call(DISPID dispid, std::vector<VARIANTARG> arguments) {
        VARIANT result;
        ::VariantInit(&result);
        EXPECT_EQ(S_OK, InvokeMethod(object_.get(), dispid, std::move(arguments), &result));
        return V_VT(&result) == VT_I4 ? V_I4(&result) : -12345;
    }
    std::wstring Property(LONG index) {
        VARIANT result;
        ::VariantInit(&result);
        EXPECT_EQ(S_OK, InvokeMethod(object_.get(), kGetPropertyString, {Long(index)}, &result));
        std::wstring text = V_VT(&result) == VT_BSTR && V_BSTR(&result) ? V_BSTR(&result) : L"";
        ::VariantClear(&result);
        return text;
    }
    LONG Open(const wchar_t* name) {
        UniqueBstr deviceClass(::SysAllocString(L"MSR")), device(::SysAllocString(name));
        return Call(kOpenService, {Text(deviceClass.get()), Text(device.get()), Dispatch(&control_)});
    }
    void OpenAndClaim() {
        ASSERT_EQ(0, Open(L"NorvikComTest"));
        ASSERT_EQ(0, Call(kClaimDevice, {Long(0)}));
    }

    FakeControlObject control_;  // outlives the service object
    ComPtr<INorvikMSRSOImpl> object_;
    bool createdRoot_ = false;
};

TEST_F(ServiceObjectTest, OpenServiceReadsTheDeviceThroughTheAnsiCodePage) {
    EXPECT_EQ(109, Open(L"NorvikComTestMissing"));
    EXPECT_EQ(111, Call(kGetPropertyNumber, {Long(kResultCode)}));
    ASSERT_EQ(0, Open(L"NorvikComTest"));
    EXPECT_EQ(kDescription, Property(kDeviceDescription));
    EXPECT_TRUE(control_.calls().empty());
}

TEST_F(ServiceObjectTest, DirectIOEventBringsTheHandlersChangesBackToTheCaller) {
    OpenAndClaim();
    // Claimed but disabled: the reader is closed, the command fails, and the
    // event is raised all the same, numbered from 1.
    for (LONG number : {1, 2}) {
        LONG data = 0x5eed;
        UniqueBstr text(::SysAllocString(L"0A"));
        EXPECT_EQ(111, Call(kDirectIO, {Long(-1), LongRef(&data), TextRef(text.addressof())}));
        EXPECT_EQ(FakeControlObject::kDirectIOData, data);
        EXPECT_STREQ(FakeControlObject::kDirectIOText, text.get());
        const std::vector<RecordedCall> calls = control_.calls();
        ASSERT_EQ(static_cast<size_t>(number), calls.size());
        EXPECT_EQ(L"SODirectIO", calls.back().method);
        EXPECT_TRUE(calls.back().wellFormed);
        EXPECT_EQ((std::vector<VARTYPE>{VT_BSTR | VT_BYREF, VT_I4 | VT_BYREF, VT_I4}),
                  calls.back().types);
        EXPECT_EQ((std::vector<LONG>{1, number}), calls.back().values);  // status, event number
        EXPECT_EQ(std::vector<std::wstring>{L""}, calls.back().texts);
    }
    EXPECT_EQ((std::vector<std::wstring>{L"SODirectIO", L"SODirectIO"}), control_.lookups());

    // Frozen, the event waits; thawed, it comes with references of its own.
    Call(kSetPropertyNumber, {Long(kFreezeEvents), Long(1)});
    LONG data = 0;
    UniqueBstr text(::SysAllocString(L"0A"));
    EXPECT_EQ(111, Call(kDirectIO, {Long(0), LongRef(&data), TextRef(text.addressof())}));
    EXPECT_EQ(2u, control_.calls().size());
    Call(kSetPropertyNumber, {Long(kFreezeEvents), Long(0)});
    ASSERT_EQ(3u, control_.calls().size());
    EXPECT_EQ((std::vector<LONG>{1, 3}), control_.calls().back().values);

    // A command longer than the reader takes is refused; the text stays the caller's.
    const std::wstring overlong(100000, L'0');
    text.reset(::SysAllocStringLen(overlong.data(), static_cast<UINT>(overlong.size())));
    const BSTR original = text.get();
    EXPECT_EQ(106, Call(kDirectIO, {Long(0), LongRef(&data), TextRef(text.addressof())}));
    EXPECT_EQ(original, text.get());
    EXPECT_EQ(3u, control_.calls().size());
    EXPECT_EQ(0, Call(kReleaseDevice, {}));

    // Neither claimed nor enabled: DirectIO leaves every argument alone.
    long rc = 0x5eed;
    long plain = 0x5eed;
    EXPECT_EQ(S_OK, object_->DirectIO(0, &plain, text.addressof(), &rc));
    EXPECT_EQ(0x5eed, rc);
    EXPECT_EQ(0x5eed, plain);
    EXPECT_EQ(original, text.get());
}

class SwipeTest : public ServiceObjectTest {
protected:
    void SetUp() override {
        ServiceObjectTest::SetUp();
        ASSERT_EQ(0, VorlexSimAttach(VORLEX_VENDOR_ID, VORLEX_PID_BASIC_SWIPE, 338, 64));
        OpenAndClaim();
        Call(kSetPropertyNumber, {Long(kDeviceEnabled), Long(1)});
        ASSERT_EQ(1, Call(kGetPropertyNumber, {Long(kDeviceEnabled)}));
    }
    void TearDown() override {
        VorlexSimDetach();  // closes the reader without the pauses of the disable step
        ServiceObjectTest::TearDown();
    }
    static constexpr char kTrack1[] = "%B4111111111111111^DOE/JOHN Q^2512101123456789?";
    static constexpr char kTrack2[] = ";4111111111111111=25121011234567890?";
};

TEST_F(SwipeTest, DataEventStatusPacksTheTrackLengthsTheApplicationReads) {
    Call(kSetPropertyNumber, {Long(kDataEventEnabled), Long(1)});
    ASSERT_EQ(0, VorlexSimSwipeTracks(kTrack1, kTrack2, "", 0, 0, 0, 0));
    ASSERT_TRUE(control_.WaitForCalls(1));
    const RecordedCall call = control_.calls().at(0);
    EXPECT_EQ(L"SOData", call.method);
    EXPECT_TRUE(call.wellFormed);
    EXPECT_EQ(std::vector<VARTYPE>{VT_I4}, call.types);
    const std::wstring track1 = Property(kTrack1Data), track2 = Property(kTrack2Data);
    EXPECT_NE(std::wstring::npos, track1.find(L"4111111111111111^DOE/JOHN Q^"));
    EXPECT_NE(std::wstring::npos, track2.find(L"4111111111111111=2512"));
    const size_t status = track1.size() | track2.size() << 8 | Property(kTrack3Data).size() << 16;
    EXPECT_EQ(std::vector<LONG>{static_cast<LONG>(status)}, call.values);

    // A card property comes back as a new string; an unknown name leaves the caller's.
    UniqueBstr name(::SysAllocString(L"AccountNumber")), wrong(::SysAllocString(L"accountnumber"));
    UniqueBstr value, mine(::SysAllocString(L"mine"));
    const BSTR original = mine.get();
    EXPECT_EQ(0, Call(kRetrieveCardProperty, {Text(name.get()), TextRef(value.addressof())}));
    ASSERT_NE(nullptr, value.get());
    EXPECT_EQ(Property(kAccountNumber), value.get());
    EXPECT_EQ(106, Call(kRetrieveCardProperty, {Text(wrong.get()), TextRef(mine.addressof())}));
    EXPECT_EQ(original, mine.get());
}

TEST_F(SwipeTest, FailedSwipeRaisesAnErrorEventWithAResponseReference) {
    ASSERT_EQ(0, VorlexSimSwipeTracks(kTrack1, kTrack2, "", 1, 0, 0, 0));
    ASSERT_TRUE(control_.WaitForCalls(1));
    const RecordedCall call = control_.calls().at(0);
    EXPECT_EQ(L"SOError", call.method);
    EXPECT_EQ((std::vector<VARTYPE>{VT_I4 | VT_BYREF, VT_I4, VT_I4, VT_I4}), call.types);
    // Response 12 (clear), locus 2 (input), extended 0, result 111 (failure).
    EXPECT_EQ((std::vector<LONG>{12, 2, 0, 111}), call.values);
}

}  // namespace
}  // namespace norvik::com::testing

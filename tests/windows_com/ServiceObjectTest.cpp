// The service object through its dispatch interface, called the way the OPOS
// control object calls it, with a recording control object behind
// OpenService and the simulated reader of Vorlex for swipes.
#include "ComTestSupport.h"
#include "FakeControlObject.h"

#include "VorlexSimulator.h"

namespace norvik::com::testing {
namespace {

constexpr wchar_t kOposRoot[] = L"SOFTWARE\\OLEforRetail";
constexpr wchar_t kDeviceKey[] = L"SOFTWARE\\OLEforRetail\\ServiceOPOS\\MSR\\NorvikComTest";
constexpr wchar_t kDeviceName[] = L"NorvikComTest";
constexpr wchar_t kDescription[] = L"Lecteur d'essai \x00E9 Norvik";

// DISPIDs of the interface and the property indices used here.
enum : DISPID {
    kGetPropertyNumber = 2, kSetPropertyNumber = 3, kGetPropertyString = 4, kOpenService = 6,
    kClaimDevice = 8, kDirectIO = 10, kReleaseDevice = 11, kRetrieveCardProperty = 22,
};
enum : LONG {
    kDataEventEnabled = 2, kDeviceEnabled = 3, kFreezeEvents = 4, kResultCode = 6,
    kDeviceDescription = 1000002, kAccountNumber = 1007001,
    kTrack1Data = 1007009, kTrack2Data = 1007011, kTrack3Data = 1007013,
};

const char kTrack1[] = "%B4111111111111111^DOE/JOHN Q^2512101123456789?";
const char kTrack2[] = ";4111111111111111=25121011234567890?";

bool KeyExists(const wchar_t* path) {
    UniqueHKey key;
    return ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, key.put()) == ERROR_SUCCESS;
}

class ServiceObjectTest : public ComTest {
protected:
    void SetUp() override {
        ComTest::SetUp();
        createdRoot_ = !KeyExists(kOposRoot);
        UniqueHKey key;
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
        // The service object held the control object without a reference.
        EXPECT_EQ(1u, control_.refs());
        VorlexSimReset();
        VorlexSimEnable(0);
        ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, createdRoot_ ? kOposRoot : kDeviceKey);
    }

    LONG Call(DISPID dispid, std::vector<VARIANTARG> arguments) {
        VARIANT result;
        ::VariantInit(&result);
        const HRESULT hr = InvokeMethod(object_.get(), dispid, std::move(arguments), &result);
        EXPECT_EQ(S_OK, hr) << "DISPID " << dispid << ": " << Hex(hr);
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
        UniqueBstr deviceClass(::SysAllocString(L"MSR"));
        UniqueBstr device(::SysAllocString(name));
        return Call(kOpenService, {Text(deviceClass.get()), Text(device.get()), Dispatch(&control_)});
    }

    FakeControlObject control_;  // outlives the service object
    ComPtr<INorvikMSRSOImpl> object_;
    bool createdRoot_ = false;
};

TEST_F(ServiceObjectTest, OpenServiceReadsTheDeviceAndTakesNoReferenceOnTheControlObject) {
    ASSERT_EQ(0, Open(kDeviceName));
    EXPECT_EQ(1u, control_.refs());
    EXPECT_EQ(kDescription, Property(kDeviceDescription));  // through the ANSI code page and back
    EXPECT_EQ(0, Call(kGetPropertyNumber, {Long(kResultCode)}));
    EXPECT_TRUE(control_.calls().empty());
}

TEST_F(ServiceObjectTest, UnknownDeviceFailsWithNoExist) {
    EXPECT_EQ(109, Open(L"NorvikComTestMissing"));
    EXPECT_EQ(111, Call(kGetPropertyNumber, {Long(kResultCode)}));
}

TEST_F(ServiceObjectTest, DirectIOEventBringsTheHandlersChangesBackToTheCaller) {
    ASSERT_EQ(0, Open(kDeviceName));
    ASSERT_EQ(0, Call(kClaimDevice, {Long(0)}));

    // Claimed but disabled: the reader is closed, the command fails and the
    // event is raised all the same, numbered from 1.
    for (LONG expectedNumber : {1, 2}) {
        LONG data = 0x5eed;
        UniqueBstr text(::SysAllocString(L"0A"));
        EXPECT_EQ(111, Call(kDirectIO, {Long(-1), LongRef(&data), TextRef(text.addressof())}));
        EXPECT_EQ(FakeControlObject::kDirectIOData, data);
        EXPECT_STREQ(FakeControlObject::kDirectIOText, text.get());

        const std::vector<RecordedCall> calls = control_.calls();
        ASSERT_EQ(static_cast<size_t>(expectedNumber), calls.size());
        const RecordedCall& call = calls.back();
        EXPECT_EQ(L"SODirectIO", call.method);
        EXPECT_TRUE(call.nullInterface);
        EXPECT_EQ(0x400u, call.lcid);
        EXPECT_EQ(DISPATCH_METHOD, call.flags);
        EXPECT_TRUE(call.outputsNull);
        EXPECT_EQ((std::vector<VARTYPE>{VT_BSTR | VT_BYREF, VT_I4 | VT_BYREF, VT_I4}), call.types);
        EXPECT_EQ((std::vector<LONG>{1, expectedNumber}), call.values);  // status, event number
        EXPECT_EQ(std::vector<std::wstring>{L""}, call.texts);
    }
    EXPECT_TRUE(control_.lookupsWellFormed());
    EXPECT_EQ(0, Call(kReleaseDevice, {}));
}

TEST_F(ServiceObjectTest, DirectIOOutsideAClaimLeavesTheCallersValues) {
    ASSERT_EQ(0, Open(kDeviceName));
    long rc = 0x5eed;
    long data = 0x5eed;
    UniqueBstr text(::SysAllocString(L"0A"));
    const BSTR original = text.get();
    EXPECT_EQ(S_OK, object_->DirectIO(0, &data, text.addressof(), &rc));
    EXPECT_EQ(0x5eed, rc);
    EXPECT_EQ(0x5eed, data);
    EXPECT_EQ(original, text.get());
    EXPECT_TRUE(control_.calls().empty());
}

TEST_F(ServiceObjectTest, OverlongDirectIOCommandIsRefusedWithoutAnEvent) {
    ASSERT_EQ(0, Open(kDeviceName));
    ASSERT_EQ(0, Call(kClaimDevice, {Long(0)}));
    const std::wstring command(100000, L'0');
    UniqueBstr text(::SysAllocStringLen(command.data(), static_cast<UINT>(command.size())));
    const BSTR original = text.get();
    LONG data = 0;
    EXPECT_EQ(106, Call(kDirectIO, {Long(0), LongRef(&data), TextRef(text.addressof())}));
    EXPECT_EQ(original, text.get());
    EXPECT_TRUE(control_.calls().empty());
    EXPECT_EQ(0, Call(kReleaseDevice, {}));
}

TEST_F(ServiceObjectTest, FrozenDirectIOEventArrivesWhenThawedWithValidReferences) {
    ASSERT_EQ(0, Open(kDeviceName));
    ASSERT_EQ(0, Call(kClaimDevice, {Long(0)}));
    Call(kSetPropertyNumber, {Long(kFreezeEvents), Long(1)});
    LONG data = 0;
    UniqueBstr text(::SysAllocString(L"0A"));
    EXPECT_EQ(111, Call(kDirectIO, {Long(0), LongRef(&data), TextRef(text.addressof())}));
    EXPECT_TRUE(control_.calls().empty());

    Call(kSetPropertyNumber, {Long(kFreezeEvents), Long(0)});
    const std::vector<RecordedCall> calls = control_.calls();
    ASSERT_EQ(1u, calls.size());
    EXPECT_EQ(L"SODirectIO", calls[0].method);
    EXPECT_EQ((std::vector<VARTYPE>{VT_BSTR | VT_BYREF, VT_I4 | VT_BYREF, VT_I4}), calls[0].types);
    EXPECT_EQ((std::vector<LONG>{1, 1}), calls[0].values);
    EXPECT_EQ(0, Call(kReleaseDevice, {}));
}

class SwipeTest : public ServiceObjectTest {
protected:
    void SetUp() override {
        ServiceObjectTest::SetUp();
        ASSERT_EQ(0, VorlexSimAttach(VORLEX_VENDOR_ID, VORLEX_PID_BASIC_SWIPE, 338, 64));
        ASSERT_EQ(0, Open(kDeviceName));
        ASSERT_EQ(0, Call(kClaimDevice, {Long(0)}));
        Call(kSetPropertyNumber, {Long(kDeviceEnabled), Long(1)});
        ASSERT_EQ(0, Call(kGetPropertyNumber, {Long(kResultCode)}));
        ASSERT_EQ(1, Call(kGetPropertyNumber, {Long(kDeviceEnabled)}));
    }
    void TearDown() override {
        // Unplugging closes the reader without the pauses of the disable step.
        VorlexSimDetach();
        ServiceObjectTest::TearDown();
    }
};

TEST_F(SwipeTest, DataEventReportsTheTrackLengthsOfTheProperties) {
    Call(kSetPropertyNumber, {Long(kDataEventEnabled), Long(1)});
    ASSERT_EQ(0, VorlexSimSwipeTracks(kTrack1, kTrack2, "", 0, 0, 0, 0));
    ASSERT_TRUE(control_.WaitForCalls(1));

    const std::vector<RecordedCall> calls = control_.calls();
    ASSERT_EQ(1u, calls.size());
    EXPECT_EQ(L"SOData", calls[0].method);
    EXPECT_EQ(std::vector<VARTYPE>{VT_I4}, calls[0].types);
    const std::wstring track1 = Property(kTrack1Data);
    const std::wstring track2 = Property(kTrack2Data);
    const std::wstring track3 = Property(kTrack3Data);
    EXPECT_NE(std::wstring::npos, track1.find(L"4111111111111111^DOE/JOHN Q^"));
    EXPECT_NE(std::wstring::npos, track2.find(L"4111111111111111=2512"));
    const LONG status = static_cast<LONG>(track1.size() | track2.size() << 8 | track3.size() << 16);
    EXPECT_EQ(std::vector<LONG>{status}, calls[0].values);

    // A card property comes back as a new string equal to its property.
    UniqueBstr name(::SysAllocString(L"AccountNumber"));
    BSTR value = nullptr;
    EXPECT_EQ(0, Call(kRetrieveCardProperty, {Text(name.get()), TextRef(&value)}));
    ASSERT_NE(nullptr, value);
    EXPECT_EQ(Property(kAccountNumber), value);
    ::SysFreeString(value);

    // An unknown name leaves the caller's string as it was.
    UniqueBstr unknown(::SysAllocString(L"accountnumber"));
    UniqueBstr mine(::SysAllocString(L"mine"));
    const BSTR original = mine.get();
    EXPECT_EQ(106, Call(kRetrieveCardProperty, {Text(unknown.get()), TextRef(mine.addressof())}));
    EXPECT_EQ(original, mine.get());
    EXPECT_STREQ(L"mine", mine.get());
}

TEST_F(SwipeTest, FailedSwipeRaisesAnErrorEventWithAResponseReference) {
    ASSERT_EQ(0, VorlexSimSwipeTracks(kTrack1, kTrack2, "", 1, 0, 0, 0));
    ASSERT_TRUE(control_.WaitForCalls(1));

    const std::vector<RecordedCall> calls = control_.calls();
    ASSERT_EQ(1u, calls.size());
    EXPECT_EQ(L"SOError", calls[0].method);
    EXPECT_EQ((std::vector<VARTYPE>{VT_I4 | VT_BYREF, VT_I4, VT_I4, VT_I4}), calls[0].types);
    // Response 12 (clear), locus 2 (input), extended 0, result 111 (failure).
    EXPECT_EQ((std::vector<LONG>{12, 2, 0, 111}), calls[0].values);
}

}  // namespace
}  // namespace norvik::com::testing

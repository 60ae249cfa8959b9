// What the application's calls become at the service object: properties by their OPOS
// property index, methods by name with their arguments, and results passed back whole.
#include <gtest/gtest.h>

#include "ControlTestSupport.h"
#include "FakeServiceObject.h"

namespace norvik::control::test {
namespace {

enum class Kind { Long, Bool };

struct NumberProperty {
    const wchar_t* name;
    long index;
    Kind kind;
    bool writable;
};

// The OPOS property indices of the numeric properties.
const NumberProperty kNumberProperties[] = {
    {L"Claimed", 1, Kind::Bool, false}, {L"DataEventEnabled", 2, Kind::Bool, true},
    {L"DeviceEnabled", 3, Kind::Bool, true}, {L"FreezeEvents", 4, Kind::Bool, true},
    {L"ResultCode", 6, Kind::Long, false}, {L"ResultCodeExtended", 7, Kind::Long, false},
    {L"ServiceObjectVersion", 8, Kind::Long, false}, {L"State", 9, Kind::Long, false},
    {L"AutoDisable", 10, Kind::Bool, true}, {L"BinaryConversion", 11, Kind::Bool, true},
    {L"DataCount", 12, Kind::Long, false}, {L"PowerNotify", 13, Kind::Long, true},
    {L"PowerState", 14, Kind::Long, false}, {L"CapPowerReporting", 501, Kind::Long, false},
    {L"CapStatisticsReporting", 502, Kind::Bool, false}, {L"CapUpdateStatistics", 503, Kind::Bool, false},
    {L"CapCompareFirmwareVersion", 504, Kind::Bool, false}, {L"CapUpdateFirmware", 505, Kind::Bool, false},
    {L"DecodeData", 7001, Kind::Bool, true}, {L"ParseDecodeData", 7002, Kind::Bool, true},
    {L"TracksToRead", 7003, Kind::Long, true}, {L"ErrorReportingType", 7004, Kind::Long, true},
    {L"TransmitSentinels", 7005, Kind::Bool, true}, {L"EncodingMaxLength", 7006, Kind::Long, false},
    {L"TracksToWrite", 7007, Kind::Long, true}, {L"CardAuthenticationDataLength", 7008, Kind::Long, false},
    {L"DataEncryptionAlgorithm", 7009, Kind::Long, true}, {L"DeviceAuthenticated", 7010, Kind::Bool, false},
    {L"DeviceAuthenticationProtocol", 7011, Kind::Long, false}, {L"Track1EncryptedDataLength", 7012, Kind::Long, false},
    {L"Track2EncryptedDataLength", 7013, Kind::Long, false}, {L"Track3EncryptedDataLength", 7014, Kind::Long, false},
    {L"Track4EncryptedDataLength", 7015, Kind::Long, false}, {L"CapISO", 7501, Kind::Bool, false},
    {L"CapJISOne", 7502, Kind::Bool, false}, {L"CapJISTwo", 7503, Kind::Bool, false},
    {L"CapTransmitSentinels", 7504, Kind::Bool, false}, {L"CapWritableTracks", 7505, Kind::Long, false},
    {L"CapDataEncryption", 7506, Kind::Long, false}, {L"CapDeviceAuthentication", 7507, Kind::Long, false},
    {L"CapTrackDataMasking", 7508, Kind::Bool, false},
};

struct StringProperty {
    const wchar_t* name;
    long index;
};

const StringProperty kStringProperties[] = {
    {L"CheckHealthText", 1000001}, {L"DeviceDescription", 1000002}, {L"DeviceName", 1000003},
    {L"ServiceObjectDescription", 1000004}, {L"AccountNumber", 1007001}, {L"ExpirationDate", 1007002},
    {L"FirstName", 1007003}, {L"MiddleInitial", 1007004}, {L"ServiceCode", 1007005},
    {L"Suffix", 1007006}, {L"Surname", 1007007}, {L"Title", 1007008},
    {L"Track1Data", 1007009}, {L"Track1DiscretionaryData", 1007010}, {L"Track2Data", 1007011},
    {L"Track2DiscretionaryData", 1007012}, {L"Track3Data", 1007013}, {L"Track4Data", 1007014},
    {L"AdditionalSecurityInformation", 1007015}, {L"CapCardAuthentication", 1007016}, {L"CardAuthenticationData", 1007017},
    {L"CardPropertyList", 1007018}, {L"CardType", 1007019}, {L"CardTypeList", 1007020},
    {L"Track1EncryptedData", 1007021}, {L"Track2EncryptedData", 1007022}, {L"Track3EncryptedData", 1007023},
    {L"Track4EncryptedData", 1007024}, {L"WriteCardType", 1007025},
};

class ControlForwarding : public ControlTest {
protected:
    void SetUp() override {
        ControlTest::SetUp();
        ASSERT_EQ(Open(), 0);
        so = FakeServiceObject::Latest();
        ASSERT_NE(so, nullptr);
    }
    const FakeCall& Last() const { return so->Calls().back(); }

    FakeServiceObject* so = nullptr;
};

TEST_F(ControlForwarding, NumericPropertiesAreReadByTheirIndex) {
    for (const auto& property : kNumberProperties) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(property.name)));
        if (property.kind == Kind::Long) {
            so->SetNumber(property.index, property.index * 2 + 1);  // a value no other index gives
            EXPECT_EQ(GetLong(control.get(), property.name), property.index * 2 + 1);
        } else {
            so->SetNumber(property.index, 1);
            EXPECT_TRUE(GetBool(control.get(), property.name));
            so->SetNumber(property.index, 0);
            EXPECT_FALSE(GetBool(control.get(), property.name));
        }
        EXPECT_EQ(Last().method, L"GetPropertyNumber");
        EXPECT_EQ(Last().arguments.at(0).number, property.index);
    }
}

TEST_F(ControlForwarding, WritablePropertiesAreWrittenByTheirIndexAndBooleansAsOneOrZero) {
    for (const auto& property : kNumberProperties) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(property.name)));
        const size_t before = so->Calls().size();
        if (!property.writable) {
            EXPECT_HRESULT_FAILED(CallByName(control.get(), property.name, DISPATCH_PROPERTYPUT, {Long(1)}, nullptr));
            EXPECT_EQ(so->Calls().size(), before) << "a read-only property reaches nothing";
            continue;
        }
        if (property.kind == Kind::Long) {
            Put(control.get(), property.name, Long(property.index + 5));
            EXPECT_EQ(Last().arguments.at(1).number, property.index + 5);
        } else {
            Put(control.get(), property.name, Bool(true));
            EXPECT_EQ(Last().arguments.at(1).number, 1);
            Put(control.get(), property.name, Bool(false));
            EXPECT_EQ(Last().arguments.at(1).number, 0);
        }
        EXPECT_EQ(Last().method, L"SetPropertyNumber");
        EXPECT_EQ(Last().arguments.at(0).number, property.index);
    }
}

TEST_F(ControlForwarding, StringPropertiesAreReadByTheirIndex) {
    for (const auto& property : kStringProperties) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(property.name)));
        EXPECT_EQ(GetString(control.get(), property.name), L"text" + std::to_wstring(property.index));
        EXPECT_EQ(Last().method, L"GetPropertyString");
        EXPECT_EQ(Last().arguments.at(0).number, property.index);
    }
    UniqueBstr bank = UniqueBstr::Copy(L"BANK");
    Put(control.get(), L"WriteCardType", Text(bank.get()));
    EXPECT_EQ(Last().method, L"SetPropertyString");
    EXPECT_EQ(Last().arguments.at(0).number, 1007025);
    EXPECT_EQ(Last().arguments.at(1).text, L"BANK");
}

TEST_F(ControlForwarding, GenericPropertyMethodsPassIndexAndValueThrough) {
    so->SetNumber(7016, 4242);
    EXPECT_EQ(CallLong(control.get(), L"GetPropertyNumber", {Long(7016)}), 4242);

    UniqueVariant text;
    ASSERT_HRESULT_SUCCEEDED(CallByName(control.get(), L"GetPropertyString", DISPATCH_METHOD, {Long(1000077)}, &text));
    ASSERT_EQ(text.vt, VT_BSTR);
    EXPECT_STREQ(text.bstrVal, L"text1000077");

    ASSERT_HRESULT_SUCCEEDED(
        CallByName(control.get(), L"SetPropertyNumber", DISPATCH_METHOD, {Long(7003), Long(-1)}, nullptr));
    EXPECT_EQ(Last().method, L"SetPropertyNumber");
    EXPECT_EQ(Last().arguments.at(0).number, 7003);
    EXPECT_EQ(Last().arguments.at(1).number, -1) << "numbers go through unchanged";

    UniqueBstr value = UniqueBstr::Copy(L"x y");
    ASSERT_HRESULT_SUCCEEDED(
        CallByName(control.get(), L"SetPropertyString", DISPATCH_METHOD, {Long(1007019), Text(value.get())}, nullptr));
    EXPECT_EQ(Last().method, L"SetPropertyString");
    EXPECT_EQ(Last().arguments.at(1).text, L"x y");
}

TEST_F(ControlForwarding, MethodsReachTheirNamesakeAndReturnItsResult) {
    UniqueBstr a = UniqueBstr::Copy(L"a"), b = UniqueBstr::Copy(L"b");
    struct Case {
        const wchar_t* method;
        std::vector<VARIANT> arguments;
        std::vector<std::wstring> texts;  // expected text arguments; longs below
        std::vector<LONG> numbers;
    };
    const Case cases[] = {
        {L"ClaimDevice", {Long(1000)}, {}, {1000}},
        {L"ReleaseDevice", {}, {}, {}},
        {L"CheckHealth", {Long(2)}, {}, {2}},
        {L"ClearInput", {}, {}, {}},
        {L"ClearInputProperties", {}, {}, {}},
        {L"ResetStatistics", {Text(a.get())}, {L"a"}, {}},
        {L"UpdateStatistics", {Text(b.get())}, {L"b"}, {}},
        {L"UpdateFirmware", {Text(a.get())}, {L"a"}, {}},
        {L"AuthenticateDevice", {Text(b.get())}, {L"b"}, {}},
        {L"DeauthenticateDevice", {Text(a.get())}, {L"a"}, {}},
        {L"UpdateKey", {Text(a.get()), Text(b.get())}, {L"a", L"b"}, {}},
        {L"WriteTracks", {Long(9), Long(500)}, {}, {9, 500}},
    };
    LONG result = 300;
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.method)));
        so->SetResult(c.method, ++result);
        UniqueVariant answer;
        std::vector<VARIANT> reversed(c.arguments.rbegin(), c.arguments.rend());
        DISPPARAMS parameters = {reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
        ASSERT_HRESULT_SUCCEEDED(control->Invoke(IdOf(control.get(), c.method), IID_NULL, LOCALE_USER_DEFAULT,
                                                 DISPATCH_METHOD, &parameters, &answer, nullptr, nullptr));
        EXPECT_EQ(answer.lVal, result);
        EXPECT_EQ(Last().method, c.method);
        std::vector<std::wstring> texts;
        std::vector<LONG> numbers;
        for (const auto& argument : Last().arguments) {
            if (argument.type == VT_BSTR) texts.push_back(argument.text);
            if (argument.type == VT_I4) numbers.push_back(argument.number);
        }
        EXPECT_EQ(texts, c.texts);
        EXPECT_EQ(numbers, c.numbers);
    }
}

TEST_F(ControlForwarding, ByReferenceArgumentsComeBackWithTheServiceObjectsAnswer) {
    LONG data = 10;
    UniqueBstr command = UniqueBstr::Copy(L"02FF");
    EXPECT_EQ(CallLong(control.get(), L"DirectIO", {Long(5), LongRef(&data), StringRef(command.addressof())}), 0);
    EXPECT_EQ(data, 11);
    EXPECT_STREQ(command.get(), L"reply:02FF");
    EXPECT_EQ(Last().arguments.at(0).number, 5);

    UniqueBstr name = UniqueBstr::Copy(L"AccountNumber");
    UniqueBstr value;
    EXPECT_EQ(CallLong(control.get(), L"RetrieveCardProperty", {Text(name.get()), StringRef(value.addressof())}), 0);
    EXPECT_STREQ(value.get(), L"value of AccountNumber");

    LONG comparison = 0xdead;
    EXPECT_EQ(CallLong(control.get(), L"CompareFirmwareVersion", {Text(name.get()), LongRef(&comparison)}), 0);
    EXPECT_EQ(comparison, 4);

    UniqueBstr request = UniqueBstr::Copy(L"<UPOSStat/>");
    EXPECT_EQ(CallLong(control.get(), L"RetrieveStatistics", {StringRef(request.addressof())}), 0);
    EXPECT_EQ(Last().method, L"RetrieveStatistics");
    EXPECT_TRUE(Last().arguments.at(0).byRef);
    EXPECT_EQ(Last().arguments.at(0).text, L"<UPOSStat/>");
}

}  // namespace
}  // namespace norvik::control::test

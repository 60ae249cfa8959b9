// The control as a COM server: what registration writes and removes, the dispatch
// identifiers its type library gives, and its connection point.
#include <gtest/gtest.h>
#include <olectl.h>
#include <ocidl.h>

#include "ControlTestSupport.h"
#include "FakeServiceObject.h"
#include "NorvikMSRControl.h"
#include "RecordingSink.h"

namespace norvik::control::test {
namespace {

std::wstring ReadClassesValue(const std::wstring& key, const wchar_t* valueName) {
    wchar_t data[MAX_PATH] = {};
    DWORD bytes = sizeof(data);
    if (::RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), valueName, RRF_RT_REG_SZ, nullptr, data, &bytes) !=
        ERROR_SUCCESS) {
        return L"<missing>";
    }
    return data;
}

std::wstring GuidText(REFGUID guid) {
    wchar_t text[39];
    ::StringFromGUID2(guid, text, 39);
    return text;
}

using RegisterFunction = HRESULT(STDAPICALLTYPE*)();

RegisterFunction ServerEntry(const char* name) {
    HMODULE module = ::GetModuleHandleW(L"NorvikMSRControl.dll");
    return reinterpret_cast<RegisterFunction>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
}

TEST(ControlRegistration, WritesProgIdClassAndApartmentModel) {
    const std::wstring clsidKey = L"CLSID\\" + GuidText(CLSID_NorvikMSRControl);
    EXPECT_EQ(ReadClassesValue(L"NorvikMSR.Control\\CLSID", nullptr), GuidText(CLSID_NorvikMSRControl));
    EXPECT_EQ(ReadClassesValue(clsidKey + L"\\ProgID", nullptr), L"NorvikMSR.Control");
    EXPECT_EQ(ReadClassesValue(clsidKey + L"\\VersionIndependentProgID", nullptr), L"NorvikMSR.Control");
    EXPECT_EQ(ReadClassesValue(clsidKey + L"\\InprocServer32", L"ThreadingModel"), L"Apartment");
    EXPECT_EQ(ReadClassesValue(clsidKey + L"\\TypeLib", nullptr), GuidText(LIBID_NorvikMSRControlLib));
    const std::wstring server = ReadClassesValue(clsidKey + L"\\InprocServer32", nullptr);
    EXPECT_NE(server.find(L"NorvikMSRControl.dll"), std::wstring::npos) << server;

    CLSID clsid = {};
    ASSERT_HRESULT_SUCCEEDED(::CLSIDFromProgID(NORVIKMSR_CONTROL_PROGID, &clsid));
    EXPECT_TRUE(clsid == CLSID_NorvikMSRControl);
    ComPtr<ITypeLib> typeLib;
    EXPECT_HRESULT_SUCCEEDED(::LoadRegTypeLib(LIBID_NorvikMSRControlLib, 1, 0, LOCALE_NEUTRAL, typeLib.put()));
}

TEST(ControlRegistration, UnregisterRemovesEverythingAndRegisterPutsItBack) {
    ASSERT_HRESULT_SUCCEEDED(ServerEntry("DllUnregisterServer")());
    const std::wstring clsidKey = L"CLSID\\" + GuidText(CLSID_NorvikMSRControl);
    EXPECT_EQ(ReadClassesValue(L"NorvikMSR.Control\\CLSID", nullptr), L"<missing>");
    EXPECT_EQ(ReadClassesValue(clsidKey + L"\\InprocServer32", nullptr), L"<missing>");
    CLSID clsid;
    EXPECT_HRESULT_FAILED(::CLSIDFromProgID(NORVIKMSR_CONTROL_PROGID, &clsid));
    ComPtr<ITypeLib> typeLib;
    EXPECT_HRESULT_FAILED(::LoadRegTypeLib(LIBID_NorvikMSRControlLib, 1, 0, LOCALE_NEUTRAL, typeLib.put()));
    ComPtr<IUnknown> any;
    EXPECT_EQ(::CoCreateInstance(CLSID_NorvikMSRControl, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(any.put())),
              REGDB_E_CLASSNOTREG);

    ASSERT_HRESULT_SUCCEEDED(ServerEntry("DllRegisterServer")());
    EXPECT_EQ(ReadClassesValue(clsidKey + L"\\InprocServer32", L"ThreadingModel"), L"Apartment");
    EXPECT_TRUE(CreateControl());
}

struct NamedId {
    const wchar_t* name;
    DISPID id;
};

// The members the test utility calls, with the standard control's identifiers.
const NamedId kStandardMembers[] = {
    {L"Open", 37},
    {L"ClaimDevice", 32},
    {L"Close", 35},
    {L"DeviceEnabled", 17},
    {L"DataEventEnabled", 16},
    {L"ResultCode", 22},
    {L"ResultCodeExtended", 23},
    {L"Track1Data", 65},
    {L"Track2Data", 67},
    {L"Track3Data", 69},
    {L"Track1EncryptedData", 110},
    {L"Track2EncryptedData", 112},
    {L"Track3EncryptedData", 114},
    {L"AdditionalSecurityInformation", 77},
};

TEST(ControlTypeLibrary, MembersCarryTheStandardDispatchIds) {
    ComPtr<IDispatch> control = CreateControl();
    ASSERT_TRUE(control);
    for (const auto& member : kStandardMembers) EXPECT_EQ(IdOf(control.get(), member.name), member.id) << member.name;
}

TEST(ControlTypeLibrary, ServiceObjectCallbacksAnswerByName) {
    ComPtr<IDispatch> control = CreateControl();
    ASSERT_TRUE(control);
    EXPECT_EQ(IdOf(control.get(), L"SOData"), DISPID_NORVIKMSR_SODATA);
    EXPECT_EQ(IdOf(control.get(), L"SODirectIO"), DISPID_NORVIKMSR_SODIRECTIO);
    EXPECT_EQ(IdOf(control.get(), L"SOError"), DISPID_NORVIKMSR_SOERROR);
    EXPECT_EQ(IdOf(control.get(), L"SOStatusUpdate"), DISPID_NORVIKMSR_SOSTATUSUPDATE);
    EXPECT_EQ(IdOf(control.get(), L"NoSuchMember"), DISPID_UNKNOWN);
}

TEST(ControlTypeLibrary, EventInterfaceHasTheStandardEventIds) {
    ComPtr<IDispatch> control = CreateControl();
    ComPtr<IProvideClassInfo2> classInfo;
    ASSERT_HRESULT_SUCCEEDED(control.As(&classInfo));
    GUID source = GUID_NULL;
    ASSERT_HRESULT_SUCCEEDED(classInfo->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &source));
    EXPECT_TRUE(source == DIID__INorvikMSRControlEvents);

    ComPtr<ITypeInfo> coclass;
    ASSERT_HRESULT_SUCCEEDED(classInfo->GetClassInfo(coclass.put()));
    ComPtr<ITypeLib> typeLib;
    UINT index = 0;
    ASSERT_HRESULT_SUCCEEDED(coclass->GetContainingTypeLib(typeLib.put(), &index));
    ComPtr<ITypeInfo> events;
    ASSERT_HRESULT_SUCCEEDED(typeLib->GetTypeInfoOfGuid(source, events.put()));
    const NamedId expected[] = {
        {L"DataEvent", 1}, {L"DirectIOEvent", 2}, {L"ErrorEvent", 3}, {L"StatusUpdateEvent", 5}};
    for (const auto& event : expected) {
        LPOLESTR name = const_cast<LPOLESTR>(event.name);
        MEMBERID id = DISPID_UNKNOWN;
        EXPECT_HRESULT_SUCCEEDED(events->GetIDsOfNames(&name, 1, &id)) << event.name;
        EXPECT_EQ(id, event.id) << event.name;
    }
}

// A sink that is neither IDispatch nor the event interface.
class NotASink final : public IUnknown {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        *ppv = riid == IID_IUnknown ? static_cast<IUnknown*>(this) : nullptr;
        return *ppv ? S_OK : E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
};

TEST(ControlConnectionPoint, AdvisesWithDistinctNonZeroCookiesAndUnadvisesOnce) {
    ComPtr<IDispatch> control = CreateControl();
    ComPtr<IConnectionPointContainer> container;
    ASSERT_HRESULT_SUCCEEDED(control.As(&container));
    ComPtr<IConnectionPoint> point;
    ASSERT_HRESULT_SUCCEEDED(container->FindConnectionPoint(DIID__INorvikMSRControlEvents, point.put()));
    ComPtr<IConnectionPoint> none;
    EXPECT_EQ(container->FindConnectionPoint(IID_IDispatch, none.put()), CONNECT_E_NOCONNECTION);

    IID iid = IID_NULL;
    ASSERT_HRESULT_SUCCEEDED(point->GetConnectionInterface(&iid));
    EXPECT_TRUE(iid == DIID__INorvikMSRControlEvents);
    ComPtr<IConnectionPointContainer> back;
    ASSERT_HRESULT_SUCCEEDED(point->GetConnectionPointContainer(back.put()));
    EXPECT_EQ(back.get(), container.get());

    auto first = RecordingSink::Create();
    auto second = RecordingSink::Create();
    DWORD cookie1 = 0xdeadbeef, cookie2 = 0xdeadbeef;
    ASSERT_HRESULT_SUCCEEDED(point->Advise(first.get(), &cookie1));
    ASSERT_HRESULT_SUCCEEDED(point->Advise(second.get(), &cookie2));
    EXPECT_NE(cookie1, 0u);
    EXPECT_NE(cookie2, 0u);
    EXPECT_NE(cookie1, cookie2);

    NotASink stranger;
    DWORD cookie3 = 0xdeadbeef;
    EXPECT_EQ(point->Advise(&stranger, &cookie3), CONNECT_E_CANNOTCONNECT);
    EXPECT_EQ(cookie3, 0u);

    EXPECT_HRESULT_SUCCEEDED(point->Unadvise(cookie1));
    EXPECT_EQ(point->Unadvise(cookie1), CONNECT_E_NOCONNECTION);
    EXPECT_HRESULT_SUCCEEDED(point->Unadvise(cookie2));
}

TEST(ControlConnectionPoint, EnumerationHandsOutTheOnePoint) {
    ComPtr<IDispatch> control = CreateControl();
    ComPtr<IConnectionPointContainer> container;
    ASSERT_HRESULT_SUCCEEDED(control.As(&container));
    ComPtr<IEnumConnectionPoints> points;
    ASSERT_HRESULT_SUCCEEDED(container->EnumConnectionPoints(points.put()));
    IConnectionPoint* fetched[2] = {};
    ULONG count = 0xdeadbeef;
    EXPECT_EQ(points->Next(2, fetched, &count), S_FALSE);
    ASSERT_EQ(count, 1u);
    IID iid = IID_NULL;
    fetched[0]->GetConnectionInterface(&iid);
    EXPECT_TRUE(iid == DIID__INorvikMSRControlEvents);
    fetched[0]->Release();
    EXPECT_EQ(points->Next(1, fetched, &count), S_FALSE);
    EXPECT_EQ(count, 0u);
    EXPECT_HRESULT_SUCCEEDED(points->Reset());
    ComPtr<IEnumConnectionPoints> clone;
    ASSERT_HRESULT_SUCCEEDED(points->Clone(clone.put()));
    EXPECT_EQ(clone->Next(1, fetched, nullptr), S_OK);
    fetched[0]->Release();
}

TEST(ControlLifetime, ReferenceCountsReachZero) {
    ComPtr<IDispatch> control = CreateControl();
    ComPtr<IConnectionPointContainer> container;
    ASSERT_HRESULT_SUCCEEDED(control.As(&container));
    ComPtr<IConnectionPoint> point;
    ASSERT_HRESULT_SUCCEEDED(container->FindConnectionPoint(DIID__INorvikMSRControlEvents, point.put()));
    auto sink = RecordingSink::Create();
    DWORD cookie = 0;
    ASSERT_HRESULT_SUCCEEDED(point->Advise(sink.get(), &cookie));
    EXPECT_EQ(sink.get()->AddRef(), 3u);  // ours, the connection's, this one
    sink.get()->Release();

    container.reset();
    control.reset();
    // The connection point shares the control's count: its reference is the last one,
    // and dropping it lets go of the sink too.
    EXPECT_EQ(point.detach()->Release(), 0u);
    EXPECT_EQ(sink.get()->AddRef(), 2u);
    sink.get()->Release();
}

}  // namespace
}  // namespace norvik::control::test

// The dispatch interface as an automation client sees it: the type library
// behind IDispatch, and what Invoke does with malformed calls.
#include "ComTestSupport.h"

namespace norvik::com::testing {
namespace {

struct Parameter {
    VARTYPE type;  // the pointee's type when byReference
    bool byReference;
    USHORT flags;
};

constexpr USHORT kIn = PARAMFLAG_FIN;
constexpr USHORT kInOut = PARAMFLAG_FIN | PARAMFLAG_FOUT;
const Parameter kLong{VT_I4, false, kIn};
const Parameter kText{VT_BSTR, false, kIn};
const Parameter kLongInOut{VT_I4, true, kInOut};
const Parameter kTextInOut{VT_BSTR, true, kInOut};
const Parameter kRc{VT_I4, true, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL};

// The interface the OPOS control object binds to; DISPID = index + 1.
const struct {
    const wchar_t* name;
    std::vector<Parameter> parameters;
} kMethods[] = {
    {L"COFreezeEvents", {{VT_BOOL, false, kIn}, kRc}},
    {L"GetPropertyNumber", {kLong, kRc}},
    {L"SetPropertyNumber", {kLong, kLong}},
    {L"GetPropertyString", {kLong, {VT_BSTR, true, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL}}},
    {L"SetPropertyString", {kLong, kText}},
    {L"OpenService", {kText, kText, {VT_DISPATCH, false, kIn}, kRc}},
    {L"CheckHealth", {kLong, kRc}},
    {L"ClaimDevice", {kLong, kRc}},
    {L"CloseService", {kRc}},
    {L"DirectIO", {kLong, kLongInOut, kTextInOut, kRc}},
    {L"ReleaseDevice", {kRc}},
    {L"ClearInput", {kRc}},
    {L"ClearInputProperties", {kRc}},
    {L"ResetStatistics", {kText, kRc}},
    {L"RetrieveStatistics", {kTextInOut, kRc}},
    {L"UpdateStatistics", {kText, kRc}},
    {L"CompareFirmwareVersion", {kText, kLongInOut, kRc}},
    {L"UpdateFirmware", {kText, kRc}},
    {L"WriteTracks", {{VT_VARIANT, false, kIn}, kLong, kRc}},
    {L"AuthenticateDevice", {kText, kRc}},
    {L"DeauthenticateDevice", {kText, kRc}},
    {L"RetrieveCardProperty", {kText, {VT_BSTR, true, PARAMFLAG_FOUT}, kRc}},
    {L"RetrieveDeviceAuthenticationData", {kTextInOut, kRc}},
    {L"UpdateKey", {kText, kText, kRc}},
};

// Name and help string of a type.
std::pair<std::wstring, std::wstring> Describe(ITypeInfo* info) {
    UniqueBstr name, help;
    EXPECT_EQ(S_OK, info->GetDocumentation(MEMBERID_NIL, name.put(), help.put(), nullptr, nullptr));
    return {name ? name.get() : L"", help ? help.get() : L""};
}

class DispatchTest : public ComTest {
protected:
    void SetUp() override {
        ComTest::SetUp();
        object_ = CreateServiceObject();
        ASSERT_TRUE(object_);
    }
    void TearDown() override {
        if (object_) {
            EXPECT_EQ(0u, object_.detach()->Release());
        }
        EXPECT_EQ(S_OK, server_.CanUnloadNow());
    }
    HRESULT Invoke(DISPID dispid, std::vector<VARIANTARG> arguments, VARIANT* result = nullptr) {
        return InvokeMethod(object_.get(), dispid, std::move(arguments), result);
    }
    ComPtr<INorvikMSRSOImpl> object_;
};

TEST_F(DispatchTest, TypeInfoDescribesTheDualInterfaceMethodByMethod) {
    ComPtr<ITypeInfo> dispatchView, info;
    ASSERT_EQ(S_OK, object_->GetTypeInfo(0, LOCALE_USER_DEFAULT, dispatchView.put()));
    HREFTYPE vtableView = 0;
    ASSERT_EQ(S_OK, dispatchView->GetRefTypeOfImplType(-1, &vtableView));  // [retval]s show here
    ASSERT_EQ(S_OK, dispatchView->GetRefTypeInfo(vtableView, info.put()));

    TYPEATTR* attr = nullptr;
    ASSERT_EQ(S_OK, info->GetTypeAttr(&attr));
    EXPECT_EQ(IID_INorvikMSRSOImpl, attr->guid);
    EXPECT_EQ(ARRAYSIZE(kMethods), attr->cFuncs);
    const WORD flags = TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FNONEXTENSIBLE;
    EXPECT_EQ(flags, attr->wTypeFlags & flags) << std::hex << attr->wTypeFlags;
    info->ReleaseTypeAttr(attr);
    EXPECT_EQ(L"INorvikMSRSOImpl Interface", Describe(info.get()).second);

    for (UINT index = 0; index < ARRAYSIZE(kMethods); ++index) {
        const auto& method = kMethods[index];
        SCOPED_TRACE(::testing::Message() << "DISPID " << index + 1);
        FUNCDESC* func = nullptr;
        ASSERT_EQ(S_OK, info->GetFuncDesc(index, &func));
        EXPECT_EQ(static_cast<MEMBERID>(index + 1), func->memid);
        EXPECT_EQ(static_cast<SHORT>((7 + index) * sizeof(void*)), func->oVft);  // after IDispatch
        UniqueBstr name;
        UINT count = 0;
        EXPECT_EQ(S_OK, info->GetNames(func->memid, name.put(), 1, &count));
        EXPECT_STREQ(method.name, name.get());
        ASSERT_EQ(method.parameters.size(), static_cast<size_t>(func->cParams));
        for (SHORT p = 0; p < func->cParams; ++p) {
            const TYPEDESC& type = func->lprgelemdescParam[p].tdesc;
            const Parameter& expected = method.parameters[p];
            EXPECT_EQ(expected.byReference ? VARTYPE{VT_PTR} : expected.type, type.vt) << "parameter " << p;
            if (expected.byReference && type.vt == VT_PTR) {
                EXPECT_EQ(expected.type, type.lptdesc->vt) << "parameter " << p;
            }
            EXPECT_EQ(expected.flags, func->lprgelemdescParam[p].paramdesc.wParamFlags);
        }
        info->ReleaseFuncDesc(func);

        LPOLESTR lookup = const_cast<LPOLESTR>(method.name);
        DISPID dispid = 0;
        EXPECT_EQ(S_OK, object_->GetIDsOfNames(IID_NULL, &lookup, 1, LOCALE_USER_DEFAULT, &dispid));
        EXPECT_EQ(static_cast<DISPID>(index + 1), dispid);
    }

    wchar_t unknown[] = L"SOData";
    LPOLESTR lookup = unknown;
    DISPID dispid = 0;
    EXPECT_EQ(DISP_E_UNKNOWNNAME,
              object_->GetIDsOfNames(IID_NULL, &lookup, 1, LOCALE_USER_DEFAULT, &dispid));
    EXPECT_EQ(DISP_E_UNKNOWNINTERFACE,
              object_->GetIDsOfNames(IID_IDispatch, &lookup, 1, LOCALE_USER_DEFAULT, &dispid));
}

TEST_F(DispatchTest, LibraryEventsAndClassAreDescribed) {
    ComPtr<ITypeInfo> info;
    ComPtr<ITypeLib> library;
    UINT index = 0;
    ASSERT_EQ(S_OK, object_->GetTypeInfo(0, LOCALE_USER_DEFAULT, info.put()));
    ASSERT_EQ(S_OK, info->GetContainingTypeLib(library.put(), &index));
    TLIBATTR* attr = nullptr;
    ASSERT_EQ(S_OK, library->GetLibAttr(&attr));
    EXPECT_EQ(LIBID_NorvikMSRSOLib, attr->guid);
    EXPECT_EQ(1, attr->wMajorVerNum);
    EXPECT_EQ(0, attr->wMinorVerNum);
    EXPECT_EQ(1033u, attr->lcid);
    library->ReleaseTLibAttr(attr);
    UniqueBstr name, help;
    ASSERT_EQ(S_OK, library->GetDocumentation(-1, name.put(), help.put(), nullptr, nullptr));
    EXPECT_STREQ(L"NorvikMSRSOLib", name.get());
    EXPECT_STREQ(L"NorvikMSRSO 1.0 Type Library", help.get());

    ComPtr<ITypeInfo> events, coclass;
    ASSERT_EQ(S_OK, library->GetTypeInfoOfGuid(DIID__INorvikMSRSOImplEvents, events.put()));
    ASSERT_EQ(S_OK, library->GetTypeInfoOfGuid(CLSID_NorvikMSRSOImpl, coclass.put()));
    EXPECT_EQ(L"_INorvikMSRSOImplEvents Interface", Describe(events.get()).second);
    EXPECT_EQ(L"NorvikMSRSOImpl Class", Describe(coclass.get()).second);
    TYPEATTR* eventsAttr = nullptr;
    ASSERT_EQ(S_OK, events->GetTypeAttr(&eventsAttr));
    EXPECT_EQ(TKIND_DISPATCH, eventsAttr->typekind);
    EXPECT_EQ(0, eventsAttr->cFuncs);
    events->ReleaseTypeAttr(eventsAttr);

    // Default interface, then the default source interface.
    const std::pair<std::wstring, INT> implemented[] = {
        {L"INorvikMSRSOImpl", IMPLTYPEFLAG_FDEFAULT},
        {L"_INorvikMSRSOImplEvents", IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE}};
    for (UINT i = 0; i < 2; ++i) {
        INT flags = 0;
        HREFTYPE reference = 0;
        ComPtr<ITypeInfo> interfaceInfo;
        ASSERT_EQ(S_OK, coclass->GetImplTypeFlags(i, &flags));
        ASSERT_EQ(S_OK, coclass->GetRefTypeOfImplType(i, &reference));
        ASSERT_EQ(S_OK, coclass->GetRefTypeInfo(reference, interfaceInfo.put()));
        EXPECT_EQ(implemented[i].second, flags);
        EXPECT_EQ(implemented[i].first, Describe(interfaceInfo.get()).first);
    }
}

TEST_F(DispatchTest, MalformedCallsAreRefusedWithTheirAutomationErrors) {
    LONG data = 0;
    UniqueBstr text, notANumber(::SysAllocString(L"not a number"));
    const struct {
        DISPID dispid;
        std::vector<VARIANTARG> arguments;
        HRESULT expected;
    } calls[] = {
        {2, {}, DISP_E_BADPARAMCOUNT},  // GetPropertyNumber needs its index
        {2, {Long(1), Long(2), Long(3)}, DISP_E_BADPARAMCOUNT},
        {3, {Long(1)}, DISP_E_BADPARAMCOUNT},  // SetPropertyNumber has no [retval]
        {3, {Long(1), Long(2), Long(3)}, DISP_E_BADPARAMCOUNT},
        {9, {Long(1), Long(2)}, DISP_E_BADPARAMCOUNT},
        {10, {Long(0), LongRef(&data)}, DISP_E_BADPARAMCOUNT},
        {24, {Text(nullptr), Text(nullptr), Long(0), Long(0)}, DISP_E_BADPARAMCOUNT},
        {0, {Long(1)}, DISP_E_MEMBERNOTFOUND},
        {25, {Long(1)}, DISP_E_MEMBERNOTFOUND},
        {-1, {Long(1)}, DISP_E_MEMBERNOTFOUND},
        {DISPID_NEWENUM, {}, DISP_E_MEMBERNOTFOUND},
        {2, {Text(notANumber.get())}, DISP_E_TYPEMISMATCH},
        {6, {Text(nullptr), Text(nullptr), Long(5)}, DISP_E_TYPEMISMATCH},  // not a dispatch
        {10, {Long(0), TextRef(text.put()), LongRef(&data)}, DISP_E_TYPEMISMATCH},
    };
    for (const auto& call : calls) {
        VARIANT result;
        ::VariantInit(&result);
        const HRESULT hr = Invoke(call.dispid, call.arguments, &result);
        EXPECT_EQ(call.expected, hr) << "DISPID " << call.dispid << " with "
                                     << call.arguments.size() << " arguments: " << Hex(hr);
        EXPECT_EQ(VT_EMPTY, V_VT(&result));
    }
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    EXPECT_EQ(DISP_E_UNKNOWNINTERFACE, object_->Invoke(12, IID_IDispatch, 0, DISPATCH_METHOD,
                                                       &none, nullptr, nullptr, nullptr));
    EXPECT_EQ(1u, RefCount(object_.get()));
}

TEST_F(DispatchTest, NullAndHugeStringsAreTakenAndInOutStringsKeptUnlessReplaced) {
    const std::wstring hugeText(100000, L'7');
    UniqueBstr huge(::SysAllocStringLen(hugeText.data(), static_cast<UINT>(hugeText.size())));
    UniqueBstr missing(::SysAllocString(L"NorvikNoSuchDevice"));
    VARIANT result;
    ::VariantInit(&result);
    for (BSTR text : {static_cast<BSTR>(nullptr), huge.get()}) {
        EXPECT_EQ(S_OK, Invoke(5, {Long(1007025), Text(text)}));
        EXPECT_EQ(S_OK, Invoke(24, {Text(text), Text(text)}, &result));
        EXPECT_EQ(106, V_I4(&result));
        EXPECT_EQ(S_OK, Invoke(6, {Text(text), Text(missing.get()), Dispatch(nullptr)}, &result));
        EXPECT_EQ(109, V_I4(&result));  // no such logical device
        EXPECT_EQ(S_OK, Invoke(6, {Text(nullptr), Text(huge.get()), Dispatch(nullptr)}, &result));
        EXPECT_EQ(109, V_I4(&result));

        // Neither claimed nor enabled: in/out strings come back as they went in.
        BSTR inOut = text;
        LONG data = 0x5eed;
        EXPECT_EQ(S_OK, Invoke(10, {Long(0), LongRef(&data), TextRef(&inOut)}, &result));
        EXPECT_EQ(text, inOut);
        EXPECT_EQ(0x5eed, data);
        EXPECT_EQ(S_OK, Invoke(15, {TextRef(&inOut)}, &result));
        EXPECT_EQ(text, inOut);
        EXPECT_EQ(S_OK, Invoke(23, {TextRef(&inOut)}, &result));
        EXPECT_EQ(text, inOut);
        EXPECT_EQ(106, V_I4(&result));
    }
    EXPECT_EQ(hugeText.size(), huge.length());

    // Out strings are new, and empty for an index that names no text.
    ASSERT_EQ(S_OK, Invoke(4, {Long(1008000)}, &result));
    ASSERT_EQ(VT_BSTR, V_VT(&result));
    ASSERT_NE(nullptr, V_BSTR(&result));
    EXPECT_EQ(0u, ::SysStringLen(V_BSTR(&result)));
    EXPECT_EQ(S_OK, ::VariantClear(&result));
    EXPECT_EQ(S_OK, Invoke(4, {Long(1000001)}));  // no result variant: runs all the same
}

}  // namespace
}  // namespace norvik::com::testing

// The dispatch interface as an automation client sees it: the type library
// behind IDispatch, and what Invoke does with malformed calls.
#include "ComTestSupport.h"

#include <initializer_list>

namespace norvik::com::testing {
namespace {

constexpr USHORT kIn = PARAMFLAG_FIN;
constexpr USHORT kOut = PARAMFLAG_FOUT;
constexpr USHORT kInOut = PARAMFLAG_FIN | PARAMFLAG_FOUT;
constexpr USHORT kRetval = PARAMFLAG_FOUT | PARAMFLAG_FRETVAL;

struct Parameter {
    VARTYPE type;  // what the pointer points at when byReference
    bool byReference;
    USHORT flags;
};

struct Method {
    const wchar_t* name;
    std::vector<Parameter> parameters;
};

const Parameter kLongIn{VT_I4, false, kIn};
const Parameter kBstrIn{VT_BSTR, false, kIn};
const Parameter kRc{VT_I4, true, kRetval};

// The interface as the OPOS control object binds to it; DISPID = index + 1.
const std::vector<Method> kMethods = {
    {L"COFreezeEvents", {{VT_BOOL, false, kIn}, kRc}},
    {L"GetPropertyNumber", {kLongIn, {VT_I4, true, kRetval}}},
    {L"SetPropertyNumber", {kLongIn, kLongIn}},
    {L"GetPropertyString", {kLongIn, {VT_BSTR, true, kRetval}}},
    {L"SetPropertyString", {kLongIn, kBstrIn}},
    {L"OpenService", {kBstrIn, kBstrIn, {VT_DISPATCH, false, kIn}, kRc}},
    {L"CheckHealth", {kLongIn, kRc}},
    {L"ClaimDevice", {kLongIn, kRc}},
    {L"CloseService", {kRc}},
    {L"DirectIO", {kLongIn, {VT_I4, true, kInOut}, {VT_BSTR, true, kInOut}, kRc}},
    {L"ReleaseDevice", {kRc}},
    {L"ClearInput", {kRc}},
    {L"ClearInputProperties", {kRc}},
    {L"ResetStatistics", {kBstrIn, kRc}},
    {L"RetrieveStatistics", {{VT_BSTR, true, kInOut}, kRc}},
    {L"UpdateStatistics", {kBstrIn, kRc}},
    {L"CompareFirmwareVersion", {kBstrIn, {VT_I4, true, kInOut}, kRc}},
    {L"UpdateFirmware", {kBstrIn, kRc}},
    {L"WriteTracks", {{VT_VARIANT, false, kIn}, kLongIn, kRc}},
    {L"AuthenticateDevice", {kBstrIn, kRc}},
    {L"DeauthenticateDevice", {kBstrIn, kRc}},
    {L"RetrieveCardProperty", {kBstrIn, {VT_BSTR, true, kOut}, kRc}},
    {L"RetrieveDeviceAuthenticationData", {{VT_BSTR, true, kInOut}, kRc}},
    {L"UpdateKey", {kBstrIn, kBstrIn, kRc}},
};

std::wstring Documentation(ITypeInfo* info, MEMBERID member, std::wstring* help = nullptr) {
    UniqueBstr name;
    UniqueBstr helpString;
    EXPECT_EQ(S_OK, info->GetDocumentation(member, name.put(), helpString.put(), nullptr, nullptr));
    if (help) *help = helpString ? helpString.get() : L"";
    return name ? name.get() : L"";
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
            EXPECT_EQ(1u, RefCount(object_.get()));
            EXPECT_EQ(0u, object_.detach()->Release());
        }
        EXPECT_EQ(S_OK, server_.CanUnloadNow());
    }

    // The vtable view of the dual interface, where [retval] parameters show.
    ComPtr<ITypeInfo> InterfaceInfo() {
        ComPtr<ITypeInfo> dispatchInfo;
        EXPECT_EQ(S_OK, object_->GetTypeInfo(0, LOCALE_USER_DEFAULT, dispatchInfo.put()));
        HREFTYPE reference = 0;
        ComPtr<ITypeInfo> vtableInfo;
        if (dispatchInfo && SUCCEEDED(dispatchInfo->GetRefTypeOfImplType(-1, &reference))) {
            EXPECT_EQ(S_OK, dispatchInfo->GetRefTypeInfo(reference, vtableInfo.put()));
        }
        return vtableInfo;
    }

    HRESULT Invoke(DISPID dispid, std::vector<VARIANTARG> arguments, VARIANT* result = nullptr) {
        return InvokeMethod(object_.get(), dispid, std::move(arguments), result);
    }

    ComPtr<INorvikMSRSOImpl> object_;
};

// ---- The type library -------------------------------------------------------------

TEST_F(DispatchTest, InterfaceIsDualAutomationAndNotExtensible) {
    ComPtr<ITypeInfo> info = InterfaceInfo();
    ASSERT_TRUE(info);
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(S_OK, info->GetTypeAttr(&attr));
    EXPECT_EQ(IID_INorvikMSRSOImpl, attr->guid);
    EXPECT_EQ(TKIND_INTERFACE, attr->typekind);
    EXPECT_EQ(kMethods.size(), attr->cFuncs);
    const WORD expected = TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FNONEXTENSIBLE;
    EXPECT_EQ(expected, attr->wTypeFlags & expected) << std::hex << attr->wTypeFlags;
    info->ReleaseTypeAttr(attr);

    std::wstring help;
    EXPECT_EQ(L"INorvikMSRSOImpl", Documentation(info.get(), MEMBERID_NIL, &help));
    EXPECT_EQ(L"INorvikMSRSOImpl Interface", help);
}

TEST_F(DispatchTest, MethodsCarryTheirDispidsNamesAndParametersInVtableOrder) {
    ComPtr<ITypeInfo> info = InterfaceInfo();
    ASSERT_TRUE(info);
    for (UINT index = 0; index < kMethods.size(); ++index) {
        const Method& method = kMethods[index];
        SCOPED_TRACE(::testing::Message() << "method " << index + 1);
        FUNCDESC* func = nullptr;
        ASSERT_EQ(S_OK, info->GetFuncDesc(index, &func));
        EXPECT_EQ(static_cast<MEMBERID>(index + 1), func->memid);
        EXPECT_EQ(FUNC_PUREVIRTUAL, func->funckind);
        EXPECT_EQ(INVOKE_FUNC, func->invkind);
        // After IUnknown's three and IDispatch's four.
        EXPECT_EQ(static_cast<SHORT>((7 + index) * sizeof(void*)), func->oVft);
        EXPECT_EQ(VT_HRESULT, func->elemdescFunc.tdesc.vt);
        ASSERT_EQ(method.parameters.size(), static_cast<size_t>(func->cParams));

        BSTR names[8] = {};
        UINT count = 0;
        ASSERT_EQ(S_OK, info->GetNames(func->memid, names, ARRAYSIZE(names), &count));
        EXPECT_STREQ(method.name, names[0]);
        for (UINT i = 0; i < count; ++i) ::SysFreeString(names[i]);

        for (SHORT p = 0; p < func->cParams; ++p) {
            SCOPED_TRACE(::testing::Message() << "parameter " << p);
            const ELEMDESC& element = func->lprgelemdescParam[p];
            const Parameter& expected = method.parameters[p];
            if (expected.byReference) {
                ASSERT_EQ(VT_PTR, element.tdesc.vt);
                EXPECT_EQ(expected.type, element.tdesc.lptdesc->vt);
            } else {
                EXPECT_EQ(expected.type, element.tdesc.vt);
            }
            EXPECT_EQ(expected.flags, element.paramdesc.wParamFlags);
        }
        info->ReleaseFuncDesc(func);
    }
}

TEST_F(DispatchTest, GetIDsOfNamesAnswersFromTheTypeLibrary) {
    for (size_t index = 0; index < kMethods.size(); ++index) {
        LPOLESTR name = const_cast<LPOLESTR>(kMethods[index].name);
        DISPID dispid = 0;
        EXPECT_EQ(S_OK, object_->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &dispid));
        EXPECT_EQ(static_cast<DISPID>(index + 1), dispid) << "for " << index;
    }
    // Automation looks names up without regard to case.
    wchar_t lower[] = L"directio";
    LPOLESTR name = lower;
    DISPID dispid = 0;
    EXPECT_EQ(S_OK, object_->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &dispid));
    EXPECT_EQ(10, dispid);

    wchar_t unknown[] = L"SOData";
    name = unknown;
    EXPECT_EQ(DISP_E_UNKNOWNNAME,
              object_->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &dispid));
    EXPECT_EQ(DISPID_UNKNOWN, dispid);
    EXPECT_EQ(DISP_E_UNKNOWNINTERFACE,
              object_->GetIDsOfNames(IID_IDispatch, &name, 1, LOCALE_USER_DEFAULT, &dispid));

    // A method name followed by its parameter names.
    wchar_t method[] = L"DirectIO";
    wchar_t data[] = L"pData";
    wchar_t text[] = L"pString";
    LPOLESTR withParameters[] = {method, data, text};
    DISPID ids[3] = {};
    EXPECT_EQ(S_OK, object_->GetIDsOfNames(IID_NULL, withParameters, 3, LOCALE_USER_DEFAULT, ids));
    EXPECT_EQ(10, ids[0]);
    EXPECT_EQ(1, ids[1]);
    EXPECT_EQ(2, ids[2]);
}

TEST_F(DispatchTest, LibraryEventsAndClassAreDescribed) {
    ComPtr<ITypeInfo> info;
    ASSERT_EQ(S_OK, object_->GetTypeInfo(0, LOCALE_USER_DEFAULT, info.put()));
    ComPtr<ITypeLib> library;
    UINT index = 0;
    ASSERT_EQ(S_OK, info->GetContainingTypeLib(library.put(), &index));

    TLIBATTR* attr = nullptr;
    ASSERT_EQ(S_OK, library->GetLibAttr(&attr));
    EXPECT_EQ(LIBID_NorvikMSRSOLib, attr->guid);
    EXPECT_EQ(1, attr->wMajorVerNum);
    EXPECT_EQ(0, attr->wMinorVerNum);
    EXPECT_EQ(1033u, attr->lcid);
    library->ReleaseTLibAttr(attr);

    UniqueBstr name;
    UniqueBstr help;
    ASSERT_EQ(S_OK, library->GetDocumentation(-1, name.put(), help.put(), nullptr, nullptr));
    EXPECT_STREQ(L"NorvikMSRSOLib", name.get());
    EXPECT_STREQ(L"NorvikMSRSO 1.0 Type Library", help.get());

    ComPtr<ITypeInfo> events;
    ASSERT_EQ(S_OK, library->GetTypeInfoOfGuid(DIID__INorvikMSRSOImplEvents, events.put()));
    TYPEATTR* eventsAttr = nullptr;
    ASSERT_EQ(S_OK, events->GetTypeAttr(&eventsAttr));
    EXPECT_EQ(TKIND_DISPATCH, eventsAttr->typekind);
    EXPECT_EQ(0, eventsAttr->cFuncs);
    EXPECT_EQ(0, eventsAttr->cVars);
    events->ReleaseTypeAttr(eventsAttr);
    std::wstring eventsHelp;
    EXPECT_EQ(L"_INorvikMSRSOImplEvents", Documentation(events.get(), MEMBERID_NIL, &eventsHelp));
    EXPECT_EQ(L"_INorvikMSRSOImplEvents Interface", eventsHelp);

    ComPtr<ITypeInfo> coclass;
    ASSERT_EQ(S_OK, library->GetTypeInfoOfGuid(CLSID_NorvikMSRSOImpl, coclass.put()));
    std::wstring classHelp;
    EXPECT_EQ(L"NorvikMSRSOImpl", Documentation(coclass.get(), MEMBERID_NIL, &classHelp));
    EXPECT_EQ(L"NorvikMSRSOImpl Class", classHelp);
    TYPEATTR* classAttr = nullptr;
    ASSERT_EQ(S_OK, coclass->GetTypeAttr(&classAttr));
    EXPECT_EQ(TKIND_COCLASS, classAttr->typekind);
    ASSERT_EQ(2, classAttr->cImplTypes);
    coclass->ReleaseTypeAttr(classAttr);

    const struct {
        const IID* iid;
        int flags;
    } implemented[] = {{&IID_INorvikMSRSOImpl, IMPLTYPEFLAG_FDEFAULT},
                       {&DIID__INorvikMSRSOImplEvents, IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE}};
    for (UINT i = 0; i < 2; ++i) {
        INT flags = 0;
        HREFTYPE reference = 0;
        ASSERT_EQ(S_OK, coclass->GetImplTypeFlags(i, &flags));
        EXPECT_EQ(implemented[i].flags, flags);
        ASSERT_EQ(S_OK, coclass->GetRefTypeOfImplType(i, &reference));
        ComPtr<ITypeInfo> interfaceInfo;
        ASSERT_EQ(S_OK, coclass->GetRefTypeInfo(reference, interfaceInfo.put()));
        TYPEATTR* interfaceAttr = nullptr;
        ASSERT_EQ(S_OK, interfaceInfo->GetTypeAttr(&interfaceAttr));
        EXPECT_EQ(*implemented[i].iid, interfaceAttr->guid);
        interfaceInfo->ReleaseTypeAttr(interfaceAttr);
    }
}

// ---- Malformed calls through Invoke -------------------------------------------------

TEST_F(DispatchTest, WrongArgumentCountsAreRefused) {
    LONG data = 0;
    BSTR text = nullptr;
    const struct {
        DISPID dispid;
        std::vector<VARIANTARG> arguments;
    } calls[] = {
        {2, {}},                                      // GetPropertyNumber needs its index
        {2, {Long(1), Long(2), Long(3)}},             // ... and takes two at most
        {3, {Long(1)}},                               // SetPropertyNumber has no retval
        {3, {Long(1), Long(2), Long(3)}},
        {6, {Text(nullptr)}},                         // OpenService takes three
        {9, {Long(1), Long(2)}},                      // CloseService takes only its result
        {10, {Long(0), LongRef(&data)}},              // DirectIO needs the string too
        {24, {Text(nullptr), Text(nullptr), Long(0), Long(0)}},
    };
    for (const auto& call : calls) {
        const HRESULT hr = Invoke(call.dispid, call.arguments);
        EXPECT_EQ(DISP_E_BADPARAMCOUNT, hr)
            << "DISPID " << call.dispid << " with " << call.arguments.size() << ": " << Hex(hr);
    }
    EXPECT_EQ(nullptr, text);
}

TEST_F(DispatchTest, UnknownDispidsAndInterfacesAreRefused) {
    for (DISPID dispid : {0, 25, 26, -1, 1000, DISPID_VALUE, DISPID_NEWENUM}) {
        VARIANT result;
        ::VariantInit(&result);
        const HRESULT hr = Invoke(dispid, {Long(1)}, &result);
        EXPECT_EQ(DISP_E_MEMBERNOTFOUND, hr) << "DISPID " << dispid << ": " << Hex(hr);
        EXPECT_EQ(VT_EMPTY, V_VT(&result));
    }
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    EXPECT_EQ(DISP_E_UNKNOWNINTERFACE,
              object_->Invoke(9, IID_IDispatch, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &none,
                              nullptr, nullptr, nullptr));
}

TEST_F(DispatchTest, ArgumentsThatCannotBecomeTheirTypeAreRefused) {
    UniqueBstr notANumber(::SysAllocString(L"not a number"));
    HRESULT hr = Invoke(2, {Text(notANumber.get())});
    EXPECT_EQ(DISP_E_TYPEMISMATCH, hr) << Hex(hr);

    // The control object's dispatch must be an object, not a number.
    hr = Invoke(6, {Text(nullptr), Text(nullptr), Long(5)});
    EXPECT_EQ(DISP_E_TYPEMISMATCH, hr) << Hex(hr);

    // By-reference parameters of another type.
    LONG wrong = 0;
    UniqueBstr text;
    hr = Invoke(10, {Long(0), TextRef(text.put()), LongRef(&wrong)});
    EXPECT_EQ(DISP_E_TYPEMISMATCH, hr) << Hex(hr);

    // Numbers in text that convert are accepted: automation coerces them.
    UniqueBstr index(::SysAllocString(L"7016"));
    VARIANT result;
    ::VariantInit(&result);
    EXPECT_EQ(S_OK, Invoke(2, {Text(index.get())}, &result));
    EXPECT_EQ(VT_I4, V_VT(&result));
    EXPECT_EQ(106, V_I4(&result));  // not a property
}

TEST_F(DispatchTest, NullAndEmptyStringsAreEmptyTexts) {
    EXPECT_EQ(S_OK, Invoke(5, {Long(1000001), Text(nullptr)}));
    EXPECT_EQ(S_OK, Invoke(14, {Text(nullptr)}));
    EXPECT_EQ(S_OK, Invoke(20, {Text(nullptr)}));
    EXPECT_EQ(S_OK, Invoke(24, {Text(nullptr), Text(nullptr)}));

    // A null device class, and a logical device that does not exist.
    UniqueBstr missing(::SysAllocString(L"NorvikNoSuchDevice"));
    VARIANT result;
    ::VariantInit(&result);
    EXPECT_EQ(S_OK, Invoke(6, {Text(nullptr), Text(missing.get()), Dispatch(nullptr)}, &result));
    EXPECT_EQ(VT_I4, V_VT(&result));
    EXPECT_EQ(109, V_I4(&result));

    // A null in/out string that the service object does not replace stays null.
    BSTR request = nullptr;
    ::VariantInit(&result);
    EXPECT_EQ(S_OK, Invoke(15, {TextRef(&request)}, &result));
    EXPECT_EQ(nullptr, request);
}

TEST_F(DispatchTest, VeryLongStringsAreTakenWithoutHarm) {
    const std::wstring huge(100000, L'7');
    UniqueBstr text(::SysAllocStringLen(huge.data(), static_cast<UINT>(huge.size())));
    VARIANT result;
    ::VariantInit(&result);

    EXPECT_EQ(S_OK, Invoke(5, {Long(1007025), Text(text.get())}));
    EXPECT_EQ(S_OK, Invoke(6, {Text(text.get()), Text(text.get()), Dispatch(nullptr)}, &result));
    EXPECT_EQ(109, V_I4(&result));
    EXPECT_EQ(S_OK, Invoke(22, {Text(text.get()), TextRef(text.addressof())}, &result));
    EXPECT_EQ(S_OK, Invoke(16, {Text(text.get())}, &result));

    // Not open, not claimed: the in/out strings come back as they went in.
    BSTR original = text.get();
    LONG data = 0x5eed;
    EXPECT_EQ(S_OK, Invoke(10, {Long(0), LongRef(&data), TextRef(text.addressof())}, &result));
    EXPECT_EQ(original, text.get());
    EXPECT_EQ(huge.size(), text.length());
    EXPECT_EQ(0x5eed, data);
    EXPECT_EQ(S_OK, Invoke(15, {TextRef(text.addressof())}, &result));
    EXPECT_EQ(original, text.get());
    EXPECT_EQ(S_OK, Invoke(23, {TextRef(text.addressof())}, &result));
    EXPECT_EQ(original, text.get());
    EXPECT_EQ(106, V_I4(&result));
}

TEST_F(DispatchTest, OutStringsAreNewForTheCaller) {
    VARIANT result;
    ::VariantInit(&result);
    ASSERT_EQ(S_OK, Invoke(4, {Long(1000001 + 6999)}, &result));  // no such string property
    ASSERT_EQ(VT_BSTR, V_VT(&result));
    ASSERT_NE(nullptr, V_BSTR(&result));
    EXPECT_EQ(0u, ::SysStringLen(V_BSTR(&result)));
    EXPECT_EQ(S_OK, ::VariantClear(&result));

    // Called without a result variant, the method runs all the same.
    EXPECT_EQ(S_OK, Invoke(4, {Long(1000001)}));
    EXPECT_EQ(S_OK, Invoke(12, {}));
}

}  // namespace
}  // namespace norvik::com::testing

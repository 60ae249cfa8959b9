// The main job: a point-of-sale style OPOS session against the simulated
// reader, printed as a short report. It binds to the MSR control object by
// dispatch, opens logical device names (aliases), claims and enables the
// device, and shows what a swipe, a bad read, DirectIO and the statistics
// give an application. Expects NorvikMSRSO and the control object registered
// (tools/demo.sh does that) and the aliases given on the command line.
#include <windows.h>
#include <ocidl.h>
#include <oleauto.h>

#include <cstdio>
#include <string>
#include <vector>

#include "NorvikMSRControl.h"
#include "Vorlex.h"
#include "VorlexSimulator.h"
#include "common/win32/ComResources.h"

namespace {

using norvik::win32::ComPtr;
using norvik::win32::UniqueBstr;

constexpr long kEventTimeoutMs = 5000;

std::string Narrow(BSTR text) {
    if (text == nullptr) return {};
    const int length = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string result(length > 0 ? length - 1 : 0, '\0');
    if (length > 1) WideCharToMultiByte(CP_ACP, 0, text, -1, result.data(), length, nullptr, nullptr);
    return result;
}

UniqueBstr Wide(const std::string& text) {
    const int length = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
    std::wstring wide(length > 0 ? length - 1 : 0, L'\0');
    if (length > 1) MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide.data(), length);
    return UniqueBstr(SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size())));
}

// One event as the sink saw it.
struct Event {
    DISPID id;
    std::vector<long> numbers;
    std::string text;
};

// The application's event sink: answers the event names, records every event.
class SessionEvents final : public IDispatch {
public:
    static ComPtr<SessionEvents> Create() { return ComPtr<SessionEvents>::Attach(new SessionEvents()); }

    STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
        if (object == nullptr) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IDispatch || riid == DIID__INorvikMSRControlEvents) {
            *object = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&references_); }
    STDMETHODIMP_(ULONG) Release() override {
        const LONG left = InterlockedDecrement(&references_);
        if (left == 0) delete this;
        return left;
    }
    STDMETHODIMP GetTypeInfoCount(UINT* count) override {
        if (count) *count = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
        static const struct {
            const wchar_t* name;
            DISPID id;
        } kEvents[] = {{L"DataEvent", DISPID_NORVIKMSR_DATAEVENT},
                       {L"DirectIOEvent", DISPID_NORVIKMSR_DIRECTIOEVENT},
                       {L"ErrorEvent", DISPID_NORVIKMSR_ERROREVENT},
                       {L"StatusUpdateEvent", DISPID_NORVIKMSR_STATUSUPDATEEVENT}};
        if (count != 1) return DISP_E_UNKNOWNNAME;
        for (const auto& event : kEvents) {
            if (lstrcmpiW(names[0], event.name) == 0) {
                ids[0] = event.id;
                return S_OK;
            }
        }
        ids[0] = DISPID_UNKNOWN;
        return DISP_E_UNKNOWNNAME;
    }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                        UINT*) override {
        Event event{id, {}, {}};
        // Arguments arrive last first.
        for (UINT i = params ? params->cArgs : 0; i-- > 0;) {
            const VARIANT& arg = params->rgvarg[i];
            if (arg.vt == VT_I4) event.numbers.push_back(arg.lVal);
            if (arg.vt == (VT_I4 | VT_BYREF)) event.numbers.push_back(*arg.plVal);
            if (arg.vt == (VT_BSTR | VT_BYREF)) event.text = Narrow(*arg.pbstrVal);
        }
        events_.push_back(event);
        return S_OK;
    }

    // Pumps the thread's messages until an event with `id` arrives; the
    // control raises events on this thread through its window.
    bool WaitFor(DISPID id, Event& out) {
        const DWORD deadline = GetTickCount() + kEventTimeoutMs;
        for (;;) {
            for (size_t i = 0; i < events_.size(); ++i) {
                if (events_[i].id == id) {
                    out = events_[i];
                    events_.erase(events_.begin() + static_cast<long>(i));
                    return true;
                }
            }
            if (static_cast<LONG>(deadline - GetTickCount()) <= 0) return false;
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
            MSG message;
            while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
        }
    }

private:
    SessionEvents() = default;
    ~SessionEvents() = default;
    LONG references_ = 1;
    std::vector<Event> events_;
};

// The control object, called by dispatch identifier as applications do.
class MsrControl {
public:
    bool Create() {
        CLSID clsid;
        if (FAILED(CLSIDFromProgID(NORVIKMSR_CONTROL_PROGID, &clsid))) return false;
        if (FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                    control_.put_void()))) {
            return false;
        }
        events_ = SessionEvents::Create();
        ComPtr<IConnectionPointContainer> container;
        if (FAILED(control_->QueryInterface(IID_IConnectionPointContainer, container.put_void())) ||
            FAILED(container->FindConnectionPoint(DIID__INorvikMSRControlEvents, point_.put()))) {
            return false;
        }
        return SUCCEEDED(point_->Advise(events_.get(), &cookie_));
    }
    ~MsrControl() {
        if (point_ && cookie_ != 0) point_->Unadvise(cookie_);
    }

    long Method(DISPID id, std::vector<VARIANT> args = {}) {
        VARIANT result;
        VariantInit(&result);
        Invoke(id, DISPATCH_METHOD, args, &result);
        const long value = result.vt == VT_I4 ? result.lVal : -1;
        VariantClear(&result);
        return value;
    }
    long Number(DISPID id) {
        VARIANT result;
        VariantInit(&result);
        Invoke(id, DISPATCH_PROPERTYGET, {}, &result);
        VariantChangeType(&result, &result, 0, VT_I4);
        const long value = result.vt == VT_I4 ? result.lVal : -1;
        VariantClear(&result);
        return value;
    }
    std::string Text(DISPID id) {
        VARIANT result;
        VariantInit(&result);
        Invoke(id, DISPATCH_PROPERTYGET, {}, &result);
        std::string value = result.vt == VT_BSTR ? Narrow(result.bstrVal) : std::string();
        VariantClear(&result);
        return value;
    }
    void Set(DISPID id, VARIANT value) {
        DISPID named = DISPID_PROPERTYPUT;
        DISPPARAMS params{&value, &named, 1, 1};
        control_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT, &params, nullptr,
                         nullptr, nullptr);
    }
    void SetFlag(DISPID id, bool on) {
        VARIANT value;
        value.vt = VT_BOOL;
        value.boolVal = on ? VARIANT_TRUE : VARIANT_FALSE;
        Set(id, value);
    }
    static VARIANT Long(long v) {
        VARIANT value;
        value.vt = VT_I4;
        value.lVal = v;
        return value;
    }
    static VARIANT String(BSTR text) {
        VARIANT value;
        value.vt = VT_BSTR;
        value.bstrVal = text;
        return value;
    }
    SessionEvents& Events() { return *events_.get(); }

    // DirectIO(Command, &Data, &String): the two by-reference arguments come back.
    long DirectIO(long command, long& data, UniqueBstr& text) {
        VARIANT args[3];
        args[2] = Long(command);
        args[1].vt = VT_I4 | VT_BYREF;
        args[1].plVal = &data;
        args[0].vt = VT_BSTR | VT_BYREF;
        args[0].pbstrVal = text.addressof();
        return InvokeRaw(DISPID_NORVIKMSR_DIRECTIO, args, 3);
    }
    long RetrieveStatistics(UniqueBstr& buffer) {
        VARIANT arg;
        arg.vt = VT_BSTR | VT_BYREF;
        arg.pbstrVal = buffer.addressof();
        return InvokeRaw(DISPID_NORVIKMSR_RETRIEVESTATISTICS, &arg, 1);
    }

private:
    void Invoke(DISPID id, WORD flags, std::vector<VARIANT> args, VARIANT* result) {
        std::vector<VARIANT> reversed(args.rbegin(), args.rend());
        DISPPARAMS params{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
        control_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result, nullptr, nullptr);
    }
    long InvokeRaw(DISPID id, VARIANT* args, UINT count) {
        DISPPARAMS params{args, nullptr, count, 0};
        VARIANT result;
        VariantInit(&result);
        control_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &result, nullptr,
                         nullptr);
        const long value = result.vt == VT_I4 ? result.lVal : -1;
        VariantClear(&result);
        return value;
    }

    ComPtr<IDispatch> control_;
    ComPtr<SessionEvents> events_;
    ComPtr<IConnectionPoint> point_;
    DWORD cookie_ = 0;
};

void Line(const char* name, const std::string& value) { std::printf("    %-32s %s\n", name, value.c_str()); }

bool Step(MsrControl& msr, const char* what, long result) {
    std::printf("  %-34s %s", what, result == 0 ? "OK\n" : "FAILED");
    if (result != 0) {
        std::printf(" (result %ld, ResultCode %ld, ResultCodeExtended %ld)\n", result,
                    msr.Number(DISPID_NORVIKMSR_RESULTCODE), msr.Number(DISPID_NORVIKMSR_RESULTCODEEXTENDED));
    }
    return result == 0;
}

bool OpenClaimEnable(MsrControl& msr, const char* alias) {
    UniqueBstr name = Wide(alias);
    if (!Step(msr, (std::string("Open \"") + alias + "\"").c_str(),
              msr.Method(DISPID_NORVIKMSR_OPEN, {MsrControl::String(name.get())}))) {
        return false;
    }
    std::printf("    %-32s %s\n", "DeviceDescription", msr.Text(DISPID_NORVIKMSR_DEVICEDESCRIPTION).c_str());
    std::printf("    %-32s %s\n", "ServiceObjectDescription",
                msr.Text(DISPID_NORVIKMSR_SERVICEOBJECTDESCRIPTION).c_str());
    std::printf("    %-32s %ld\n", "ServiceObjectVersion", msr.Number(DISPID_NORVIKMSR_SERVICEOBJECTVERSION));
    if (!Step(msr, "ClaimDevice(1000)", msr.Method(DISPID_NORVIKMSR_CLAIMDEVICE, {MsrControl::Long(1000)}))) {
        return false;
    }
    msr.SetFlag(DISPID_NORVIKMSR_DEVICEENABLED, true);
    if (!Step(msr, "DeviceEnabled = true", msr.Number(DISPID_NORVIKMSR_RESULTCODE))) return false;
    msr.SetFlag(DISPID_NORVIKMSR_DATAEVENTENABLED, true);
    return Step(msr, "DataEventEnabled = true", msr.Number(DISPID_NORVIKMSR_RESULTCODE));
}

bool ShowDataEvent(MsrControl& msr, bool encrypting) {
    Event event;
    if (!msr.Events().WaitFor(DISPID_NORVIKMSR_DATAEVENT, event)) {
        std::printf("  no DataEvent arrived\n");
        return false;
    }
    const long status = event.numbers.empty() ? 0 : event.numbers[0];
    std::printf("  DataEvent  Status %ld (track lengths %ld, %ld, %ld)\n", status, status & 0xFF,
                (status >> 8) & 0xFF, (status >> 16) & 0xFF);
    Line("Track1Data", msr.Text(DISPID_NORVIKMSR_TRACK1DATA));
    Line("Track2Data", msr.Text(DISPID_NORVIKMSR_TRACK2DATA));
    Line("Track1DiscretionaryData", msr.Text(DISPID_NORVIKMSR_TRACK1DISCRETIONARYDATA));
    Line("AccountNumber", msr.Text(DISPID_NORVIKMSR_ACCOUNTNUMBER));
    Line("ExpirationDate", msr.Text(DISPID_NORVIKMSR_EXPIRATIONDATE));
    Line("ServiceCode", msr.Text(DISPID_NORVIKMSR_SERVICECODE));
    Line("Surname", msr.Text(DISPID_NORVIKMSR_SURNAME));
    Line("FirstName", msr.Text(DISPID_NORVIKMSR_FIRSTNAME));
    Line("MiddleInitial", msr.Text(DISPID_NORVIKMSR_MIDDLEINITIAL));
    if (encrypting) {
        Line("Track1EncryptedData", msr.Text(DISPID_NORVIKMSR_TRACK1ENCRYPTEDDATA));
        Line("Track2EncryptedData", msr.Text(DISPID_NORVIKMSR_TRACK2ENCRYPTEDDATA));
        Line("CardAuthenticationData", msr.Text(DISPID_NORVIKMSR_CARDAUTHENTICATIONDATA));
        Line("AdditionalSecurityInformation", msr.Text(DISPID_NORVIKMSR_ADDITIONALSECURITYINFORMATION));
    }
    // Re-arm, as an application does, so that the next swipe is delivered.
    msr.SetFlag(DISPID_NORVIKMSR_DATAEVENTENABLED, true);
    return true;
}

bool BasicReaderSession(MsrControl& msr) {
    std::printf("\n1. Basic swipe reader, logical device \"FrontCounterMSR\"\n");
    VorlexSimReset();
    VorlexSimAttach(VORLEX_VENDOR_ID, VORLEX_PID_BASIC_SWIPE, 338, 64);
    if (!OpenClaimEnable(msr, "FrontCounterMSR")) return false;

    std::printf("\n  Swipe: a bank card\n");
    VorlexSimSwipeTracks("%B4111111111111111^DOE/JOHN Q^2512101123456789?",
                         ";4111111111111111=25121011234567890?", "", 0, 0, 0, 0);
    if (!ShowDataEvent(msr, false)) return false;

    std::printf("\n  Swipe: a bad read (track 2 could not be decoded)\n");
    VorlexSimSwipeTracks("%B4111111111111111^DOE/JOHN Q^2512101123456789?", ";4111", "", 0, 1, 0, 0);
    Event error;
    if (!msr.Events().WaitFor(DISPID_NORVIKMSR_ERROREVENT, error) || error.numbers.size() < 4) {
        std::printf("  no ErrorEvent arrived\n");
        return false;
    }
    std::printf("  ErrorEvent  ResultCode %ld, ResultCodeExtended %ld, ErrorLocus %ld, ErrorResponse %ld\n",
                error.numbers[0], error.numbers[1], error.numbers[2], error.numbers[3]);

    std::printf("\n  DirectIO: command \"02 01 03\" to the reader\n");
    const unsigned char reply[] = {0x00, 0x00, 0x03, 0x90, 0x00, 0x1F};
    VorlexSimSetFeatureReply(reply, sizeof reply);
    long data = 0;
    UniqueBstr text = Wide("02 01 03");
    const long directIO = msr.DirectIO(0, data, text);
    std::printf("  %-34s %ld\n", "DirectIO result", directIO);
    Line("reply", Narrow(text.get()));
    std::printf("    %-32s %ld\n", "reply length", data);
    Event directEvent;
    if (msr.Events().WaitFor(DISPID_NORVIKMSR_DIRECTIOEVENT, directEvent) && !directEvent.numbers.empty()) {
        std::printf("  DirectIOEvent  EventNumber %ld, Data %ld, String \"%s\"\n", directEvent.numbers[0],
                    directEvent.numbers.size() > 1 ? directEvent.numbers[1] : 0, directEvent.text.c_str());
    }

    std::printf("\n  RetrieveStatistics(\"GoodReadCount,FailedReadCount\")\n");
    UniqueBstr statistics = Wide("GoodReadCount,FailedReadCount");
    if (!Step(msr, "RetrieveStatistics", msr.RetrieveStatistics(statistics))) return false;
    std::printf("%s", Narrow(statistics.get()).c_str());

    return Step(msr, "Close", msr.Method(DISPID_NORVIKMSR_CLOSE));
}

bool SecureReaderSession(MsrControl& msr) {
    std::printf("\n2. Encrypting swipe reader, logical device \"SecureLaneMSR\"\n");
    VorlexSimReset();
    VorlexSimAttach(VORLEX_VENDOR_ID, VORLEX_PID_SECURE_SWIPE, 887, 64);
    if (!OpenClaimEnable(msr, "SecureLaneMSR")) return false;
    std::printf("\n  Swipe: a bank card, encrypted by the reader\n");
    VorlexSimSwipeTracks("%B5500005555555559^SMITH/ANNA M^2711201987654321?",
                         ";5500005555555559=27112019876543210?", "", 0, 0, 0, 0);
    if (!ShowDataEvent(msr, true)) return false;
    return Step(msr, "Close", msr.Method(DISPID_NORVIKMSR_CLOSE));
}

}  // namespace

int main() {
    norvik::win32::CoInitializeScope com(COINIT_APARTMENTTHREADED);
    std::printf("Norvik OPOS MSR session (simulated reader)\n");
    std::printf("==========================================\n");
    // The service object loads the same Vorlex.dll into this process.
    VorlexSimEnable(1);
    MsrControl msr;
    if (FAILED(com.result()) || !msr.Create()) {
        std::printf("The MSR control object is not registered.\n");
        return 1;
    }
    const bool ok = BasicReaderSession(msr) && SecureReaderSession(msr);
    std::printf("\n%s\n", ok ? "Session complete." : "Session FAILED.");
    return ok ? 0 : 1;
}

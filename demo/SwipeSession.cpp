// The main job: a point-of-sale style OPOS session against a reader, printed
// as a short report. With --virtual the readers are virtual HID devices that
// the virtual reader's tool plugs and swipes, read through the real HID path;
// otherwise they sit on Vorlex's simulated bus. It binds to the MSR control object by
// dispatch, opens logical device names (aliases), claims and enables the
// device, and shows what a swipe, a bad read, DirectIO and the statistics
// give an application. Expects NorvikMSRSO and the control object registered
// (tools/demo.sh does that) and the aliases given on the command line.
#include <cstdio>
#include <string>

#include "PosClient.h"
#include "VirtualReaderClient.h"
#include "Vorlex.h"
#include "VorlexSimulator.h"

namespace {

using norvik::pos::Event;
using norvik::pos::MsrControl;
using norvik::pos::Narrow;
using norvik::pos::UniqueBstr;
using norvik::pos::Wide;

// Where the session's readers come from: the simulated bus or the virtual reader.
struct ReaderSource {
    bool virtualReader = false;

    bool Attach(const char* model, unsigned short productId, unsigned short inputLength) const {
        if (!virtualReader) {
            VorlexSimReset();
            return VorlexSimAttach(VORLEX_VENDOR_ID, productId, inputLength, 64) == 0;
        }
        return Tool("unplug all") && Tool(std::string("plug ") + model);
    }
    bool Swipe(const char* track1, const char* track2, int status2) const {
        if (!virtualReader) return VorlexSimSwipeTracks(track1, track2, "", 0, status2, 0, 0) == 0;
        return Tool(std::string("swipe \"") + track1 + "\" \"" + track2 + "\" \"\" --status 0," +
                    std::to_string(status2) + ",0");
    }
    bool FeatureReply(const unsigned char* reply, size_t length, const char* hex) const {
        if (!virtualReader) return VorlexSimSetFeatureReply(reply, static_cast<int>(length)) == 0;
        return Tool(std::string("feature-reply ") + hex);
    }
    bool Unplug() const { return virtualReader ? Tool("unplug") : VorlexSimDetach() == 0; }
    bool Replug(const char* model, unsigned short productId, unsigned short inputLength) const {
        if (!virtualReader) return VorlexSimAttach(VORLEX_VENDOR_ID, productId, inputLength, 64) == 0;
        return Tool(std::string("plug ") + model);
    }
    void Done() const {
        if (virtualReader) Tool("unplug all");
    }
    static bool Tool(const std::string& arguments) {
        const int code = vorlex::virtual_reader::RunControlTool(arguments);
        if (code == vorlex::virtual_reader::kControlToolTimedOut) {
            std::printf("  VirtualReader %s: did not end in time and was ended\n", arguments.c_str());
        } else if (code != 0) {
            std::printf("  VirtualReader %s: exit code %d\n", arguments.c_str(), code);
        }
        return code == 0;
    }
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

bool OpenClaimEnable(MsrControl& msr, const char* alias, bool powerNotify = false) {
    if (!Step(msr, (std::string("Open \"") + alias + "\"").c_str(), msr.Open(alias))) {
        return false;
    }
    std::printf("    %-32s %s\n", "DeviceDescription", msr.Text(DISPID_NORVIKMSR_DEVICEDESCRIPTION).c_str());
    std::printf("    %-32s %s\n", "ServiceObjectDescription",
                msr.Text(DISPID_NORVIKMSR_SERVICEOBJECTDESCRIPTION).c_str());
    std::printf("    %-32s %ld\n", "ServiceObjectVersion", msr.Number(DISPID_NORVIKMSR_SERVICEOBJECTVERSION));
    if (!Step(msr, "ClaimDevice(1000)", msr.Method(DISPID_NORVIKMSR_CLAIMDEVICE, {MsrControl::Long(1000)}))) {
        return false;
    }
    if (powerNotify) {
        std::printf("    %-32s %ld\n", "CapPowerReporting", msr.Number(DISPID_NORVIKMSR_CAPPOWERREPORTING));
        msr.SetNumber(DISPID_NORVIKMSR_POWERNOTIFY, 1);
        if (!Step(msr, "PowerNotify = 1", msr.Number(DISPID_NORVIKMSR_RESULTCODE))) return false;
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

bool BasicReaderSession(MsrControl& msr, const ReaderSource& reader) {
    std::printf("\n1. Basic swipe reader, logical device \"FrontCounterMSR\"\n");
    if (!reader.Attach("basic-swipe", VORLEX_PID_BASIC_SWIPE, 338)) return false;
    if (!OpenClaimEnable(msr, "FrontCounterMSR")) return false;

    std::printf("\n  Swipe: a bank card\n");
    if (!reader.Swipe("%B4111111111111111^DOE/JOHN Q^2512101123456789?",
                      ";4111111111111111=25121011234567890?", 0) ||
        !ShowDataEvent(msr, false)) {
        return false;
    }

    std::printf("\n  Swipe: a bad read (track 2 could not be decoded)\n");
    if (!reader.Swipe("%B4111111111111111^DOE/JOHN Q^2512101123456789?", ";4111", 1)) return false;
    Event error;
    if (!msr.Events().WaitFor(DISPID_NORVIKMSR_ERROREVENT, error) || error.numbers.size() < 4) {
        std::printf("  no ErrorEvent arrived\n");
        return false;
    }
    std::printf("  ErrorEvent  ResultCode %ld, ResultCodeExtended %ld, ErrorLocus %ld, ErrorResponse %ld\n",
                error.numbers[0], error.numbers[1], error.numbers[2], error.numbers[3]);

    std::printf("\n  DirectIO: command \"02 01 03\" to the reader\n");
    const unsigned char reply[] = {0x00, 0x00, 0x03, 0x90, 0x00, 0x1F};
    if (!reader.FeatureReply(reply, sizeof reply, "00000390001F")) return false;
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

bool WaitForStatus(MsrControl& msr, long expected, const char* meaning) {
    Event event;
    if (!msr.Events().WaitFor(DISPID_NORVIKMSR_STATUSUPDATEEVENT, event, 15000) || event.numbers.empty()) {
        std::printf("  no StatusUpdateEvent arrived\n");
        return false;
    }
    std::printf("  StatusUpdateEvent %ld (%s)\n", event.numbers[0], meaning);
    return event.numbers[0] == expected;
}

bool SwipeSecureCard(MsrControl& msr, const ReaderSource& reader) {
    return reader.Swipe("%B5500005555555559^SMITH/ANNA M^2711201987654321?",
                        ";5500005555555559=27112019876543210?", 0) &&
           ShowDataEvent(msr, true);
}

// This lane's device key has "PowerReporting" 1: the reader is unplugged and
// plugged back in while the device stays enabled, and the application is told.
bool SecureReaderSession(MsrControl& msr, const ReaderSource& reader) {
    std::printf("\n2. Encrypting swipe reader, logical device \"SecureLaneMSR\" (power reporting, where its key asks)\n");
    if (!reader.Attach("secure-swipe", VORLEX_PID_SECURE_SWIPE, 887)) return false;
    if (!OpenClaimEnable(msr, "SecureLaneMSR", true)) return false;
    std::printf("\n  Swipe: a bank card, encrypted by the reader\n");
    if (!SwipeSecureCard(msr, reader)) return false;

    if (msr.Number(DISPID_NORVIKMSR_CAPPOWERREPORTING) != 1) {
        std::printf("\n  Power reporting is off for this device key (no \"PowerReporting\" 1): no unplug and replug\n");
        return Step(msr, "Close", msr.Method(DISPID_NORVIKMSR_CLOSE));
    }
    if (!reader.virtualReader) {
        // The simulated bus is not the system's: no notice tells of its readers,
        // so a replugged one is found only on the watch's slow timer.
        std::printf("\n  Unplug and replug need the virtual reader (tools/demo.sh without --simulated)\n");
        return Step(msr, "Close", msr.Method(DISPID_NORVIKMSR_CLOSE));
    }
    std::printf("\n  Unplug the reader (the application does nothing)\n");
    if (!reader.Unplug() || !WaitForStatus(msr, 2004, "off or offline: the reader is gone")) return false;
    std::printf("  Plug it back in (no disable, no enable)\n");
    if (!reader.Replug("secure-swipe", VORLEX_PID_SECURE_SWIPE, 887) ||
        !WaitForStatus(msr, 2001, "online: the reader is back")) {
        return false;
    }
    std::printf("  Swipe again: the same enabled device reads\n");
    if (!SwipeSecureCard(msr, reader)) return false;
    return Step(msr, "Close", msr.Method(DISPID_NORVIKMSR_CLOSE));
}

}  // namespace

int main(int argc, char** argv) {
    ReaderSource reader;
    reader.virtualReader = argc > 1 && std::string(argv[1]) == "--virtual";
    norvik::win32::CoInitializeScope com(COINIT_APARTMENTTHREADED);
    if (reader.virtualReader) {
        std::printf("Norvik OPOS MSR session (virtual reader, through the system's HID stack)\n");
        std::printf("=========================================================================\n");
    } else {
        std::printf("Norvik OPOS MSR session (simulated reader)\n");
        std::printf("==========================================\n");
    }
    // The service object loads the same Vorlex.dll into this process.
    VorlexSimEnable(reader.virtualReader ? 0 : 1);
    MsrControl msr;
    if (FAILED(com.result()) || !msr.Create()) {
        std::printf("The MSR control object is not registered.\n");
        return 1;
    }
    const bool ok = BasicReaderSession(msr, reader) && SecureReaderSession(msr, reader);
    reader.Done();
    std::printf("\n%s\n", ok ? "Session complete." : "Session FAILED.");
    return ok ? 0 : 1;
}

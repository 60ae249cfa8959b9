// VirtualReader.exe: installs the virtual reader and plugs, unplugs and
// drives its devices. The command line and the exit codes are a contract
// with tests outside this repository: 0 success, 2 usage, 3 not installed,
// 4 no such device, 5 timed out (10 s); 1 for any other failure. Errors go to
// stderr as one plain line.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "Vorlex.h"
#include "VirtualReaderClient.h"
#include "core/CommandCodec.h"
#include "core/ModelTable.h"
#include "sim/SwipeReportBuilder.h"

namespace {

using namespace vorlex::virtual_reader;

enum ExitCode { kSuccess = 0, kFailure = 1, kUsage = 2, kNotInstalled = 3, kNoSuchDevice = 4, kTimedOut = 5 };

constexpr char kUsageText[] =
    "usage: VirtualReader install | uninstall | plug MODEL [--vid V --pid P] | unplug [all] |\n"
    "       swipe T1 T2 T3 [--status S1,S2,S3] [--encode N] | report FILE|- | feature-reply HEX |\n"
    "       last-feature | status\n"
    "MODEL: basic-swipe | secure-swipe | basic-insert | secure-insert | foreign (needs --vid and --pid)\n";

int Fail(int code, const std::string& message) {
    std::fprintf(stderr, "VirtualReader: %s\n", message.c_str());
    return code;
}

int Usage(const std::string& message) {
    std::fprintf(stderr, "VirtualReader: %s\n", message.c_str());
    std::fputs(kUsageText, stderr);
    return kUsage;
}

int FromOutcome(Outcome outcome, const std::string& what) {
    switch (outcome) {
    case Outcome::Ok: return kSuccess;
    case Outcome::NotInstalled: return Fail(kNotInstalled, "the virtual reader is not installed (run VirtualReader install)");
    case Outcome::NoSuchDevice: return Fail(kNoSuchDevice, "no such device: " + what);
    case Outcome::TimedOut: return Fail(kTimedOut, what + " timed out after 10 s");
    case Outcome::Failed: break;
    }
    return Fail(kFailure, what + " failed with error " + std::to_string(::GetLastError()));
}

bool ParseNumber(const char* text, int base, long minimum, long maximum, long& value) {
    char* end = nullptr;
    value = std::strtol(text, &end, base);
    return end != text && *end == '\0' && value >= minimum && value <= maximum;
}

bool ParseHex(const std::string& text, std::vector<uint8_t>& bytes) {
    bytes.clear();
    size_t position = 0;
    uint8_t value = 0;
    for (;;) {
        const vorlex::TokenResult result = vorlex::NextHexByte(text.c_str(), position, value);
        if (result == vorlex::TokenResult::End) return true;
        if (result == vorlex::TokenResult::Invalid) return false;
        bytes.push_back(value);
    }
}

std::string ToHex(const std::vector<uint8_t>& bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    for (uint8_t b : bytes) {
        text += digits[b >> 4];
        text += digits[b & 0xF];
    }
    return text;
}

// Every command but install and uninstall talks to the newest plugged device.
struct Session {
    ControlDevice control;
    std::vector<VR_DEVICE_INFO> devices;

    Outcome Open() {
        Outcome outcome = control.Open();
        if (outcome == Outcome::Ok) outcome = control.Status(devices);
        return outcome;
    }
    const VR_DEVICE_INFO* Newest() const { return devices.empty() ? nullptr : &devices.back(); }
};

int OpenWithDevice(Session& session, const VR_DEVICE_INFO*& device) {
    if (int code = FromOutcome(session.Open(), "reading the status")) return code;
    device = session.Newest();
    return device ? kSuccess : Fail(kNoSuchDevice, "no virtual device is plugged");
}

int Plug(int argc, char** argv) {
    if (argc < 1) return Usage("plug needs a MODEL");
    const PluggableModel* model = FindPluggableModel(argv[0]);
    if (model == nullptr) return Usage(std::string("unknown model ") + argv[0]);
    long vid = VORLEX_VENDOR_ID;
    long pid = model->productId;
    bool vidGiven = false;
    bool pidGiven = false;
    for (int i = 1; i < argc; i += 2) {
        if (i + 1 >= argc) return Usage(std::string(argv[i]) + " needs a value");
        long value = 0;
        if (!ParseNumber(argv[i + 1], 16, 0, 0xFFFF, value)) return Usage(std::string("bad hexadecimal ID ") + argv[i + 1]);
        if (std::strcmp(argv[i], "--vid") == 0) {
            vid = value;
            vidGiven = true;
        } else if (std::strcmp(argv[i], "--pid") == 0) {
            pid = value;
            pidGiven = true;
        } else {
            return Usage(std::string("unknown option ") + argv[i]);
        }
    }
    if (model->productId == 0 && !(vidGiven && pidGiven)) return Usage("foreign needs --vid and --pid");

    ControlDevice control;
    if (int code = FromOutcome(control.Open(), "opening the control device")) return code;
    const VR_PLUG_REQUEST request{static_cast<unsigned short>(vid), static_cast<unsigned short>(pid),
                                  model->inputReportLength, model->featureReportLength};
    VR_DEVICE_INFO device{};
    if (int code = FromOutcome(control.Plug(request, device), "plug")) return code;
    if (!WaitForInterface(device, true, kTimeoutMilliseconds)) return FromOutcome(Outcome::TimedOut, "waiting for the plugged device's interface");
    return kSuccess;
}

int Unplug(int argc, char** argv) {
    const bool all = argc == 1 && std::strcmp(argv[0], "all") == 0;
    if (argc > 1 || (argc == 1 && !all)) return Usage("unplug takes nothing or 'all'");
    Session session;
    if (int code = FromOutcome(session.Open(), "reading the status")) return code;
    if (session.devices.empty()) {
        // "all" of nothing is done; the newest of nothing does not exist.
        return all ? kSuccess : Fail(kNoSuchDevice, "no virtual device is plugged");
    }
    std::vector<VR_DEVICE_INFO> going = all ? session.devices : std::vector<VR_DEVICE_INFO>{*session.Newest()};
    if (int code = FromOutcome(session.control.Unplug(all ? VR_ALL_DEVICES : going.front().serial), "unplug")) return code;
    for (const auto& device : going) {
        if (!WaitForInterface(device, false, kTimeoutMilliseconds)) return FromOutcome(Outcome::TimedOut, "waiting for the device to go");
    }
    return kSuccess;
}

int Swipe(int argc, char** argv) {
    if (argc < 3) return Usage("swipe needs three tracks (use \"\" for an empty one)");
    vorlex::SwipeTracks tracks;
    for (int t = 0; t < 3; ++t) tracks.track[t] = argv[t];
    for (int i = 3; i < argc; i += 2) {
        if (i + 1 >= argc) return Usage(std::string(argv[i]) + " needs a value");
        long value = 0;
        if (std::strcmp(argv[i], "--status") == 0) {
            std::string list = argv[i + 1];
            for (int t = 0; t < 3; ++t) {
                const size_t comma = list.find(',');
                const std::string item = list.substr(0, comma);
                if (!ParseNumber(item.c_str(), 10, -128, 127, value)) return Usage("--status needs S1,S2,S3");
                tracks.decodeStatus[t] = static_cast<int8_t>(value);
                if ((comma == std::string::npos) != (t == 2)) return Usage("--status needs S1,S2,S3");
                list = comma == std::string::npos ? "" : list.substr(comma + 1);
            }
        } else if (std::strcmp(argv[i], "--encode") == 0) {
            if (!ParseNumber(argv[i + 1], 10, -128, 127, value)) return Usage("--encode needs a number");
            tracks.encodeType = static_cast<int8_t>(value);
        } else {
            return Usage(std::string("unknown option ") + argv[i]);
        }
    }
    Session session;
    const VR_DEVICE_INFO* device = nullptr;
    if (int code = OpenWithDevice(session, device)) return code;
    const vorlex::ReaderModel* model = device->vendorId == VORLEX_VENDOR_ID ? vorlex::FindReaderModel(device->productId) : nullptr;
    std::vector<uint8_t> report(device->inputReportLength);
    report.resize(vorlex::BuildSwipeReport(model ? model->switches : vorlex::ModelSwitches{}, tracks,
                                           device->inputReportLength, report.data(), report.size()));
    return FromOutcome(session.control.InjectInput(device->serial, report), "swipe");
}

int Report(int argc, char** argv) {
    if (argc != 1) return Usage("report needs FILE or -");
    std::string text;
    FILE* in = std::strcmp(argv[0], "-") == 0 ? stdin : std::fopen(argv[0], "rb");
    if (in == nullptr) return Fail(kFailure, std::string("cannot read ") + argv[0]);
    char chunk[4096];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, in)) > 0) text.append(chunk, n);
    if (in != stdin) std::fclose(in);
    std::vector<uint8_t> report;
    if (!ParseHex(text, report) || report.empty()) return Usage("the report must be hexadecimal bytes");
    Session session;
    const VR_DEVICE_INFO* device = nullptr;
    if (int code = OpenWithDevice(session, device)) return code;
    return FromOutcome(session.control.InjectInput(device->serial, report), "report");
}

int FeatureReply(int argc, char** argv) {
    std::vector<uint8_t> reply;
    if (argc != 1 || !ParseHex(argv[0], reply) || reply.empty()) return Usage("feature-reply needs HEX bytes");
    Session session;
    const VR_DEVICE_INFO* device = nullptr;
    if (int code = OpenWithDevice(session, device)) return code;
    return FromOutcome(session.control.SetFeatureReply(device->serial, reply), "feature-reply");
}

int LastFeature(int argc) {
    if (argc != 0) return Usage("last-feature takes no arguments");
    Session session;
    const VR_DEVICE_INFO* device = nullptr;
    if (int code = OpenWithDevice(session, device)) return code;
    std::vector<uint8_t> request;
    if (int code = FromOutcome(session.control.LastFeature(device->serial, request), "last-feature")) return code;
    std::printf("%s\n", ToHex(request).c_str());
    return kSuccess;
}

int Status(int argc) {
    if (argc != 0) return Usage("status takes no arguments");
    Session session;
    if (int code = FromOutcome(session.Open(), "reading the status")) return code;
    for (const auto& device : session.devices) {
        std::printf("%s %04X %04X %s\n", ModelNameOf(device.vendorId, device.productId), device.vendorId,
                    device.productId, InterfacePathOf(device).c_str());
    }
    return kSuccess;
}

int Run(int argc, char** argv) {
    if (argc < 2) return Usage("no command");
    const std::string command = argv[1];
    const int rest = argc - 2;
    char** args = argv + 2;
    std::string error;
    if (command == "install") {
        if (rest != 0) return Usage("install takes no arguments");
        const Outcome outcome = Install(error);
        if (outcome == Outcome::TimedOut) return Fail(kTimedOut, error);
        return outcome == Outcome::Ok ? kSuccess : Fail(kFailure, "install: " + error);
    }
    if (command == "uninstall") {
        if (rest != 0) return Usage("uninstall takes no arguments");
        return Uninstall(error) == Outcome::Ok ? kSuccess : Fail(kFailure, "uninstall left something behind: " + error);
    }
    if (command == "plug") return Plug(rest, args);
    if (command == "unplug") return Unplug(rest, args);
    if (command == "swipe") return Swipe(rest, args);
    if (command == "report") return Report(rest, args);
    if (command == "feature-reply") return FeatureReply(rest, args);
    if (command == "last-feature") return LastFeature(rest);
    if (command == "status") return Status(rest);
    return Usage("unknown command " + command);
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return Run(argc, argv);
    } catch (const std::exception& e) {
        return Fail(kFailure, e.what());
    }
}

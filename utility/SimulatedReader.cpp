#include "SimulatedReader.h"

#include <string>

#include "VorlexSimulator.h"
#include "resource.h"

namespace swipebench {

namespace {

// Report sizes of the two simulated models, as their hardware declares them.
constexpr unsigned short kBasicInputReportLength = 338;
constexpr unsigned short kSecureInputReportLength = 887;
constexpr unsigned short kFeatureReportLength = 64;
constexpr int kEncodeIso = 0;
constexpr int kDecodeFailed = 1;

// Sample cards with well-known test account numbers.
const char kBankTrack1[] = "%B4111111111111111^SAMPLE/CARDHOLDER^2812101000000000000?";
const char kBankTrack2[] = ";4111111111111111=28121010000000000?";
const char kSecureTrack1[] = "%B5500000000000004^TEST/SECURE^2906201000000000000?";
const char kSecureTrack2[] = ";5500000000000004=29062010000000000?";
const char kSecureTrack3[] = ";015500000000000004=0000000000000000000000=2906?";

template <typename Fn>
bool Resolve(HMODULE module, const char* name, Fn& function) {
    function = reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
    return function != nullptr;
}

// Vorlex.dll from the folder of the module this code is in, never from the
// search path, where another copy (or a planted one) could come first.
HMODULE LoadVorlexBesideThisModule() {
    HMODULE self = nullptr;
    if (!::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                              reinterpret_cast<LPCWSTR>(&LoadVorlexBesideThisModule), &self)) {
        return nullptr;
    }
    wchar_t path[MAX_PATH];
    const DWORD length = ::GetModuleFileNameW(self, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return nullptr;
    std::wstring file(path, length);
    file.erase(file.find_last_of(L"\\/") + 1);
    file += L"Vorlex.dll";
    return ::LoadLibraryExW(file.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

}  // namespace

bool CSimulatedReader::Load() {
    vorlex_.reset(LoadVorlexBesideThisModule());
    if (!vorlex_) return false;
    bool complete = Resolve(vorlex_.get(), "VorlexSimEnable", enable_) &&
                    Resolve(vorlex_.get(), "VorlexSimAttach", attach_) &&
                    Resolve(vorlex_.get(), "VorlexSimDetach", detach_) &&
                    Resolve(vorlex_.get(), "VorlexSimSwipeTracks", swipeTracks_);
    if (!complete) {
        enable_ = nullptr;
        attach_ = nullptr;
        detach_ = nullptr;
        swipeTracks_ = nullptr;
        vorlex_.reset();
    }
    return complete;
}

bool CSimulatedReader::AppendMenuTo(HMENU systemMenu) {
    if (!IsAvailable() || !systemMenu) return false;
    UniqueMenu menu(::CreatePopupMenu());
    if (!menu) return false;
    ::AppendMenuA(menu.get(), MF_STRING, IDM_SIM_ENABLE, "&Use simulated reader");
    ::AppendMenuA(menu.get(), MF_SEPARATOR, 0, nullptr);
    ::AppendMenuA(menu.get(), MF_STRING, IDM_SIM_ATTACH_BASIC, "Attach &basic reader");
    ::AppendMenuA(menu.get(), MF_STRING, IDM_SIM_ATTACH_SECURE, "Attach &secure reader");
    ::AppendMenuA(menu.get(), MF_SEPARATOR, 0, nullptr);
    ::AppendMenuA(menu.get(), MF_STRING, IDM_SIM_SWIPE_BANK_CARD, "Swipe bank &card");
    ::AppendMenuA(menu.get(), MF_STRING, IDM_SIM_SWIPE_BAD_READ, "Swipe ba&d read");
    ::AppendMenuA(menu.get(), MF_STRING, IDM_SIM_SWIPE_ENCRYPTED, "Swipe &encrypted card");
    ::AppendMenuA(menu.get(), MF_SEPARATOR, 0, nullptr);
    ::AppendMenuA(menu.get(), MF_STRING, IDM_SIM_UNPLUG, "U&nplug reader");
    if (!::AppendMenuA(systemMenu, MF_POPUP, reinterpret_cast<UINT_PTR>(menu.get()), "Simulated reader")) {
        return false;
    }
    menu_ = menu.release();
    return true;
}

bool CSimulatedReader::Enable(bool on) {
    if (enable_(on ? 1 : 0) != 0) return false;
    enabled_ = on;
    if (menu_) ::CheckMenuItem(menu_, IDM_SIM_ENABLE, MF_BYCOMMAND | (on ? MF_CHECKED : MF_UNCHECKED));
    return true;
}

bool CSimulatedReader::Attach(unsigned short productId, unsigned short inputReportLength) {
    // A reader on the simulated bus is only found while detection walks it.
    if (!enabled_ && !Enable(true)) return false;
    return attach_(VORLEX_VENDOR_ID, productId, inputReportLength, kFeatureReportLength) == 0;
}

bool CSimulatedReader::OnSysCommand(UINT command) {
    if (!IsAvailable()) return false;
    bool done;
    switch (command) {
    case IDM_SIM_ENABLE:
        done = Enable(!enabled_);
        break;
    case IDM_SIM_ATTACH_BASIC:
        done = Attach(VORLEX_PID_BASIC_SWIPE, kBasicInputReportLength);
        break;
    case IDM_SIM_ATTACH_SECURE:
        done = Attach(VORLEX_PID_SECURE_SWIPE, kSecureInputReportLength);
        break;
    case IDM_SIM_SWIPE_BANK_CARD:
        done = swipeTracks_(kBankTrack1, kBankTrack2, "", 0, 0, 0, kEncodeIso) == 0;
        break;
    case IDM_SIM_SWIPE_BAD_READ:
        done = swipeTracks_("", kBankTrack2, "", kDecodeFailed, 0, 0, kEncodeIso) == 0;
        break;
    case IDM_SIM_SWIPE_ENCRYPTED:
        done = swipeTracks_(kSecureTrack1, kSecureTrack2, kSecureTrack3, 0, 0, 0, kEncodeIso) == 0;
        break;
    case IDM_SIM_UNPLUG:
        done = detach_() == 0;
        break;
    default:
        return false;
    }
    // A refused step (no reader open, nothing attached) only beeps: the
    // dialogs stay as they are.
    if (!done) ::MessageBeep(MB_ICONWARNING);
    return true;
}

}  // namespace swipebench

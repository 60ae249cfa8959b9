// Drives a running SwipeBench from outside, the way a user would, for the
// screenshot of the documentation:
//   swipebench_demo_driver swipe <logical device name>
//       attaches the simulated secure reader, chooses the name and swipes the
//       sample encrypted card; exits 0 once the tracks are shown
//   swipebench_demo_driver close
//       closes SwipeBench
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "resource.h"

namespace {

const char kCaption[] = "Norvik OPOS MSR Utility v1.13";

std::string Text(HWND window) {
    char text[512] = {};
    ::SendMessageA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
    return text;
}

template <typename Predicate>
bool WaitFor(Predicate predicate, DWORD timeoutMs) {
    for (DWORD start = ::GetTickCount(); !predicate();) {
        if (::GetTickCount() - start > timeoutMs) return false;
        ::Sleep(50);
    }
    return true;
}

int Fail(const char* what) {
    fprintf(stderr, "swipebench_demo_driver: %s\n", what);
    return 1;
}

int Swipe(const std::string& name) {
    HWND dialog = nullptr;
    // Visible only once its start-up (and any message box of it) is over.
    if (!WaitFor([&] { return (dialog = ::FindWindowA("#32770", kCaption)) != nullptr && ::IsWindowVisible(dialog); },
                 30000)) {
        return Fail("SwipeBench did not show");
    }
    HWND combo = ::GetDlgItem(dialog, IDC_LDN_COMBO);
    HWND status = ::GetDlgItem(dialog, IDC_STATUS);
    // Wide: the list text of another process comes back right that way under Wine.
    std::wstring wideName(name.begin(), name.end());
    int index = -1;
    int count = static_cast<int>(::SendMessageW(combo, CB_GETCOUNT, 0, 0));
    for (int i = 0; i < count && index < 0; ++i) {
        wchar_t item[256] = {};
        if (::SendMessageW(combo, CB_GETLBTEXTLEN, i, 0) < 256 &&
            ::SendMessageW(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(item)) != CB_ERR && wideName == item) {
            index = i;
        }
    }
    if (index < 0) return Fail("the logical device name is not listed");

    ::PostMessageA(dialog, WM_SYSCOMMAND, IDM_SIM_ATTACH_SECURE, 0);
    ::SendMessageA(combo, CB_SETCURSEL, index, 0);
    ::PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_LDN_COMBO, CBN_SELCHANGE), reinterpret_cast<LPARAM>(combo));
    std::string idle = "MSR Device '" + name + "' idle, ready to swipe card...";
    if (!WaitFor([&] { return Text(status) == idle; }, 15000)) return Fail(("status: " + Text(status)).c_str());

    ::PostMessageA(dialog, WM_SYSCOMMAND, IDM_SIM_SWIPE_ENCRYPTED, 0);
    std::string done = "MSR Device '" + name + "' card read Successful, ready to swipe card...";
    if (!WaitFor([&] { return Text(status) == done; }, 15000)) return Fail(("status: " + Text(status)).c_str());
    // Leave the caret out of the picture.
    ::SendMessageA(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(::GetDlgItem(dialog, IDC_CLEAR)), TRUE);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && strcmp(argv[1], "swipe") == 0) return Swipe(argv[2]);
    if (argc == 2 && strcmp(argv[1], "close") == 0) {
        HWND dialog = ::FindWindowA("#32770", kCaption);
        if (dialog) ::PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
        return dialog ? 0 : 1;
    }
    fprintf(stderr, "usage: swipebench_demo_driver swipe <logical device name> | close\n");
    return 2;
}

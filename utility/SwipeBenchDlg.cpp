#include "SwipeBenchDlg.h"

#include <windowsx.h>

#include <vector>

#include "AboutDlg.h"
#include "LDNDlg.h"
#include "LdnRegistry.h"
#include "TextFormat.h"
#include "TraceFolder.h"
#include "resource.h"

namespace swipebench {

namespace {

const char kSelectLdn[] = "Select a LDN";
const char kAddLdn[] = "Add a LDN";
constexpr long kClaimTimeout = 1000;  // milliseconds
constexpr long kPowerOnline = 2001;   // OPOS_PS_ONLINE
constexpr long kPowerOffline = 2004;  // OPOS_PS_OFF_OFFLINE
const char kReaderUnplugged[] = "Reader unplugged: waiting for it";
const char kReaderBack[] = "Reader back online";

const int kDataFields[] = {IDC_TRACK1,           IDC_TRACK2,           IDC_TRACK3,
                           IDC_TRACK1_ENCRYPTED, IDC_TRACK2_ENCRYPTED, IDC_TRACK3_ENCRYPTED,
                           IDC_SECURITY_INFO};

void FillCombo(HWND combo, const std::vector<std::string>& names) {
    ComboBox_ResetContent(combo);
    for (const std::string& name : names) ComboBox_AddString(combo, name.c_str());
}

}  // namespace

CSwipeBenchDlg::CSwipeBenchDlg(HINSTANCE instance, ControlFactory factory)
    : CDialog(instance, IDD_SWIPEBENCH_DIALOG), factory_(factory) {}

bool CSwipeBenchDlg::OnMessage(UINT message, WPARAM wParam, LPARAM, LRESULT& result) {
    switch (message) {
    case WM_INITDIALOG:
        OnInitDialog();
        result = TRUE;
        return true;
    case WM_SYSCOMMAND:
        return OnSysCommand(static_cast<UINT>(wParam & 0xFFF0));
    case WM_INITMENU:  // the system menu is about to show: a trace file may have appeared
        UpdateTraceFolderCommand(::GetSystemMenu(GetSafeHwnd(), FALSE));
        return false;
    case WM_COMMAND:
        OnCommand(LOWORD(wParam), HIWORD(wParam));
        return true;
    case WM_CLOSE:
        EndDialog(IDCANCEL);
        return true;
    case WM_DESTROY:
        OnDestroy();
        return false;
    default:
        return HandleNoDefaultButton(message, result);
    }
}

void CSwipeBenchDlg::OnInitDialog() {
    HWND dialog = GetSafeHwnd();
    if (HMENU systemMenu = ::GetSystemMenu(dialog, FALSE)) {
        ::AppendMenuA(systemMenu, MF_SEPARATOR, 0, nullptr);
        ::AppendMenuA(systemMenu, MF_STRING, IDM_ABOUTBOX, "&About SwipeBench...");
        if (simulator_.Load()) simulator_.AppendMenuTo(systemMenu);
        UpdateTraceFolderCommand(systemMenu);
    }

    bigIcon_.reset(static_cast<HICON>(::LoadImageA(Instance(), MAKEINTRESOURCEA(IDR_MAINFRAME), IMAGE_ICON,
                                                   ::GetSystemMetrics(SM_CXICON),
                                                   ::GetSystemMetrics(SM_CYICON), 0)));
    smallIcon_.reset(static_cast<HICON>(::LoadImageA(Instance(), MAKEINTRESOURCEA(IDR_MAINFRAME), IMAGE_ICON,
                                                     ::GetSystemMetrics(SM_CXSMICON),
                                                     ::GetSystemMetrics(SM_CYSMICON), 0)));
    ::SendMessageA(dialog, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(bigIcon_.get()));
    ::SendMessageA(dialog, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_.get()));

    // The status line: "MS Sans Serif" at 8.4 points, semi-bold.
    LOGFONTA font = {};
    HDC screen = ::GetDC(nullptr);
    font.lfHeight = -::MulDiv(84, ::GetDeviceCaps(screen, LOGPIXELSY), 720);
    ::ReleaseDC(nullptr, screen);
    font.lfWeight = FW_SEMIBOLD;
    font.lfCharSet = DEFAULT_CHARSET;
    ::lstrcpynA(font.lfFaceName, "MS Sans Serif", LF_FACESIZE);
    statusFont_.reset(::CreateFontIndirectA(&font));
    if (statusFont_) {
        ::SendMessageA(Item(IDC_STATUS), WM_SETFONT, reinterpret_cast<WPARAM>(statusFont_.get()), FALSE);
    }
    comboFonts_.Create(dialog);
    SetPlaceholder(true);

    HRESULT hr = msr_.Create(factory_, this);
    if (!msr_.IsBound()) {
        SetStatus(FormatText("The OPOS MSR control object is not available (0x%08lX).",
                             static_cast<unsigned long>(hr)));
    }

    std::vector<std::string> names = LoadLogicalDeviceNames(dialog);
    hasNames_ = !names.empty();
    if (hasNames_) FillCombo(Item(IDC_LDN_COMBO), names);
    ShowPlaceholder(hasNames_ ? kSelectLdn : kAddLdn);
}

bool CSwipeBenchDlg::OnSysCommand(UINT command) {
    if (command == IDM_ABOUTBOX) {
        CAboutDlg(Instance()).DoModal(GetSafeHwnd());
        return true;
    }
    if (command == IDM_OPEN_TRACE_FOLDER) {
        OpenTraceFolder(GetSafeHwnd());
        return true;
    }
    return simulator_.OnSysCommand(command);
}

void CSwipeBenchDlg::OnDestroy() {
    // Releasing the control closes the device; Close is not called here.
    msr_.Destroy();
}

void CSwipeBenchDlg::OnCommand(int id, int code) {
    switch (id) {
    case IDC_LDN_COMBO:
        if (code == CBN_SELCHANGE) OnLdnSelChange();
        else if (code == CBN_DROPDOWN) OnLdnDropDown();
        else if (code == CBN_CLOSEUP) OnLdnCloseUp();
        break;
    case IDC_LDN_BUTTON:
        if (code == BN_CLICKED) OnLdnButton();
        break;
    case IDC_CLEAR:
        if (code == BN_CLICKED) ClearDataFields();
        break;
    case IDCANCEL:
        EndDialog(IDCANCEL);
        break;
    default:
        break;  // IDOK from the Enter key is dropped
    }
}

void CSwipeBenchDlg::SetPlaceholder(bool on) {
    placeholder_ = on;
    comboFonts_.Apply(Item(IDC_LDN_COMBO), on);
}

void CSwipeBenchDlg::ShowPlaceholder(const char* text) {
    SetPlaceholder(true);
    ::SetWindowTextA(Item(IDC_LDN_COMBO), text);
}

void CSwipeBenchDlg::OnLdnDropDown() {
    if (!placeholder_) return;
    SetPlaceholder(false);
    ::SetWindowTextA(Item(IDC_LDN_COMBO), "");
}

void CSwipeBenchDlg::OnLdnCloseUp() {
    if (ComboBox_GetCurSel(Item(IDC_LDN_COMBO)) == CB_ERR) {
        ShowPlaceholder(hasNames_ ? kSelectLdn : kAddLdn);
    } else {
        SetPlaceholder(false);
    }
}

void CSwipeBenchDlg::OnLdnSelChange() {
    HWND combo = Item(IDC_LDN_COMBO);
    std::string name = GetComboSelectionText(combo);
    if (placeholder_) {
        SetPlaceholder(false);
        ::SetWindowTextA(combo, name.c_str());
    }
    if (name.empty() || name == kSelectLdn) return;
    selectedName_ = name;

    if (opened_) {
        lastResult_ = msr_.Close();
        if (lastResult_ != 0) ReportFailedStep("Close", true);
        else opened_ = false;  // a later failed Open must not lead to a second Close
    }
    ClearDataFields();

    lastResult_ = msr_.Open(name);
    if (lastResult_ != 0) {
        ReportFailedStep("Open", true);
        return;
    }
    opened_ = true;
    lastResult_ = msr_.ClaimDevice(kClaimTimeout);
    if (lastResult_ != 0) {
        ReportFailedStep("Claim", true);
        return;
    }
    // Where the service object reports power, the status line follows the reader.
    const bool powerReporting = msr_.GetCapPowerReporting() != 0;
    if (powerReporting) msr_.SetPowerNotify(1);
    msr_.SetDeviceEnabled(true);
    if (msr_.GetResultCode() != 0) {
        ReportFailedStep("DeviceEnabled", false);
        return;
    }
    msr_.SetDataEventEnabled(true);
    if (msr_.GetResultCode() != 0) {
        ReportFailedStep("DataEventEnabled", false);
        return;
    }
    if (powerReporting && msr_.GetPowerState() == kPowerOffline) {
        SetStatus(FormatText("MSR Device '%s' %s", name.c_str(), kReaderUnplugged));
        return;
    }
    SetStatus(FormatText("MSR Device '%s' idle, ready to swipe card...", name.c_str()));
}

void CSwipeBenchDlg::ReportFailedStep(const char* step, bool withValue) {
    lastResultCode_ = msr_.GetResultCode();
    lastResultCodeExtended_ = msr_.GetResultCodeExtended();
    std::string text =
        withValue ? FormatText("%s: %s Error: VAL=%ld, RC=%ld, RCE=%ld ", selectedName_.c_str(), step,
                               lastResult_, lastResultCode_, lastResultCodeExtended_)
                  : FormatText("%s: %s Error: RC=%ld, RCE=%ld ", selectedName_.c_str(), step,
                               lastResultCode_, lastResultCodeExtended_);
    ::MessageBoxA(GetSafeHwnd(), text.c_str(), kMessageCaption, MB_OK);
    SetStatus(FormatText("MSR Device '%s' Error: %s", selectedName_.c_str(), step));
}

void CSwipeBenchDlg::OnLdnButton() {
    CLDNDlg(Instance()).DoModal(GetSafeHwnd());

    HWND combo = Item(IDC_LDN_COMBO);
    std::string text = GetItemText(IDC_LDN_COMBO);
    std::vector<std::string> names = LoadLogicalDeviceNames(GetSafeHwnd());
    hasNames_ = !names.empty();
    FillCombo(combo, names);  // also empties the edit part
    if (!hasNames_) {
        ShowPlaceholder(kAddLdn);
    } else if (placeholder_) {
        ShowPlaceholder(kSelectLdn);
    } else {
        ::SetWindowTextA(combo, text.c_str());
    }
}

void CSwipeBenchDlg::ClearDataFields() {
    for (int id : kDataFields) SetItemText(id, "");
}

void CSwipeBenchDlg::SetStatus(const std::string& text) { SetItemText(IDC_STATUS, text); }

void CSwipeBenchDlg::OnDataEvent(long) {
    ClearDataFields();
    SetItemTextW(IDC_TRACK1, msr_.GetTrack1Data());
    SetItemTextW(IDC_TRACK2, msr_.GetTrack2Data());
    SetItemTextW(IDC_TRACK3, msr_.GetTrack3Data());
    SetItemTextW(IDC_TRACK1_ENCRYPTED, msr_.GetTrack1EncryptedData());
    SetItemTextW(IDC_TRACK2_ENCRYPTED, msr_.GetTrack2EncryptedData());
    SetItemTextW(IDC_TRACK3_ENCRYPTED, msr_.GetTrack3EncryptedData());
    SetItemTextW(IDC_SECURITY_INFO, msr_.GetAdditionalSecurityInformation());
    // Re-arm, so that the next swipe is delivered without any user action.
    msr_.SetDataEventEnabled(true);
    SetStatus(FormatText("MSR Device '%s' card read Successful, ready to swipe card...",
                         selectedName_.c_str()));
}

void CSwipeBenchDlg::OnStatusUpdateEvent(long status) {
    if (status == kPowerOffline) {
        SetStatus(FormatText("MSR Device '%s' %s", selectedName_.c_str(), kReaderUnplugged));
    } else if (status == kPowerOnline) {
        SetStatus(FormatText("MSR Device '%s' %s, ready to swipe card...", selectedName_.c_str(), kReaderBack));
    }
}

void CSwipeBenchDlg::OnErrorEvent(long resultCode, long resultCodeExtended, long errorLocus,
                                  long* errorResponse) {
    std::string text = FormatText("ErrorEvent: RC=%ld, RCE=%ld, EL=%ld, ER=%ld ", resultCode,
                                  resultCodeExtended, errorLocus, *errorResponse);
    ::MessageBoxA(GetSafeHwnd(), text.c_str(), kMessageCaption, MB_OK);
    SetStatus(FormatText("MSR Device '%s' card read Failure, re-swipe card...", selectedName_.c_str()));
}

}  // namespace swipebench

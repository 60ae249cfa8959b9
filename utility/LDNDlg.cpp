#include "LDNDlg.h"

#include <windowsx.h>

#include <algorithm>
#include <cstdio>

#include "LdnRegistry.h"
#include "resource.h"

namespace swipebench {

namespace {

const char kSelectDevice[] = "Select a Device";

std::string TrimBlanks(const std::string& text) {
    const char* blanks = " \t\r\n";
    size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos) return std::string();
    size_t last = text.find_last_not_of(blanks);
    return text.substr(first, last - first + 1);
}

}  // namespace

CLDNDlg::CLDNDlg(HINSTANCE instance) : CDialog(instance, IDD_LDN_DIALOG) {}

bool CLDNDlg::OnMessage(UINT message, WPARAM wParam, LPARAM, LRESULT& result) {
    switch (message) {
    case WM_INITDIALOG:
        OnInitDialog();
        result = TRUE;
        return true;
    case WM_COMMAND:
        OnCommand(LOWORD(wParam), HIWORD(wParam));
        return true;
    case WM_CLOSE:
        OnCancel();
        return true;
    default:
        return HandleNoDefaultButton(message, result);
    }
}

void CLDNDlg::OnInitDialog() {
    fonts_.Create(GetSafeHwnd());
    SetPlaceholder(true);
    keyOpen_ = false;

    std::vector<std::string> deviceKeys;
    UniqueHKey key;
    if (OpenMsrKey(key) == ERROR_SUCCESS) {
        for (const std::string& name : EnumSubkeyNames(key.get())) {
            if (IsDeviceKeyName(name)) deviceKeys.push_back(name);
        }
        key.reset();
    }
    if (deviceKeys.empty()) {
        char text[64];
        snprintf(text, sizeof text, "No Devices registered: 0x%08d ", 1);
        ::MessageBoxA(GetSafeHwnd(), text, kMessageCaption, MB_OK | MB_ICONERROR);
        EndDialog(0);
        return;
    }
    HWND combo = Item(IDC_DEVICE_KEY_COMBO);
    for (const std::string& name : deviceKeys) ComboBox_AddString(combo, name.c_str());
    ::SetWindowTextA(combo, kSelectDevice);
}

void CLDNDlg::OnCommand(int id, int code) {
    switch (id) {
    case IDC_DEVICE_KEY_COMBO:
        if (code == CBN_SELCHANGE) OnDeviceKeySelChange();
        else if (code == CBN_DROPDOWN) OnDeviceKeyDropDown();
        else if (code == CBN_CLOSEUP) OnDeviceKeyCloseUp();
        break;
    case IDC_ADD_LDN:
        if (code == BN_CLICKED) OnAddLdn();
        break;
    case IDC_DELETE_LDN:
        if (code == BN_CLICKED) OnDeleteLdn();
        break;
    case IDCANCEL:
        OnCancel();
        break;
    default:
        break;  // IDOK from the Enter key is dropped
    }
}

void CLDNDlg::SetPlaceholder(bool on) {
    placeholder_ = on;
    fonts_.Apply(Item(IDC_DEVICE_KEY_COMBO), on);
}

void CLDNDlg::OnDeviceKeyDropDown() {
    if (!placeholder_) return;
    SetPlaceholder(false);
    ::SetWindowTextA(Item(IDC_DEVICE_KEY_COMBO), "");
}

void CLDNDlg::OnDeviceKeyCloseUp() {
    HWND combo = Item(IDC_DEVICE_KEY_COMBO);
    if (ComboBox_GetCurSel(combo) == CB_ERR) {
        SetPlaceholder(true);
        ::SetWindowTextA(combo, kSelectDevice);
    } else {
        SetPlaceholder(false);
    }
}

void CLDNDlg::OnDeviceKeySelChange() {
    // The edit part still shows the previous text here: take the list's.
    std::string chosen = GetComboSelectionText(Item(IDC_DEVICE_KEY_COMBO));
    if (chosen.empty() || chosen == kSelectDevice) return;
    if (placeholder_) SetPlaceholder(false);
    currentKey_ = chosen;
    RefreshAliasList();
}

void CLDNDlg::RefreshAliasList() {
    LoadAliases();
    keyOpen_ = true;
    FillListBox();
}

void CLDNDlg::LoadAliases() {
    // Kept open for the writes of OnOK.
    if (OpenMsrKey(msrKey_, KEY_READ | KEY_SET_VALUE) != ERROR_SUCCESS) {
        ShowRegistryOpenError(GetSafeHwnd());
        return;  // the list keeps showing the arrays as they were
    }
    names_.clear();
    targets_.clear();
    for (const std::string& name : EnumValueNames(msrKey_.get())) {
        std::string data;
        if (ReadValueText(msrKey_.get(), name.c_str(), data) && IsDeviceKeyName(data) &&
            data == currentKey_) {
            names_.push_back(name);
            targets_.push_back(data);
        }
    }
    snapshotNames_ = names_;
    snapshotTargets_ = targets_;
}

void CLDNDlg::FillListBox() {
    HWND list = Item(IDC_LDN_LIST);
    ListBox_ResetContent(list);
    for (size_t i = 0; i < names_.size(); ++i) {
        if (targets_[i] == currentKey_) ListBox_AddString(list, names_[i].c_str());
    }
}

void CLDNDlg::FocusNameField(bool empty) {
    HWND field = Item(IDC_LDN_NAME);
    if (empty) ::SetWindowTextA(field, "");
    ::SendMessageA(GetSafeHwnd(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(field), TRUE);
}

bool CLDNDlg::ValueNameExists(const std::string& name) const {
    UniqueHKey key;
    if (OpenMsrKey(key) != ERROR_SUCCESS) return false;
    std::vector<std::string> existing = EnumValueNames(key.get());
    return std::find(existing.begin(), existing.end(), name) != existing.end();
}

void CLDNDlg::OnAddLdn() {
    std::string name = TrimBlanks(GetItemText(IDC_LDN_NAME));
    if (name.empty()) {
        FocusNameField(true);
        return;
    }
    // Without a device key the alias would point nowhere.
    if (currentKey_.empty()) {
        ::MessageBoxA(GetSafeHwnd(), "Please select a Master Key before adding a LDN.",
                      kMessageCaption, MB_OK | MB_ICONEXCLAMATION);
        ::SendMessageA(GetSafeHwnd(), WM_NEXTDLGCTL,
                       reinterpret_cast<WPARAM>(Item(IDC_DEVICE_KEY_COMBO)), TRUE);
        return;
    }
    if (ValueNameExists(name)) {
        char text[512];
        snprintf(text, sizeof text,
                 "The Logical Device Name  '%s'  already      \nexists.  Please use a different name.",
                 name.c_str());
        ::MessageBoxA(GetSafeHwnd(), text, kMessageCaption, MB_OK | MB_ICONERROR);
        FocusNameField(true);
        return;
    }
    names_.push_back(name);
    targets_.push_back(currentKey_);
    FillListBox();
    FocusNameField(true);
    WriteBack();
    RefreshAliasList();
}

void CLDNDlg::OnDeleteLdn() {
    HWND list = Item(IDC_LDN_LIST);
    int index = ListBox_GetCurSel(list);
    if (index == LB_ERR) return;
    int length = ListBox_GetTextLen(list, index);
    if (length < 0) return;
    std::string selected(static_cast<size_t>(length) + 1, '\0');
    ListBox_GetText(list, index, &selected[0]);
    selected.resize(strlen(selected.c_str()));

    std::string question = "Are you sure you want to delet LDN '" + selected + "' ?";
    if (::MessageBoxA(GetSafeHwnd(), question.c_str(), kMessageCaption,
                      MB_YESNO | MB_ICONQUESTION) != IDYES) {
        return;
    }
    auto found = std::find(names_.begin(), names_.end(), selected);
    if (found != names_.end()) {
        targets_.erase(targets_.begin() + (found - names_.begin()));
        names_.erase(found);
    }
    WriteBack();
    RefreshAliasList();
}

void CLDNDlg::WriteBack() {
    // Only the aliases of the current key as last loaded are replaced: every
    // other value under the MSR key stays as it is.
    for (const std::string& name : snapshotNames_) ::RegDeleteValueA(msrKey_.get(), name.c_str());
    for (size_t i = 0; i < names_.size(); ++i) {
        const std::string& target = targets_[i];
        ::RegSetValueExA(msrKey_.get(), names_[i].c_str(), 0, REG_SZ,
                         reinterpret_cast<const BYTE*>(target.c_str()),
                         static_cast<DWORD>(target.size() + 1));
    }
    msrKey_.reset();
}

void CLDNDlg::OnCancel() {
    if (keyOpen_) msrKey_.reset();
    EndDialog(IDCANCEL);
}

}  // namespace swipebench

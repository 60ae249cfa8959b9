#include "Dialog.h"

#include <vector>

namespace swipebench {

INT_PTR CDialog::DoModal(HWND parent) {
    return ::DialogBoxParamA(instance_, MAKEINTRESOURCEA(templateId_), parent, DialogProc,
                             reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK CDialog::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    CDialog* self;
    if (message == WM_INITDIALOG) {
        self = reinterpret_cast<CDialog*>(lParam);
        self->hwnd_ = hwnd;
        ::SetWindowLongPtrA(hwnd, DWLP_USER, lParam);
    } else {
        self = reinterpret_cast<CDialog*>(::GetWindowLongPtrA(hwnd, DWLP_USER));
    }
    if (!self) return FALSE;

    LRESULT result = 0;
    bool handled = self->OnMessage(message, wParam, lParam, result);
    if (message == WM_NCDESTROY) {
        ::SetWindowLongPtrA(hwnd, DWLP_USER, 0);
        self->hwnd_ = nullptr;
    }
    if (!handled) return FALSE;
    // WM_INITDIALOG answers through its return value (focus), the rest through DWLP_MSGRESULT.
    if (message == WM_INITDIALOG) return static_cast<INT_PTR>(result);
    ::SetWindowLongPtrA(hwnd, DWLP_MSGRESULT, result);
    return TRUE;
}

std::string CDialog::GetItemText(int id) const {
    HWND item = Item(id);
    int length = ::GetWindowTextLengthA(item);
    if (length <= 0) return std::string();
    std::vector<char> buffer(static_cast<size_t>(length) + 1);
    int copied = ::GetWindowTextA(item, buffer.data(), length + 1);
    return std::string(buffer.data(), copied > 0 ? static_cast<size_t>(copied) : 0);
}

void CDialog::SetItemText(int id, const std::string& text) const {
    ::SetDlgItemTextA(hwnd_, id, text.c_str());
}

void CDialog::SetItemTextW(int id, const std::wstring& text) const {
    ::SetDlgItemTextW(hwnd_, id, text.c_str());
}

bool CDialog::HandleNoDefaultButton(UINT message, LRESULT& result) {
    if (message != DM_GETDEFID) return false;
    result = 0;  // no default button: Enter then arrives as IDOK, which is ignored
    return true;
}

std::string GetComboSelectionText(HWND combo) {
    int index = static_cast<int>(::SendMessageA(combo, CB_GETCURSEL, 0, 0));
    if (index == CB_ERR) return std::string();
    int length = static_cast<int>(::SendMessageA(combo, CB_GETLBTEXTLEN, index, 0));
    if (length <= 0) return std::string();
    std::vector<char> buffer(static_cast<size_t>(length) + 1);
    ::SendMessageA(combo, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(buffer.data()));
    return std::string(buffer.data());
}

void CPlaceholderFonts::Create(HWND dialog) {
    LOGFONTA font = {};
    HFONT dialogFont = reinterpret_cast<HFONT>(::SendMessageA(dialog, WM_GETFONT, 0, 0));
    if (!dialogFont || !::GetObjectA(dialogFont, sizeof font, &font)) {
        ::lstrcpynA(font.lfFaceName, "MS Shell Dlg", LF_FACESIZE);
        font.lfCharSet = DEFAULT_CHARSET;
    }
    HDC screen = ::GetDC(nullptr);
    font.lfHeight = -::MulDiv(8, ::GetDeviceCaps(screen, LOGPIXELSY), 72);
    ::ReleaseDC(nullptr, screen);
    font.lfWidth = 0;
    font.lfWeight = FW_NORMAL;
    font.lfItalic = FALSE;
    upright_.reset(::CreateFontIndirectA(&font));
    font.lfItalic = TRUE;
    italic_.reset(::CreateFontIndirectA(&font));
}

void CPlaceholderFonts::Apply(HWND combo, bool italic) const {
    HFONT font = italic ? italic_.get() : upright_.get();
    if (font) ::SendMessageA(combo, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
}

}  // namespace swipebench

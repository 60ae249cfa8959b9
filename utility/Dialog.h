// A modal dialog over a dialog template. The dialog procedure keeps `this` in
// DWLP_USER and hands every message to the derived class.
#pragma once

#include <windows.h>

#include <string>

#include "UtilityHandles.h"

namespace swipebench {

class CDialog {
public:
    CDialog(const CDialog&) = delete;
    CDialog& operator=(const CDialog&) = delete;

    // Runs the dialog modally; returns its result, or -1 when it could not be created.
    INT_PTR DoModal(HWND parent = nullptr);
    HWND GetSafeHwnd() const { return hwnd_; }

protected:
    CDialog(HINSTANCE instance, UINT templateId) : instance_(instance), templateId_(templateId) {}
    virtual ~CDialog() = default;

    // Returns true when the message was handled; `result` then goes to DWLP_MSGRESULT.
    virtual bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) = 0;

    HINSTANCE Instance() const { return instance_; }
    HWND Item(int id) const { return ::GetDlgItem(hwnd_, id); }
    std::string GetItemText(int id) const;
    void SetItemText(int id, const std::string& text) const;
    void SetItemTextW(int id, const std::wstring& text) const;
    void EndDialog(INT_PTR result) const { ::EndDialog(hwnd_, result); }

    // Enter is not a dialog key here: no button is the default, and the
    // IDOK that the dialog manager sends for Enter is dropped by the caller.
    static bool HandleNoDefaultButton(UINT message, LRESULT& result);

private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

    HINSTANCE instance_;
    UINT templateId_;
    HWND hwnd_ = nullptr;
};

// Text of the combo box's selected list item; empty when none is selected.
// (During CBN_SELCHANGE the edit part still shows the previous text.)
std::string GetComboSelectionText(HWND combo);

// The upright and italic 8-point variants of a dialog's font, for combo boxes
// that show a placeholder text in italics.
class CPlaceholderFonts {
public:
    void Create(HWND dialog);
    void Apply(HWND combo, bool italic) const;

private:
    UniqueFont upright_;
    UniqueFont italic_;
};

}  // namespace swipebench

#include "AboutDlg.h"

#include "resource.h"

namespace swipebench {

CAboutDlg::CAboutDlg(HINSTANCE instance) : CDialog(instance, IDD_ABOUTBOX) {}

bool CAboutDlg::OnMessage(UINT message, WPARAM wParam, LPARAM, LRESULT& result) {
    switch (message) {
    case WM_INITDIALOG:
        result = TRUE;
        return true;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) EndDialog(LOWORD(wParam));
        return true;
    default:
        return false;
    }
}

}  // namespace swipebench

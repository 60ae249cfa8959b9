#include "SwipeBenchApp.h"

#include <commctrl.h>
#include <ole2.h>

#include "SwipeBenchDlg.h"

namespace swipebench {

namespace {

// OLE for the thread's lifetime in this scope: the control object lives in
// this single-threaded apartment and raises its events on this thread.
class OleScope {
public:
    OleScope() : hr_(::OleInitialize(nullptr)) {}
    ~OleScope() {
        if (SUCCEEDED(hr_)) ::OleUninitialize();
    }
    OleScope(const OleScope&) = delete;
    OleScope& operator=(const OleScope&) = delete;
    HRESULT Result() const { return hr_; }

private:
    HRESULT hr_;
};

}  // namespace

int CSwipeBenchApp::Run(ControlFactory factory) {
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
    ::InitCommonControlsEx(&controls);
    OleScope ole;
    if (FAILED(ole.Result())) return 1;
    CSwipeBenchDlg dialog(instance_, factory);
    return dialog.DoModal() == -1 ? 1 : 0;
}

}  // namespace swipebench

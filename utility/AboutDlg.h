// The "About SwipeBench" box.
#pragma once

#include "Dialog.h"

namespace swipebench {

class CAboutDlg : public CDialog {
public:
    explicit CAboutDlg(HINSTANCE instance);

private:
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
};

}  // namespace swipebench

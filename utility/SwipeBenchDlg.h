// The main dialog "Norvik OPOS MSR Utility v1.13": picks a logical device
// name, opens, claims and enables it through the MSR control, and shows the
// tracks of every swipe and the control's error events.
#pragma once

#include <string>

#include "Dialog.h"
#include "Msr1.h"
#include "SimulatedReader.h"

namespace swipebench {

class CSwipeBenchDlg : public CDialog, private IMsrEventHandler {
public:
    // `factory` creates the control object; null binds to the registered one.
    explicit CSwipeBenchDlg(HINSTANCE instance, ControlFactory factory = nullptr);

private:
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
    void OnInitDialog();
    bool OnSysCommand(UINT command);
    void OnCommand(int id, int code);
    void OnLdnSelChange();
    void OnLdnDropDown();
    void OnLdnCloseUp();
    void OnLdnButton();
    void OnDestroy();

    void OnDataEvent(long status) override;
    void OnStatusUpdateEvent(long status) override;
    void OnErrorEvent(long resultCode, long resultCodeExtended, long errorLocus,
                      long* errorResponse) override;

    void ReportFailedStep(const char* step, bool withValue);
    void ShowPlaceholder(const char* text);
    void SetPlaceholder(bool on);
    void ClearDataFields();
    void SetStatus(const std::string& text);

    ControlFactory factory_;
    CMsr1 msr_;
    CSimulatedReader simulator_;
    CPlaceholderFonts comboFonts_;
    UniqueFont statusFont_;
    UniqueIcon bigIcon_;
    UniqueIcon smallIcon_;

    bool placeholder_ = true;
    bool hasNames_ = false;
    bool opened_ = false;               // the control holds an open device
    long lastResult_ = 0;               // of the last Close, Open or ClaimDevice
    long lastResultCode_ = 0;
    long lastResultCodeExtended_ = 0;
    std::string selectedName_;
};

}  // namespace swipebench

// The "Logical Device Name (LDN)" dialog: lists the device keys under the MSR
// key, shows the aliases of the chosen one, and adds and deletes aliases.
#pragma once

#include <string>
#include <vector>

#include "Dialog.h"

namespace swipebench {

class CLDNDlg : public CDialog {
public:
    explicit CLDNDlg(HINSTANCE instance);

private:
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
    void OnInitDialog();
    void OnCommand(int id, int code);
    void OnDeviceKeySelChange();
    void OnDeviceKeyDropDown();
    void OnDeviceKeyCloseUp();
    void OnAddLdn();
    void OnDeleteLdn();
    void OnCancel();

    void RefreshAliasList();
    void LoadAliases();
    void FillListBox();
    void WriteBack();
    bool ValueNameExists(const std::string& name) const;
    void SetPlaceholder(bool on);
    void FocusNameField(bool empty);

    CPlaceholderFonts fonts_;
    bool placeholder_ = true;
    bool keyOpen_ = false;
    UniqueHKey msrKey_;          // held from a load until the next write-back
    std::string currentKey_;     // empty until a device key is chosen
    std::vector<std::string> names_;
    std::vector<std::string> targets_;
    std::vector<std::string> snapshotNames_;    // as last loaded: what write-back removes
    std::vector<std::string> snapshotTargets_;
};

}  // namespace swipebench

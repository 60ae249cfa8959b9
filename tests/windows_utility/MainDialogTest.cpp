// The main dialog over a scripted control: start-up listing and placeholders,
// the open/claim/enable sequence with every failing step, data and error
// events, the buttons, the system menu and the keyboard.
#include <fstream>
#include <gtest/gtest.h>

#include <windows.h>

#include "FakeMsrControl.h"
#include "RegistrySandbox.h"
#include "SwipeBenchDlg.h"
#include "UiDriver.h"
#include "resource.h"

using uitest::DialogThread;
using uitest::MessageBoxInfo;
using uitest::Script;
using Calls = std::vector<std::string>;

namespace {

const char kCaption[] = "Norvik OPOS MSR Utility v1.13";
const Calls kEnableSteps = {"ClaimDevice(1000)", "DeviceEnabled=true", "ResultCode?", "DataEventEnabled=true",
                            "ResultCode?"};
const int kDataFields[] = {IDC_TRACK1,           IDC_TRACK2,           IDC_TRACK3,       IDC_TRACK1_ENCRYPTED,
                           IDC_TRACK2_ENCRYPTED, IDC_TRACK3_ENCRYPTED, IDC_SECURITY_INFO};

Calls Concat(Calls first, const Calls& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

class MainDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        uitest::ResetScript();
        registry_.Reset({"Norvik_MSR-1", "Norvik_MSR-2"});
        registry_.SetString("Lane1", "Norvik_MSR-1");
        registry_.SetString("Printer", "Some other device");
        registry_.SetString("Back office", "Norvik_MSR-2");
        registry_.SetString("Lower", "norvik_msr-1");
        registry_.SetString("Longer", "Norvik_MSR-2x");
        registry_.SetDword("Counter", 1);
        registry_.SetString("Lane2", "Norvik_MSR-1");
    }

    void TearDown() override {
        thread_.reset();
        EXPECT_FALSE(Script().created && !Script().released) << "the control was not released";
    }

    void Open(swipebench::ControlFactory factory = uitest::CreateFakeControl) {
        thread_ = std::make_unique<DialogThread>([factory] {
            return swipebench::CSwipeBenchDlg(::GetModuleHandleA(nullptr), factory).DoModal(nullptr);
        });
        dialog_ = thread_->WaitForWindow(kCaption);
        ASSERT_NE(dialog_, nullptr) << "the dialog did not show";
        ASSERT_TRUE(thread_->Settle());
    }

    HWND Item(int id) const { return ::GetDlgItem(dialog_, id); }
    std::string Text(int id) const { return uitest::WindowText(Item(id)); }

    void Choose(const std::string& name) {
        auto items = uitest::ComboItems(Item(IDC_LDN_COMBO));
        auto found = std::find(items.begin(), items.end(), name);
        ASSERT_NE(found, items.end()) << name << " is not listed";
        ASSERT_TRUE(uitest::ChooseComboItem(*thread_, dialog_, IDC_LDN_COMBO, static_cast<int>(found - items.begin())));
    }

    // The message box now shown, which is then closed with OK.
    std::string TakeBox(const char* caption = "Norvik OPOS MSR Utility") {
        auto box = thread_->CurrentMessageBox();
        if (!box) {
            ADD_FAILURE() << "no message box is shown";
            return std::string();
        }
        EXPECT_EQ(box->caption, caption);
        EXPECT_TRUE(box->hasOk);
        EXPECT_FALSE(box->hasYesNo);
        EXPECT_TRUE(thread_->Answer(*box, IDOK));
        return box->text;
    }

    void ExpectNoBox() {
        auto box = thread_->CurrentMessageBox();
        EXPECT_FALSE(box) << "unexpected box: " << box->text;
    }

    void FillDataFields(const char* text) {
        for (int id : kDataFields) ::SetWindowTextA(Item(id), text);
    }

    std::vector<std::string> DataFields() const {
        std::vector<std::string> texts;
        for (int id : kDataFields) texts.push_back(Text(id));
        return texts;
    }

    uitest::RegistrySandbox registry_;
    std::unique_ptr<DialogThread> thread_;
    HWND dialog_ = nullptr;
};

TEST_F(MainDialogTest, StartsWithTheExactAliasesOfBothKeysInRegistryOrder) {
    Open();
    ExpectNoBox();
    // In the order the registry enumerates them (creation order on Windows,
    // name order on Wine), whatever the key.
    std::vector<std::string> expected;
    for (const auto& value : registry_.Values()) {
        if (value.second == "Norvik_MSR-1" || value.second == "Norvik_MSR-2") expected.push_back(value.first);
    }
    ASSERT_EQ(expected.size(), 3u);
    EXPECT_EQ(uitest::ComboItems(Item(IDC_LDN_COMBO)), expected);
    EXPECT_EQ(Text(IDC_LDN_COMBO), "Select a LDN");
    EXPECT_TRUE(uitest::WindowFont(Item(IDC_LDN_COMBO)).italic);
    EXPECT_EQ(Text(IDC_STATUS), "");
    EXPECT_TRUE(Script().created);
    EXPECT_TRUE(Script().Calls().empty());
    EXPECT_NE(::SendMessageA(dialog_, WM_GETICON, ICON_BIG, 0), 0);
    EXPECT_NE(::SendMessageA(dialog_, WM_GETICON, ICON_SMALL, 0), 0);
}

TEST_F(MainDialogTest, StatusLineUsesSemiBoldMsSansSerifAtEightPointFour) {
    Open();
    uitest::FontInfo font = uitest::WindowFont(Item(IDC_STATUS));
    ASSERT_TRUE(font.valid);
    EXPECT_EQ(font.face, "MS Sans Serif");
    EXPECT_EQ(font.weight, 600);
    HDC screen = ::GetDC(nullptr);
    EXPECT_EQ(font.height, -::MulDiv(84, ::GetDeviceCaps(screen, LOGPIXELSY), 720));
    ::ReleaseDC(nullptr, screen);
    EXPECT_FALSE(uitest::WindowFont(Item(IDC_TRACK1)).italic);
}

TEST_F(MainDialogTest, PlaceholderGoesOnDropDownAndReturnsWhenNothingIsChosen) {
    registry_.Reset({"Norvik_MSR-1"});
    Open();
    HWND combo = Item(IDC_LDN_COMBO);
    EXPECT_TRUE(uitest::ComboItems(combo).empty());
    EXPECT_EQ(uitest::WindowText(combo), "Add a LDN");
    EXPECT_TRUE(uitest::WindowFont(combo).italic);
    ::SendMessageA(combo, CB_SHOWDROPDOWN, TRUE, 0);
    EXPECT_EQ(uitest::WindowText(combo), "");
    EXPECT_FALSE(uitest::WindowFont(combo).italic);
    ::SendMessageA(combo, CB_SHOWDROPDOWN, FALSE, 0);
    EXPECT_EQ(uitest::WindowText(combo), "Add a LDN");
    EXPECT_TRUE(uitest::WindowFont(combo).italic);
    EXPECT_TRUE(Script().Calls().empty());
}

TEST_F(MainDialogTest, MissingMsrKeyIsReportedAndLeavesTheListEmpty) {
    registry_.DeleteKey();
    thread_ = std::make_unique<DialogThread>([] {
        return swipebench::CSwipeBenchDlg(::GetModuleHandleA(nullptr), uitest::CreateFakeControl).DoModal(nullptr);
    });
    std::optional<MessageBoxInfo> box;
    ASSERT_TRUE(uitest::WaitUntil([&] { return (box = thread_->CurrentMessageBox()).has_value(); }));
    EXPECT_EQ(box->caption, "Registry Operation Error");
    EXPECT_EQ(box->text, "ERROR: Open-1");
    EXPECT_TRUE(box->hasOk);
    ::PostMessageA(box->hwnd, WM_COMMAND, IDOK, 0);
    dialog_ = thread_->WaitForWindow(kCaption);
    ASSERT_NE(dialog_, nullptr);
    ASSERT_TRUE(thread_->Settle());
    EXPECT_TRUE(uitest::ComboItems(Item(IDC_LDN_COMBO)).empty());
    EXPECT_EQ(Text(IDC_LDN_COMBO), "Add a LDN");
}

TEST_F(MainDialogTest, ChoosingANameOpensClaimsAndEnablesItThenTheNextChoiceClosesFirst) {
    Open();
    FillDataFields("old");
    Choose("Lane1");
    ExpectNoBox();
    EXPECT_EQ(Script().Calls(), Concat({"Open(Lane1)"}, kEnableSteps));
    EXPECT_EQ(Text(IDC_STATUS), "MSR Device 'Lane1' idle, ready to swipe card...");
    EXPECT_EQ(Text(IDC_LDN_COMBO), "Lane1");
    EXPECT_FALSE(uitest::WindowFont(Item(IDC_LDN_COMBO)).italic);
    EXPECT_EQ(DataFields(), std::vector<std::string>(7, ""));

    Script().ClearCalls();
    Choose("Back office");
    ExpectNoBox();
    EXPECT_EQ(Script().Calls(), Concat({"Close()", "Open(Back office)"}, kEnableSteps));
    EXPECT_EQ(Text(IDC_STATUS), "MSR Device 'Back office' idle, ready to swipe card...");

    // The same name again goes through the whole sequence once more.
    Script().ClearCalls();
    Choose("Back office");
    EXPECT_EQ(Script().Calls(), Concat({"Close()", "Open(Back office)"}, kEnableSteps));
}

TEST_F(MainDialogTest, RefusedOpenShowsItsValueAndIsNotFollowedByClose) {
    Open();
    Script().openResult = 109;
    Choose("Lane2");
    EXPECT_EQ(TakeBox(), "Lane2: Open Error: VAL=109, RC=109, RCE=0 ");
    EXPECT_EQ(Text(IDC_STATUS), "MSR Device 'Lane2' Error: Open");
    EXPECT_EQ(Script().Calls(), (Calls{"Open(Lane2)", "ResultCode?", "ResultCodeExtended?"}));

    Script().ClearCalls();
    Script().openResult = 0;
    Choose("Lane1");
    ExpectNoBox();
    EXPECT_EQ(Script().Calls(), Concat({"Open(Lane1)"}, kEnableSteps));
}

TEST_F(MainDialogTest, ClosedDeviceIsNotClosedAgainAfterALaterOpenFails) {
    Open();
    Choose("Lane1");
    Script().openResult = 109;
    Script().resultCodeExtended = 3;
    Choose("Back office");
    EXPECT_EQ(TakeBox(), "Back office: Open Error: VAL=109, RC=109, RCE=3 ");

    Script().ClearCalls();
    Script().openResult = 0;
    Choose("Lane1");
    ExpectNoBox();
    EXPECT_EQ(Script().Calls(), Concat({"Open(Lane1)"}, kEnableSteps));
}

TEST_F(MainDialogTest, RefusedClaimLeavesTheDeviceOpenForTheNextChoiceToClose) {
    Open();
    Script().claimResult = 102;
    Choose("Lane1");
    EXPECT_EQ(TakeBox(), "Lane1: Claim Error: VAL=102, RC=102, RCE=0 ");
    EXPECT_EQ(Text(IDC_STATUS), "MSR Device 'Lane1' Error: Claim");
    EXPECT_EQ(Script().Calls(),
              (Calls{"Open(Lane1)", "ClaimDevice(1000)", "ResultCode?", "ResultCodeExtended?"}));

    Script().ClearCalls();
    Script().claimResult = 0;
    Choose("Lane2");
    ExpectNoBox();
    EXPECT_EQ(Script().Calls(), Concat({"Close()", "Open(Lane2)"}, kEnableSteps));
}

TEST_F(MainDialogTest, RefusedEnableStepsAreReportedWithoutValue) {
    Open();
    Script().deviceEnabledResult = 111;
    Script().resultCodeExtended = 5;
    Choose("Lane1");
    EXPECT_EQ(TakeBox(), "Lane1: DeviceEnabled Error: RC=111, RCE=5 ");
    EXPECT_EQ(Text(IDC_STATUS), "MSR Device 'Lane1' Error: DeviceEnabled");
    EXPECT_EQ(Script().Calls(), (Calls{"Open(Lane1)", "ClaimDevice(1000)", "DeviceEnabled=true", "ResultCode?",
                                       "ResultCode?", "ResultCodeExtended?"}));

    Script().ClearCalls();
    Script().deviceEnabledResult = 0;
    Script().dataEventEnabledResult = 106;
    Script().resultCodeExtended = 0;
    Choose("Lane2");
    EXPECT_EQ(TakeBox(), "Lane2: DataEventEnabled Error: RC=106, RCE=0 ");
    EXPECT_EQ(Text(IDC_STATUS), "MSR Device 'Lane2' Error: DataEventEnabled");
    EXPECT_EQ(Script().Calls(), Concat(Concat({"Close()", "Open(Lane2)"}, kEnableSteps),
                                       {"ResultCode?", "ResultCodeExtended?"}));
}

TEST_F(MainDialogTest, RefusedCloseIsReportedAndTheSequenceGoesOn) {
    Open();
    Choose("Lane1");
    Script().closeResult = 111;
    Choose("Lane2");
    EXPECT_EQ(TakeBox(), "Lane2: Close Error: VAL=111, RC=111, RCE=0 ");
    // The control still holds Lane1 open, so it refuses the Open that follows.
    EXPECT_EQ(TakeBox(), "Lane2: Open Error: VAL=106, RC=106, RCE=0 ");
    EXPECT_EQ(Text(IDC_STATUS), "MSR Device 'Lane2' Error: Open");
}

TEST_F(MainDialogTest, DataEventFillsTheSevenFieldsAndReArms) {
    Open();
    Choose("Lane1");
    const std::vector<std::pair<DISPID, std::wstring>> first = {
        {65, L"%B4111111111111111^CARD/HOLDER^2812?"}, {67, L";4111111111111111=2812?"}, {69, L""},
        {110, L"0A1B2C"}, {112, L"3D4E5F"}, {114, L""}, {77, L"ABCDEF0123456789"}};
    for (const auto& property : first) Script().strings[property.first] = property.second;
    Script().ClearCalls();
    uitest::FireDataEvent(0);
    ExpectNoBox();
    EXPECT_EQ(DataFields(), (std::vector<std::string>{"%B4111111111111111^CARD/HOLDER^2812?",
                                                      ";4111111111111111=2812?", "", "0A1B2C", "3D4E5F", "",
                                                      "ABCDEF0123456789"}));
    EXPECT_EQ(Script().Calls(), (Calls{"get 65", "get 67", "get 69", "get 110", "get 112", "get 114", "get 77",
                                       "DataEventEnabled=true"}));
    EXPECT_EQ(Text(IDC_STATUS), "MSR Device 'Lane1' card read Successful, ready to swipe card...");

    // A second swipe needs no user action; fields it leaves empty are emptied.
    Script().strings[65] = L"%B5500000000000004^SECOND/CARD^2906?";
    Script().strings[110] = L"";
    Script().strings[77] = L"";
    uitest::FireDataEvent(0);
    EXPECT_EQ(DataFields(), (std::vector<std::string>{"%B5500000000000004^SECOND/CARD^2906?",
                                                      ";4111111111111111=2812?", "", "", "3D4E5F", "", ""}));

    ASSERT_TRUE(thread_->Command(dialog_, IDC_CLEAR));
    EXPECT_EQ(DataFields(), std::vector<std::string>(7, ""));
    EXPECT_EQ(Text(IDC_STATUS), "MSR Device 'Lane1' card read Successful, ready to swipe card...");
}

TEST_F(MainDialogTest, ErrorEventShowsItsValuesAndLeavesTheResponseAndDataEventsAlone) {
    Open();
    Choose("Back office");
    Script().ClearCalls();
    uitest::PostErrorEvent(114, 28416, 2, 12);
    ASSERT_TRUE(thread_->Settle());
    EXPECT_EQ(TakeBox(), "ErrorEvent: RC=114, RCE=28416, EL=2, ER=12 ");
    EXPECT_EQ(Text(IDC_STATUS), "MSR Device 'Back office' card read Failure, re-swipe card...");
    EXPECT_EQ(Script().errorResponseAfterEvent, 12);
    EXPECT_EQ(Script().lastLookup, S_OK);
    EXPECT_TRUE(Script().Calls().empty());
}

TEST_F(MainDialogTest, EventSinkAnswersOnlyForEventNames) {
    Open();
    EXPECT_EQ(uitest::LookUpUnknownEvent(), DISP_E_UNKNOWNNAME);
    uitest::FireDataEvent(0);
    EXPECT_EQ(Script().lastLookup, S_OK);
}

TEST_F(MainDialogTest, EnterNeitherClosesNorChooses) {
    Open();
    HWND track = Item(IDC_TRACK1);
    ::SendMessageA(dialog_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(Item(IDC_CLEAR)), TRUE);
    ::SendMessageA(dialog_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(track), TRUE);
    ::SetWindowTextA(track, "typed");
    ASSERT_TRUE(thread_->PressKey(track, VK_RETURN));
    ::SendMessageA(dialog_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(Item(IDC_LDN_COMBO)), TRUE);
    HWND comboEdit = thread_->FocusedWindow();
    ASSERT_TRUE(::IsChild(Item(IDC_LDN_COMBO), comboEdit));
    ASSERT_TRUE(thread_->PressKey(comboEdit, VK_RETURN));

    EXPECT_FALSE(thread_->Finished());
    EXPECT_TRUE(::IsWindowVisible(dialog_));
    ExpectNoBox();
    EXPECT_EQ(Text(IDC_TRACK1), "typed");  // the Clear button was not pressed
    EXPECT_TRUE(Script().Calls().empty());
}

TEST_F(MainDialogTest, EscapeEndsTheDialogAndReleasesTheControlWithoutClose) {
    Open();
    Choose("Lane1");
    Script().ClearCalls();
    ASSERT_TRUE(thread_->PressKey(Item(IDC_TRACK1), VK_ESCAPE));
    INT_PTR result = 0;
    ASSERT_TRUE(thread_->WaitFinished(&result));
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_TRUE(Script().released);
    EXPECT_TRUE(Script().Calls().empty());
}

TEST_F(MainDialogTest, SystemMenuOffersTheAboutBox) {
    Open();
    HMENU systemMenu = ::GetSystemMenu(dialog_, FALSE);
    char label[64] = {};
    ASSERT_GT(::GetMenuStringA(systemMenu, IDM_ABOUTBOX, label, sizeof label, MF_BYCOMMAND), 0);
    EXPECT_STREQ(label, "&About SwipeBench...");
    EXPECT_EQ(IDM_ABOUTBOX, 16);

    ::PostMessageA(dialog_, WM_SYSCOMMAND, IDM_ABOUTBOX, 0);
    ASSERT_TRUE(thread_->Settle());
    HWND about = thread_->WaitForWindow("About SwipeBench");
    ASSERT_NE(about, nullptr);
    bool titleLine = false;
    for (HWND child = ::GetWindow(about, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
        titleLine = titleLine || uitest::WindowText(child) == "Norvik OPOS MSR Utility v1.13";
    }
    EXPECT_TRUE(titleLine);
    ASSERT_TRUE(thread_->Command(about, IDOK));
    EXPECT_TRUE(uitest::WaitUntil([&] { return !::IsWindow(about); }));
    EXPECT_FALSE(thread_->Finished());
}

TEST_F(MainDialogTest, LdnButtonRunsTheAliasEditorAndReloadsTheList) {
    Open();
    ASSERT_TRUE(thread_->Command(dialog_, IDC_LDN_BUTTON));
    HWND ldn = thread_->WaitForWindow("Logical Device Name (LDN)");
    ASSERT_NE(ldn, nullptr);
    HWND keys = ::GetDlgItem(ldn, IDC_DEVICE_KEY_COMBO);
    ::SendMessageA(keys, CB_SETCURSEL, 1, 0);  // Norvik_MSR-2
    ASSERT_TRUE(thread_->Command(ldn, IDC_DEVICE_KEY_COMBO, CBN_SELCHANGE));
    ::SetWindowTextA(::GetDlgItem(ldn, IDC_LDN_NAME), "Store 5");
    ASSERT_TRUE(thread_->Command(ldn, IDC_ADD_LDN));
    ASSERT_TRUE(thread_->Command(ldn, IDCANCEL));
    ASSERT_TRUE(uitest::WaitUntil([&] { return !::IsWindow(ldn); }));
    ASSERT_TRUE(thread_->Settle());

    auto items = uitest::ComboItems(Item(IDC_LDN_COMBO));
    ASSERT_EQ(items.size(), 4u);
    EXPECT_EQ(std::count(items.begin(), items.end(), "Store 5"), 1);
    EXPECT_EQ(std::count(items.begin(), items.end(), "Lane1"), 1);
    EXPECT_EQ(std::count(items.begin(), items.end(), "Back office"), 1);
    EXPECT_EQ(Text(IDC_LDN_COMBO), "Select a LDN");
    EXPECT_TRUE(uitest::WindowFont(Item(IDC_LDN_COMBO)).italic);
}

TEST_F(MainDialogTest, LdnButtonKeepsAChosenNameAndShowsAddWhenNoAliasIsLeft) {
    Open();
    Choose("Lane1");
    ASSERT_TRUE(thread_->Command(dialog_, IDC_LDN_BUTTON));
    HWND ldn = thread_->WaitForWindow("Logical Device Name (LDN)");
    ASSERT_NE(ldn, nullptr);
    ASSERT_TRUE(thread_->Command(ldn, IDCANCEL));
    ASSERT_TRUE(uitest::WaitUntil([&] { return !::IsWindow(ldn); }));
    ASSERT_TRUE(thread_->Settle());
    EXPECT_EQ(Text(IDC_LDN_COMBO), "Lane1");
    EXPECT_FALSE(uitest::WindowFont(Item(IDC_LDN_COMBO)).italic);

    // Every alias gone behind the dialog's back: the list empties on the next reload.
    registry_.Reset({"Norvik_MSR-1", "Norvik_MSR-2"});
    ASSERT_TRUE(thread_->Command(dialog_, IDC_LDN_BUTTON));
    ldn = thread_->WaitForWindow("Logical Device Name (LDN)");
    ASSERT_NE(ldn, nullptr);
    ASSERT_TRUE(thread_->Command(ldn, IDCANCEL));
    ASSERT_TRUE(uitest::WaitUntil([&] { return !::IsWindow(ldn); }));
    ASSERT_TRUE(thread_->Settle());
    EXPECT_TRUE(uitest::ComboItems(Item(IDC_LDN_COMBO)).empty());
    EXPECT_EQ(Text(IDC_LDN_COMBO), "Add a LDN");
    EXPECT_TRUE(uitest::WindowFont(Item(IDC_LDN_COMBO)).italic);
}

TEST_F(MainDialogTest, WithoutAControlTheStatusSaysSoAndOpenFails) {
    Open(uitest::CreateNoControl);
    EXPECT_EQ(Text(IDC_STATUS), "The OPOS MSR control object is not available (0x80040154).");
    Choose("Lane1");
    EXPECT_EQ(TakeBox(), "Lane1: Open Error: VAL=104, RC=104, RCE=0 ");
    EXPECT_EQ(Text(IDC_STATUS), "MSR Device 'Lane1' Error: Open");
}

}  // namespace

TEST_F(MainDialogTest, SystemMenuOffersTheTraceFolderWhileATraceFileExists) {
    char folder[MAX_PATH] = {};
    ASSERT_GT(::GetTempPathA(sizeof folder, folder), 0u);
    const std::string file = std::string(folder) + "swipebench-trace-test.log";
    ::DeleteFileA(file.c_str());
    const std::string device = std::string(uitest::RegistrySandbox::kMsrPath) + "\\Norvik_MSR-2";
    ::RegSetKeyValueA(HKEY_LOCAL_MACHINE, device.c_str(), "TraceFile", REG_SZ, file.c_str(),
                      static_cast<DWORD>(file.size() + 1));
    Open();
    HMENU systemMenu = ::GetSystemMenu(dialog_, FALSE);
    auto offered = [&] {
        ::SendMessageA(dialog_, WM_INITMENU, reinterpret_cast<WPARAM>(systemMenu), 0);
        char label[64] = {};
        return ::GetMenuStringA(systemMenu, IDM_OPEN_TRACE_FOLDER, label, sizeof label, MF_BYCOMMAND) > 0 &&
               std::string(label) == "Open &trace folder";
    };
    EXPECT_FALSE(offered());
    {
        std::ofstream(file) << "trace\n";
    }
    EXPECT_TRUE(offered());
    ::DeleteFileA(file.c_str());
    EXPECT_FALSE(offered());
}

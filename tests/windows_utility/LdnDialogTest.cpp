// The logical device name dialog against the real registry: listing, adding
// and deleting aliases, its messages and its keyboard behaviour.
#include <gtest/gtest.h>

#include <windows.h>

#include "LDNDlg.h"
#include "RegistrySandbox.h"
#include "UiDriver.h"
#include "resource.h"

using uitest::DialogThread;
using uitest::MessageBoxInfo;
using Values = std::vector<std::pair<std::string, std::string>>;

namespace {

const char kCaption[] = "Logical Device Name (LDN)";

class LdnDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Device keys created in reverse order: the box must sort them.
        registry_.Reset({"Norvik_MSR-2", "Other_MSR", "Norvik_MSR-1"});
        registry_.SetString("Lane1", "Norvik_MSR-1");
        registry_.SetString("Back office", "Norvik_MSR-2");
        registry_.SetString("Lane2", "Norvik_MSR-1");
        registry_.SetString("Printer", "Some other device");
        registry_.SetString("Lower", "norvik_msr-1");
        registry_.SetString("Longer", "Norvik_MSR-1 spare");
        registry_.SetDword("Counter", 7);
    }

    void Open() {
        thread_ = std::make_unique<DialogThread>(
            [] { return swipebench::CLDNDlg(::GetModuleHandleA(nullptr)).DoModal(nullptr); });
        dialog_ = thread_->WaitForWindow(kCaption);
        ASSERT_NE(dialog_, nullptr) << "the dialog did not show";
        ASSERT_TRUE(thread_->Settle());
    }

    HWND Item(int id) const { return ::GetDlgItem(dialog_, id); }

    void ChooseDeviceKey(const std::string& key) {
        auto items = uitest::ComboItems(Item(IDC_DEVICE_KEY_COMBO));
        for (size_t i = 0; i < items.size(); ++i) {
            if (items[i] == key) {
                ASSERT_TRUE(uitest::ChooseComboItem(*thread_, dialog_, IDC_DEVICE_KEY_COMBO, static_cast<int>(i)));
                ASSERT_FALSE(thread_->CurrentMessageBox()) << thread_->CurrentMessageBox()->text;
                return;
            }
        }
        FAIL() << "device key " << key << " not listed";
    }

    // Types `name` into the name field and presses "&Add LDN".
    void Add(const std::string& name) {
        ::SetWindowTextA(Item(IDC_LDN_NAME), name.c_str());
        ASSERT_TRUE(thread_->Command(dialog_, IDC_ADD_LDN));
    }

    // Selects `name` in the alias list and presses "&Delete LDN".
    void Delete(const std::string& name) {
        int index = static_cast<int>(::SendMessageA(Item(IDC_LDN_LIST), LB_FINDSTRINGEXACT, -1,
                                                    reinterpret_cast<LPARAM>(name.c_str())));
        ASSERT_NE(index, LB_ERR) << name << " is not in the list";
        ::SendMessageA(Item(IDC_LDN_LIST), LB_SETCURSEL, index, 0);
        ASSERT_TRUE(thread_->Command(dialog_, IDC_DELETE_LDN));
    }

    MessageBoxInfo ExpectBox() {
        auto box = thread_->CurrentMessageBox();
        EXPECT_TRUE(box.has_value()) << "no message box is shown";
        return box.value_or(MessageBoxInfo{});
    }

    std::vector<std::string> Aliases() const { return uitest::ListItems(Item(IDC_LDN_LIST)); }

    uitest::RegistrySandbox registry_;
    std::unique_ptr<DialogThread> thread_;
    HWND dialog_ = nullptr;
};

TEST_F(LdnDialogTest, StartsWithSortedDeviceKeysPlaceholderAndEmptyList) {
    Open();
    EXPECT_EQ(uitest::ComboItems(Item(IDC_DEVICE_KEY_COMBO)),
              (std::vector<std::string>{"Norvik_MSR-1", "Norvik_MSR-2"}));
    EXPECT_EQ(uitest::WindowText(Item(IDC_DEVICE_KEY_COMBO)), "Select a Device");
    EXPECT_TRUE(uitest::WindowFont(Item(IDC_DEVICE_KEY_COMBO)).italic);
    EXPECT_TRUE(Aliases().empty());
    EXPECT_FALSE(thread_->CurrentMessageBox());
}

TEST_F(LdnDialogTest, PlaceholderClearsOnDropDownAndReturnsWhenNothingIsChosen) {
    Open();
    HWND combo = Item(IDC_DEVICE_KEY_COMBO);
    ::SendMessageA(combo, CB_SHOWDROPDOWN, TRUE, 0);
    EXPECT_EQ(uitest::WindowText(combo), "");
    EXPECT_FALSE(uitest::WindowFont(combo).italic);
    ::SendMessageA(combo, CB_SHOWDROPDOWN, FALSE, 0);
    EXPECT_EQ(uitest::WindowText(combo), "Select a Device");
    EXPECT_TRUE(uitest::WindowFont(combo).italic);

    ChooseDeviceKey("Norvik_MSR-2");
    EXPECT_FALSE(uitest::WindowFont(combo).italic);
    EXPECT_EQ(uitest::WindowText(combo), "Norvik_MSR-2");
}

TEST_F(LdnDialogTest, ChoosingADeviceKeyListsOnlyItsExactAliasesInRegistryOrder) {
    Open();
    ChooseDeviceKey("Norvik_MSR-1");
    EXPECT_EQ(Aliases(), (std::vector<std::string>{"Lane1", "Lane2"}));
    ChooseDeviceKey("Norvik_MSR-2");
    EXPECT_EQ(Aliases(), (std::vector<std::string>{"Back office"}));
}

TEST_F(LdnDialogTest, AddStoresTheTrimmedNameForTheChosenKeyAndTouchesNothingElse) {
    Values before = registry_.Values();
    Open();
    ChooseDeviceKey("Norvik_MSR-1");
    Add("   Lane 7 \t ");
    EXPECT_FALSE(thread_->CurrentMessageBox());

    Values expected = before;
    expected.emplace_back("Lane 7", "Norvik_MSR-1");
    Values after = registry_.Values();
    std::sort(expected.begin(), expected.end());
    std::sort(after.begin(), after.end());
    EXPECT_EQ(after, expected);
    auto aliases = Aliases();
    std::sort(aliases.begin(), aliases.end());
    EXPECT_EQ(aliases, (std::vector<std::string>{"Lane 7", "Lane1", "Lane2"}));
    EXPECT_EQ(uitest::WindowText(Item(IDC_LDN_NAME)), "");

    // Shown only while its own key is chosen.
    ChooseDeviceKey("Norvik_MSR-2");
    EXPECT_EQ(Aliases(), (std::vector<std::string>{"Back office"}));
}

TEST_F(LdnDialogTest, AddRefusesAnExistingValueNameWhateverItsData) {
    Values before = registry_.Values();
    Open();
    ChooseDeviceKey("Norvik_MSR-1");
    for (const char* existing : {"Back office", "Printer", "Counter"}) {
        Add(std::string(" ") + existing);
        MessageBoxInfo box = ExpectBox();
        EXPECT_EQ(box.caption, "Norvik OPOS MSR Utility");
        EXPECT_EQ(box.text, std::string("The Logical Device Name  '") + existing +
                                "'  already      \nexists.  Please use a different name.");
        EXPECT_TRUE(box.hasOk);
        EXPECT_EQ(box.icon, MessageBoxInfo::Icon::Error);
        ASSERT_TRUE(thread_->Answer(box, IDOK));
        EXPECT_EQ(uitest::WindowText(Item(IDC_LDN_NAME)), "") << existing;
    }
    EXPECT_EQ(registry_.Values(), before);
    EXPECT_EQ(Aliases(), (std::vector<std::string>{"Lane1", "Lane2"}));
}

TEST_F(LdnDialogTest, NameDifferingOnlyInCasePassesTheCheckAndRetargetsThatAlias) {
    Open();
    ChooseDeviceKey("Norvik_MSR-1");
    Add("BACK OFFICE");
    EXPECT_FALSE(thread_->CurrentMessageBox());
    // The registry does not tell value names apart by case: the alias of the
    // other key now points at this one.
    EXPECT_EQ(registry_.StringValue("Back office"), "Norvik_MSR-1");
    ChooseDeviceKey("Norvik_MSR-2");
    EXPECT_TRUE(Aliases().empty());
}

TEST_F(LdnDialogTest, BlankNameAddsNothing) {
    Values before = registry_.Values();
    Open();
    ChooseDeviceKey("Norvik_MSR-1");
    Add("    ");
    EXPECT_FALSE(thread_->CurrentMessageBox());
    EXPECT_EQ(uitest::WindowText(Item(IDC_LDN_NAME)), "");
    EXPECT_EQ(registry_.Values(), before);
}

TEST_F(LdnDialogTest, AddBeforeChoosingADeviceKeyIsRefused) {
    Values before = registry_.Values();
    Open();
    Add("Lane 9");
    MessageBoxInfo box = ExpectBox();
    EXPECT_EQ(box.caption, "Norvik OPOS MSR Utility");
    EXPECT_EQ(box.text, "Please select a Master Key before adding a LDN.");
    ASSERT_TRUE(thread_->Answer(box, IDOK));
    EXPECT_EQ(registry_.Values(), before);
    EXPECT_FALSE(registry_.HasValue("Lane 9"));
}

TEST_F(LdnDialogTest, DeleteAsksFirstAndNoChangesNothing) {
    Values before = registry_.Values();
    Open();
    ChooseDeviceKey("Norvik_MSR-1");
    Delete("Lane2");
    MessageBoxInfo box = ExpectBox();
    EXPECT_EQ(box.caption, "Norvik OPOS MSR Utility");
    EXPECT_EQ(box.text, "Are you sure you want to delet LDN 'Lane2' ?");
    EXPECT_TRUE(box.hasYesNo);
    EXPECT_EQ(box.icon, MessageBoxInfo::Icon::Question);
    ASSERT_TRUE(thread_->Answer(box, IDNO));
    EXPECT_EQ(registry_.Values(), before);
    EXPECT_EQ(Aliases(), (std::vector<std::string>{"Lane1", "Lane2"}));
}

TEST_F(LdnDialogTest, DeleteWithYesRemovesOnlyThatAlias) {
    Values expected = registry_.Values();
    expected.erase(std::find(expected.begin(), expected.end(), std::make_pair(std::string("Lane2"),
                                                                              std::string("Norvik_MSR-1"))));
    Open();
    ChooseDeviceKey("Norvik_MSR-1");
    Delete("Lane2");
    MessageBoxInfo box = ExpectBox();
    ASSERT_TRUE(thread_->Answer(box, IDYES));
    EXPECT_FALSE(thread_->CurrentMessageBox());
    Values after = registry_.Values();
    std::sort(expected.begin(), expected.end());
    std::sort(after.begin(), after.end());
    EXPECT_EQ(after, expected);
    EXPECT_EQ(Aliases(), (std::vector<std::string>{"Lane1"}));
}

TEST_F(LdnDialogTest, DeleteWithoutASelectionDoesNothing) {
    Open();
    ChooseDeviceKey("Norvik_MSR-1");
    ASSERT_TRUE(thread_->Command(dialog_, IDC_DELETE_LDN));
    EXPECT_FALSE(thread_->CurrentMessageBox());
}

TEST_F(LdnDialogTest, EnterNeitherClosesNorAdds) {
    Values before = registry_.Values();
    Open();
    ChooseDeviceKey("Norvik_MSR-1");
    HWND name = Item(IDC_LDN_NAME);
    ::SetWindowTextA(name, "Typed");
    // Focus on the button first, so that the dialog manager would take it as default.
    ::SendMessageA(dialog_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(Item(IDC_ADD_LDN)), TRUE);
    ::SendMessageA(dialog_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(name), TRUE);
    ASSERT_TRUE(thread_->PressKey(name, VK_RETURN));
    ::SendMessageA(dialog_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(Item(IDC_DEVICE_KEY_COMBO)), TRUE);
    HWND comboEdit = thread_->FocusedWindow();
    ASSERT_TRUE(::IsChild(Item(IDC_DEVICE_KEY_COMBO), comboEdit));
    ASSERT_TRUE(thread_->PressKey(comboEdit, VK_RETURN));

    EXPECT_FALSE(thread_->Finished());
    EXPECT_TRUE(::IsWindowVisible(dialog_));
    EXPECT_FALSE(thread_->CurrentMessageBox());
    EXPECT_EQ(uitest::WindowText(name), "Typed");
    EXPECT_EQ(registry_.Values(), before);
}

TEST_F(LdnDialogTest, EscapeAndCancelEndTheDialog) {
    Open();
    ASSERT_TRUE(thread_->PressKey(Item(IDC_LDN_NAME), VK_ESCAPE));
    INT_PTR result = 0;
    ASSERT_TRUE(thread_->WaitFinished(&result));
    EXPECT_EQ(result, IDCANCEL);

    Open();
    ChooseDeviceKey("Norvik_MSR-1");
    ASSERT_TRUE(thread_->Command(dialog_, IDCANCEL));
    ASSERT_TRUE(thread_->WaitFinished(&result));
    EXPECT_EQ(result, IDCANCEL);
}

TEST(LdnDialogStartTest, WithoutDeviceKeysTheDialogReportsAndEnds) {
    uitest::RegistrySandbox registry;
    for (bool keyExists : {true, false}) {
        if (keyExists) {
            registry.Reset({"Other_MSR"});
            registry.SetString("Lane1", "Norvik_MSR-1");
        } else {
            registry.DeleteKey();
        }
        DialogThread thread([] { return swipebench::CLDNDlg(::GetModuleHandleA(nullptr)).DoModal(nullptr); });
        std::optional<MessageBoxInfo> box;
        ASSERT_TRUE(uitest::WaitUntil([&] { return (box = thread.CurrentMessageBox()).has_value(); }));
        EXPECT_EQ(box->caption, "Norvik OPOS MSR Utility");
        EXPECT_EQ(box->text, "No Devices registered: 0x00000001 ");
        EXPECT_EQ(box->icon, MessageBoxInfo::Icon::Error);
        ::PostMessageA(box->hwnd, WM_COMMAND, IDOK, 0);
        INT_PTR result = -1;
        ASSERT_TRUE(thread.WaitFinished(&result));
        EXPECT_EQ(result, 0) << (keyExists ? "with the key" : "without the key");
    }
}

}  // namespace

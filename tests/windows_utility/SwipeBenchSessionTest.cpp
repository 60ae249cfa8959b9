// The main dialog over the whole stack: the registered control object opens
// NorvikMSRSO.dll for the chosen name, which reads the simulated reader that
// the dialog's "Simulated reader" menu attaches and swipes.
#include <gtest/gtest.h>

#include <windows.h>

#include "RegistrySandbox.h"
#include "SwipeBenchDlg.h"
#include "UiDriver.h"
#include "VorlexSimulator.h"
#include "resource.h"

using uitest::DialogThread;
using uitest::MessageBoxInfo;

namespace {

const char kCaption[] = "Norvik OPOS MSR Utility v1.13";

std::string ModuleFolder() {
    char path[MAX_PATH];
    DWORD length = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path, length);
    return folder.substr(0, folder.find_last_of("\\/") + 1);
}

bool CallServerEntry(const char* dll, const char* entry) {
    HMODULE module = ::LoadLibraryA((ModuleFolder() + dll).c_str());
    if (!module) return false;
    auto function = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
        reinterpret_cast<void*>(::GetProcAddress(module, entry)));
    bool ok = function && SUCCEEDED(function());
    ::FreeLibrary(module);
    return ok;
}

void WriteDeviceKey(const char* device, DWORD kind) {
    HKEY key = nullptr;
    std::string path = std::string(uitest::RegistrySandbox::kMsrPath) + "\\" + device;
    ASSERT_EQ(::RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                                nullptr),
              ERROR_SUCCESS);
    const char progId[] = "NorvikMSR.SO";
    ::RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(progId), sizeof progId);
    ::RegSetValueExA(key, "DeviceType", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&kind), sizeof kind);
    const char description[] = "SwipeBench test reader";
    ::RegSetValueExA(key, "DeviceDesc", 0, REG_SZ, reinterpret_cast<const BYTE*>(description), sizeof description);
    ::RegSetValueExA(key, "DeviceName", 0, REG_SZ, reinterpret_cast<const BYTE*>(description), sizeof description);
    ::RegCloseKey(key);
}

// Both servers registered for the run; a server that was registered before
// stays registered afterwards.
class Servers : public ::testing::Environment {
public:
    void SetUp() override {
        CLSID clsid;
        soWasRegistered_ = SUCCEEDED(::CLSIDFromProgID(L"NorvikMSR.SO", &clsid));
        controlWasRegistered_ = SUCCEEDED(::CLSIDFromProgID(L"NorvikMSR.Control", &clsid));
        ASSERT_TRUE(CallServerEntry("NorvikMSRSO.dll", "DllRegisterServer"));
        ASSERT_TRUE(CallServerEntry("NorvikMSRControl.dll", "DllRegisterServer"));
    }
    void TearDown() override {
        if (!controlWasRegistered_) CallServerEntry("NorvikMSRControl.dll", "DllUnregisterServer");
        if (!soWasRegistered_) CallServerEntry("NorvikMSRSO.dll", "DllUnregisterServer");
    }

private:
    bool soWasRegistered_ = false;
    bool controlWasRegistered_ = false;
};

const auto* const servers = ::testing::AddGlobalTestEnvironment(new Servers);

class SwipeBenchSessionTest : public ::testing::Test {
protected:
    void SetUp() override {
        // The dialog's menu drives this same library in this process.
        ::VorlexSimEnable(0);
        ::VorlexSimReset();
        registry_.Reset({});
        WriteDeviceKey("Norvik_MSR-1", 0);
        WriteDeviceKey("Norvik_MSR-2", 1);
        registry_.SetString("Counter", "Norvik_MSR-1");
        registry_.SetString("Secure lane", "Norvik_MSR-2");
        registry_.SetString("Unplugged", "Norvik_MSR-2");
    }

    void TearDown() override {
        thread_.reset();
        ::VorlexSimReset();
        ::VorlexSimEnable(0);
    }

    void Open() {
        thread_ = std::make_unique<DialogThread>(
            [] { return swipebench::CSwipeBenchDlg(::GetModuleHandleA(nullptr)).DoModal(nullptr); });
        dialog_ = thread_->WaitForWindow(kCaption);
        ASSERT_NE(dialog_, nullptr) << "the dialog did not show";
        ASSERT_TRUE(thread_->Settle());
        ASSERT_FALSE(thread_->CurrentMessageBox()) << thread_->CurrentMessageBox()->text;
    }

    std::string Text(int id) const { return uitest::WindowText(::GetDlgItem(dialog_, id)); }

    void Menu(UINT command) {
        ASSERT_TRUE(::PostMessageA(dialog_, WM_SYSCOMMAND, command, 0));
        ASSERT_TRUE(thread_->Settle());
    }

    void Choose(const std::string& name) {
        auto items = uitest::ComboItems(::GetDlgItem(dialog_, IDC_LDN_COMBO));
        auto found = std::find(items.begin(), items.end(), name);
        ASSERT_NE(found, items.end()) << name;
        ASSERT_TRUE(uitest::ChooseComboItem(*thread_, dialog_, IDC_LDN_COMBO, static_cast<int>(found - items.begin())));
    }

    // Waits for the box that an event or a step shows, and closes it.
    std::string TakeBox() {
        std::optional<MessageBoxInfo> box;
        if (!uitest::WaitUntil([&] { return (box = thread_->CurrentMessageBox()).has_value(); })) {
            ADD_FAILURE() << "no message box";
            return std::string();
        }
        EXPECT_EQ(box->caption, "Norvik OPOS MSR Utility");
        EXPECT_TRUE(thread_->Answer(*box, IDOK));
        return box->text;
    }

    bool WaitForStatus(const std::string& status) {
        return uitest::WaitUntil([&] { return Text(IDC_STATUS) == status; });
    }

    uitest::RegistrySandbox registry_;
    std::unique_ptr<DialogThread> thread_;
    HWND dialog_ = nullptr;
};

TEST_F(SwipeBenchSessionTest, SimulatedReaderMenuIsOfferedWithVorlexSimulator) {
    Open();
    HMENU systemMenu = ::GetSystemMenu(dialog_, FALSE);
    int count = ::GetMenuItemCount(systemMenu);
    ASSERT_GT(count, 0);
    char label[64] = {};
    ::GetMenuStringA(systemMenu, count - 1, label, sizeof label, MF_BYPOSITION);
    EXPECT_STREQ(label, "Simulated reader");
    HMENU simulator = ::GetSubMenu(systemMenu, count - 1);
    ASSERT_NE(simulator, nullptr);
    for (UINT command : {IDM_SIM_ENABLE, IDM_SIM_ATTACH_BASIC, IDM_SIM_ATTACH_SECURE, IDM_SIM_SWIPE_BANK_CARD,
                         IDM_SIM_SWIPE_BAD_READ, IDM_SIM_SWIPE_ENCRYPTED, IDM_SIM_UNPLUG}) {
        EXPECT_GT(::GetMenuStringA(simulator, command, label, sizeof label, MF_BYCOMMAND), 0) << command;
    }
    Menu(IDM_SIM_ENABLE);
    EXPECT_EQ(::GetMenuState(simulator, IDM_SIM_ENABLE, MF_BYCOMMAND) & MF_CHECKED, static_cast<UINT>(MF_CHECKED));
    Menu(IDM_SIM_ENABLE);
    EXPECT_EQ(::GetMenuState(simulator, IDM_SIM_ENABLE, MF_BYCOMMAND) & MF_CHECKED, 0u);
}

TEST_F(SwipeBenchSessionTest, BasicReaderDeliversEverySwipeWithoutUserAction) {
    Open();
    Menu(IDM_SIM_ATTACH_BASIC);
    Choose("Counter");
    ASSERT_FALSE(thread_->CurrentMessageBox()) << thread_->CurrentMessageBox()->text;
    EXPECT_EQ(Text(IDC_STATUS), "MSR Device 'Counter' idle, ready to swipe card...");

    Menu(IDM_SIM_SWIPE_BANK_CARD);
    ASSERT_TRUE(WaitForStatus("MSR Device 'Counter' card read Successful, ready to swipe card..."));
    EXPECT_EQ(Text(IDC_TRACK1), "B4111111111111111^SAMPLE/CARDHOLDER^2812101000000000000");
    EXPECT_EQ(Text(IDC_TRACK2), "4111111111111111=28121010000000000");
    EXPECT_EQ(Text(IDC_TRACK3), "");
    EXPECT_EQ(Text(IDC_TRACK1_ENCRYPTED), "");
    EXPECT_EQ(Text(IDC_SECURITY_INFO), "");

    // Data events were re-armed by the handler: the next swipe just arrives.
    Menu(IDM_SIM_SWIPE_ENCRYPTED);
    ASSERT_TRUE(uitest::WaitUntil([&] { return Text(IDC_TRACK2) == "5500000000000004=29062010000000000"; }))
        << Text(IDC_TRACK2);
    EXPECT_EQ(Text(IDC_TRACK1), "B5500000000000004^TEST/SECURE^2906201000000000000");
    EXPECT_FALSE(thread_->CurrentMessageBox());
}

TEST_F(SwipeBenchSessionTest, SecureReaderFillsEncryptedFieldsAndSecurityInformation) {
    Open();
    Menu(IDM_SIM_ATTACH_SECURE);
    Choose("Secure lane");
    ASSERT_FALSE(thread_->CurrentMessageBox()) << thread_->CurrentMessageBox()->text;
    Menu(IDM_SIM_SWIPE_ENCRYPTED);
    ASSERT_TRUE(WaitForStatus("MSR Device 'Secure lane' card read Successful, ready to swipe card..."));
    auto isHex = [](const std::string& text) {
        return !text.empty() && text.size() % 2 == 0 &&
               text.find_first_not_of("0123456789ABCDEF") == std::string::npos;
    };
    EXPECT_TRUE(isHex(Text(IDC_TRACK1_ENCRYPTED))) << Text(IDC_TRACK1_ENCRYPTED);
    EXPECT_TRUE(isHex(Text(IDC_TRACK2_ENCRYPTED))) << Text(IDC_TRACK2_ENCRYPTED);
    EXPECT_TRUE(isHex(Text(IDC_TRACK3_ENCRYPTED))) << Text(IDC_TRACK3_ENCRYPTED);
    EXPECT_EQ(Text(IDC_SECURITY_INFO).size(), 20u) << Text(IDC_SECURITY_INFO);
    // The plain fields hold the masked tracks: no whole account number.
    EXPECT_NE(Text(IDC_TRACK2), "");
    EXPECT_EQ(Text(IDC_TRACK2).find("5500000000000004"), std::string::npos) << Text(IDC_TRACK2);
}

TEST_F(SwipeBenchSessionTest, BadReadRaisesTheErrorEventBox) {
    Open();
    Menu(IDM_SIM_ATTACH_BASIC);
    Choose("Counter");
    Menu(IDM_SIM_SWIPE_BAD_READ);
    EXPECT_EQ(TakeBox(), "ErrorEvent: RC=111, RCE=0, EL=2, ER=12 ");
    ASSERT_TRUE(WaitForStatus("MSR Device 'Counter' card read Failure, re-swipe card..."));
    EXPECT_EQ(Text(IDC_TRACK1), "");

    // Data events stayed armed: a good swipe still comes through.
    Menu(IDM_SIM_SWIPE_BANK_CARD);
    ASSERT_TRUE(WaitForStatus("MSR Device 'Counter' card read Successful, ready to swipe card..."));
}

TEST_F(SwipeBenchSessionTest, RefusedOpenReportsTheControlsValue) {
    registry_.SetString("Ghost", "Norvik_MSR-2");
    ::RegDeleteKeyA(HKEY_LOCAL_MACHINE, (std::string(uitest::RegistrySandbox::kMsrPath) + "\\Norvik_MSR-2").c_str());
    Open();
    Choose("Ghost");
    // The control resolves the alias to a device key that is missing.
    EXPECT_EQ(TakeBox(), "Ghost: Open Error: VAL=109, RC=109, RCE=0 ");
    EXPECT_EQ(Text(IDC_STATUS), "MSR Device 'Ghost' Error: Open");
}

TEST_F(SwipeBenchSessionTest, ClaimHeldByAnotherProgramIsReported) {
    HANDLE held = ::CreateEventA(nullptr, TRUE, FALSE, "SwipeBenchTestClaimHeld");
    HANDLE release = ::CreateEventA(nullptr, TRUE, FALSE, "SwipeBenchTestClaimRelease");
    ASSERT_TRUE(held && release);
    ::ResetEvent(held);
    ::ResetEvent(release);
    std::string command = "\"" + ModuleFolder() + "swipebench_claim_holder.exe\" Counter";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    ASSERT_TRUE(::CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                                 &process));
    HANDLE waits[] = {held, process.hProcess};
    DWORD signalled = ::WaitForMultipleObjects(2, waits, FALSE, uitest::kWaitMs);
    EXPECT_EQ(signalled, WAIT_OBJECT_0) << "the other program did not take the claim";

    if (signalled == WAIT_OBJECT_0) {
        Open();
        Choose("Counter");
        EXPECT_EQ(TakeBox(), "Counter: Claim Error: VAL=102, RC=102, RCE=0 ");
        EXPECT_EQ(Text(IDC_STATUS), "MSR Device 'Counter' Error: Claim");
    }
    ::SetEvent(release);
    EXPECT_EQ(::WaitForSingleObject(process.hProcess, uitest::kWaitMs), WAIT_OBJECT_0);
    DWORD exitCode = 1;
    ::GetExitCodeProcess(process.hProcess, &exitCode);
    EXPECT_EQ(exitCode, 0u) << "the other program's own claim";
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    ::CloseHandle(held);
    ::CloseHandle(release);
}

}  // namespace

namespace {

class OleThread {
public:
    OleThread() : hr_(::OleInitialize(nullptr)) {}
    ~OleThread() {
        if (SUCCEEDED(hr_)) ::OleUninitialize();
    }
    HRESULT Result() const { return hr_; }

private:
    HRESULT hr_;
};

DISPID IdOf(IDispatch* control, const wchar_t* name) {
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    DISPID id = DISPID_UNKNOWN;
    control->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    return id;
}

TEST(Msr1BindingTest, PrefersTheStandardControlAndFallsBackToOursWithTheSameIdentifiers) {
    using swipebench::CMsr1;
    OleThread ole;
    ASSERT_TRUE(SUCCEEDED(ole.Result()));
    uitest::RegistrySandbox standard("SOFTWARE\\Classes\\OPOS.MSR");
    standard.DeleteKey();
    EXPECT_EQ(CMsr1::RegisteredProgIds(), (std::vector<std::wstring>{L"NorvikMSR.Control"}));

    // A standard control that is registered but cannot be created.
    HKEY key = nullptr;
    ASSERT_EQ(::RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes\\OPOS.MSR\\CLSID", 0, nullptr, 0,
                                KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const char clsid[] = "{0B5E7C6A-2F41-4D39-A1C8-5E2B9D7F3A10}";
    ::RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(clsid), sizeof clsid);
    ::RegCloseKey(key);
    EXPECT_EQ(CMsr1::RegisteredProgIds(), (std::vector<std::wstring>{L"OPOS.MSR", L"NorvikMSR.Control"}));

    IDispatch* control = nullptr;
    ASSERT_TRUE(SUCCEEDED(CMsr1::CreateRegisteredControl(&control)));
    ASSERT_NE(control, nullptr);
    // Ours answers by name with the standard identifiers the wrapper calls.
    const std::pair<const wchar_t*, DISPID> members[] = {
        {L"Open", CMsr1::DISPID_Open},
        {L"ClaimDevice", CMsr1::DISPID_ClaimDevice},
        {L"Close", CMsr1::DISPID_Close},
        {L"DeviceEnabled", CMsr1::DISPID_DeviceEnabled},
        {L"DataEventEnabled", CMsr1::DISPID_DataEventEnabled},
        {L"ResultCode", CMsr1::DISPID_ResultCode},
        {L"ResultCodeExtended", CMsr1::DISPID_ResultCodeExtended},
        {L"Track1Data", CMsr1::DISPID_Track1Data},
        {L"Track2Data", CMsr1::DISPID_Track2Data},
        {L"Track3Data", CMsr1::DISPID_Track3Data},
        {L"Track1EncryptedData", CMsr1::DISPID_Track1EncryptedData},
        {L"Track2EncryptedData", CMsr1::DISPID_Track2EncryptedData},
        {L"Track3EncryptedData", CMsr1::DISPID_Track3EncryptedData},
        {L"AdditionalSecurityInformation", CMsr1::DISPID_AdditionalSecurityInformation},
    };
    for (const auto& member : members) {
        EXPECT_EQ(IdOf(control, member.first), member.second) << "member " << member.second;
    }
    control->Release();
}

}  // namespace

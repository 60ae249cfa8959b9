// Registration writes exactly the server's registry table, replaces its
// class key wholesale, and unregistration takes back exactly what it wrote.
#include "ComTestSupport.h"

#include <algorithm>
#include <map>
#include <set>

namespace norvik::com::testing {
namespace {

const std::wstring kAppId = L"{8B8BD6B4-F7A3-4C80-B419-BDF83A38B3BB}";

std::wstring GuidText(REFGUID guid) {
    wchar_t text[39];
    ::StringFromGUID2(guid, text, ARRAYSIZE(text));
    return text;
}

std::wstring Lower(std::wstring text) {
    std::transform(text.begin(), text.end(), text.begin(), ::towlower);
    return text;
}

using ValueMap = std::map<std::wstring, std::wstring>;  // name ("" = default) -> REG_SZ data

// Every key registration writes, with all of its values, under HKEY_CLASSES_ROOT.
std::map<std::wstring, ValueMap> ExpectedTable() {
    const std::wstring clsidKey = L"CLSID\\" + GuidText(CLSID_NorvikMSRSOImpl);
    return {
        {L"AppID\\" + kAppId, {{L"", L"NorvikMSRSO"}}},
        {L"AppID\\NorvikMSRSO.DLL", {{L"AppID", kAppId}}},
        {L"NorvikMSR.SO", {{L"", L"NorvikMSRSOImpl Class"}}},
        {L"NorvikMSR.SO\\CLSID", {{L"", GuidText(CLSID_NorvikMSRSOImpl)}}},
        {L"NorvikMSR.SO\\CurVer", {{L"", L"NorvikMSR.SO"}}},
        {clsidKey, {{L"", L"NorvikMSRSOImpl Class"}, {L"AppID", kAppId}}},
        {clsidKey + L"\\ProgID", {{L"", L"NorvikMSR.SO"}}},
        {clsidKey + L"\\VersionIndependentProgID", {{L"", L"NorvikMSR.SO"}}},
        {clsidKey + L"\\Programmable", {}},
        {clsidKey + L"\\InprocServer32", {{L"", ServerPath()}, {L"ThreadingModel", L"Both"}}},
        {clsidKey + L"\\TypeLib", {{L"", GuidText(LIBID_NorvikMSRSOLib)}}},
    };
}

// The four trees that registration owns.
std::vector<std::wstring> OwnedKeys() {
    return {L"NorvikMSR.SO", L"CLSID\\" + GuidText(CLSID_NorvikMSRSOImpl), L"AppID\\" + kAppId,
            L"AppID\\NorvikMSRSO.DLL"};
}

bool KeyExists(const std::wstring& path) {
    UniqueHKey key;
    return ::RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, key.put()) ==
           ERROR_SUCCESS;
}

// What a key holds: its REG_SZ values (other types show as "<type N>") and
// the names of its direct subkeys.
struct KeyContents {
    ValueMap values;
    std::set<std::wstring> subkeys;
};

bool ReadKey(const std::wstring& path, KeyContents& contents) {
    UniqueHKey key;
    if (::RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS) {
        return false;
    }
    for (DWORD index = 0;; ++index) {
        wchar_t name[256];
        DWORD nameLength = ARRAYSIZE(name);
        wchar_t data[1024];
        DWORD dataBytes = sizeof(data);
        DWORD type = 0;
        if (::RegEnumValueW(key.get(), index, name, &nameLength, nullptr, &type,
                            reinterpret_cast<BYTE*>(data), &dataBytes) != ERROR_SUCCESS) {
            break;
        }
        contents.values[name] = type == REG_SZ ? std::wstring(data)
                                               : L"<type " + std::to_wstring(type) + L">";
    }
    for (DWORD index = 0;; ++index) {
        wchar_t name[256];
        DWORD nameLength = ARRAYSIZE(name);
        if (::RegEnumKeyExW(key.get(), index, name, &nameLength, nullptr, nullptr, nullptr,
                            nullptr) != ERROR_SUCCESS) {
            break;
        }
        contents.subkeys.insert(name);
    }
    return true;
}

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

// Compares the registry with the table, key by key and value by value, and
// checks that no key of the table holds a subkey the table does not list.
void ExpectRegistryHoldsExactlyTheTable() {
    const auto table = ExpectedTable();
    for (const auto& [path, expected] : table) {
        SCOPED_TRACE(Narrow(path));
        KeyContents contents;
        ASSERT_TRUE(ReadKey(path, contents)) << "missing key";
        ValueMap actual = contents.values;
        // The module path is compared without regard to case, as Windows does.
        for (auto& [name, data] : actual) {
            if (path.find(L"InprocServer32") != std::wstring::npos && name.empty()) data = Lower(data);
        }
        ValueMap wanted = expected;
        for (auto& [name, data] : wanted) {
            if (path.find(L"InprocServer32") != std::wstring::npos && name.empty()) data = Lower(data);
        }
        EXPECT_EQ(wanted, actual);

        std::set<std::wstring> expectedSubkeys;
        for (const auto& entry : table) {
            const std::wstring& other = entry.first;
            if (other.size() > path.size() + 1 && other.compare(0, path.size(), path) == 0 &&
                other[path.size()] == L'\\' &&
                other.find(L'\\', path.size() + 1) == std::wstring::npos) {
                expectedSubkeys.insert(other.substr(path.size() + 1));
            }
        }
        EXPECT_EQ(expectedSubkeys, contents.subkeys);
    }
}

// Runs the system's regsvr32 of this process's bitness; returns its exit code.
DWORD RunRegsvr32(const std::wstring& options) {
    wchar_t system[MAX_PATH];
    ::GetSystemDirectoryW(system, MAX_PATH);
    return RunProcess(L"\"" + std::wstring(system) + L"\\regsvr32.exe\" " + options + L" \"" +
                      ServerPath() + L"\"");
}

bool TypeLibRegistered(std::wstring* path = nullptr) {
    UniqueBstr registered;
    if (FAILED(::QueryPathOfRegTypeLib(LIBID_NorvikMSRSOLib, 1, 0, 1033, registered.put()))) {
        return false;
    }
    if (path) *path = registered.get();
    return true;
}

class RegistrationTest : public ComTest {
protected:
    void SetUp() override {
        ComTest::SetUp();
        ASSERT_EQ(S_OK, server_.Unregister());
    }
    void TearDown() override {
        EXPECT_EQ(S_OK, server_.Unregister());
        for (const std::wstring& path : OwnedKeys()) EXPECT_FALSE(KeyExists(path));
    }
};

TEST_F(RegistrationTest, Regsvr32WritesExactlyTheTableAndTheTypeLibrary) {
    ASSERT_EQ(0u, RunRegsvr32(L"/s"));
    ExpectRegistryHoldsExactlyTheTable();

    std::wstring path;
    ASSERT_TRUE(TypeLibRegistered(&path));
    EXPECT_EQ(Lower(ServerPath()), Lower(path));
    EXPECT_TRUE(KeyExists(L"Interface\\" + GuidText(IID_INorvikMSRSOImpl)));

    ASSERT_EQ(0u, RunRegsvr32(L"/u /s"));
    for (const std::wstring& owned : OwnedKeys()) EXPECT_FALSE(KeyExists(owned)) << Narrow(owned);
    EXPECT_FALSE(TypeLibRegistered());
}

TEST_F(RegistrationTest, RegisteringTwiceGivesTheSameTable) {
    ASSERT_EQ(S_OK, server_.Register());
    ASSERT_EQ(S_OK, server_.Register());
    ExpectRegistryHoldsExactlyTheTable();
    EXPECT_TRUE(TypeLibRegistered());
}

TEST_F(RegistrationTest, RegistrationReplacesTheClassKeyWholesale) {
    ASSERT_EQ(S_OK, server_.Register());
    const std::wstring clsidKey = L"CLSID\\" + GuidText(CLSID_NorvikMSRSOImpl);
    for (const wchar_t* stale : {L"", L"\\Programmable", L"\\Stale\\Deeper"}) {
        UniqueHKey key;
        ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(HKEY_CLASSES_ROOT, (clsidKey + stale).c_str(), 0,
                                                   nullptr, 0, KEY_WRITE, nullptr, key.put(),
                                                   nullptr));
        const wchar_t data[] = L"left over";
        ASSERT_EQ(ERROR_SUCCESS, ::RegSetValueExW(key.get(), L"Stale", 0, REG_SZ,
                                                  reinterpret_cast<const BYTE*>(data), sizeof data));
    }
    ASSERT_EQ(S_OK, server_.Register());
    ExpectRegistryHoldsExactlyTheTable();
    EXPECT_FALSE(KeyExists(clsidKey + L"\\Stale"));
}

TEST_F(RegistrationTest, UnregistrationRemovesOnlyWhatRegistrationWrote) {
    const std::wstring neighbourClass = L"CLSID\\{0D5B0C1E-7A43-4B8E-9E2D-6F1A7C3B9E01}";
    const std::wstring neighbourApp = L"AppID\\{0D5B0C1E-7A43-4B8E-9E2D-6F1A7C3B9E02}";
    for (const std::wstring& path : {neighbourClass, neighbourApp}) {
        UniqueHKey key;
        ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0,
                                                   KEY_WRITE, nullptr, key.put(), nullptr));
    }
    ASSERT_EQ(S_OK, server_.Register());
    ASSERT_EQ(S_OK, server_.Unregister());

    for (const std::wstring& owned : OwnedKeys()) EXPECT_FALSE(KeyExists(owned)) << Narrow(owned);
    EXPECT_FALSE(TypeLibRegistered());
    EXPECT_FALSE(KeyExists(L"Interface\\" + GuidText(IID_INorvikMSRSOImpl)));
    EXPECT_TRUE(KeyExists(L"CLSID"));
    EXPECT_TRUE(KeyExists(L"AppID"));
    EXPECT_TRUE(KeyExists(neighbourClass));
    EXPECT_TRUE(KeyExists(neighbourApp));

    // Nothing left to remove is not a failure.
    EXPECT_EQ(S_OK, server_.Unregister());

    ::RegDeleteTreeW(HKEY_CLASSES_ROOT, neighbourClass.c_str());
    ::RegDeleteTreeW(HKEY_CLASSES_ROOT, neighbourApp.c_str());
}

TEST_F(RegistrationTest, RegistrationGivesTheCallersThreadLocaleBack) {
    const LCID previous = ::GetThreadLocale();
    const LCID german = MAKELCID(MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN), SORT_DEFAULT);
    ASSERT_TRUE(::SetThreadLocale(german));
    EXPECT_EQ(S_OK, server_.Register());
    EXPECT_EQ(german, ::GetThreadLocale());
    EXPECT_EQ(S_OK, server_.Unregister());
    EXPECT_EQ(german, ::GetThreadLocale());
    ::SetThreadLocale(previous);
    EXPECT_TRUE(TypeLibRegistered() == false);
}

}  // namespace
}  // namespace norvik::com::testing

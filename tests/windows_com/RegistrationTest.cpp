// Registration writes exactly the server's registry table, replaces its
// class key wholesale; unregistration takes back exactly what it wrote.
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
const std::wstring kClassKey = L"CLSID\\" + GuidText(CLSID_NorvikMSRSOImpl);

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

// name ("" = default) -> REG_SZ data; other types read as "<type N>"
using Values = std::map<std::wstring, std::wstring>;

// Every key that registration writes under HKEY_CLASSES_ROOT, with all its values.
std::map<std::wstring, Values> ExpectedTable() {
    return {
        {L"AppID\\" + kAppId, {{L"", L"NorvikMSRSO"}}},
        {L"AppID\\NorvikMSRSO.DLL", {{L"AppID", kAppId}}},
        {L"NorvikMSR.SO", {{L"", L"NorvikMSRSOImpl Class"}}},
        {L"NorvikMSR.SO\\CLSID", {{L"", GuidText(CLSID_NorvikMSRSOImpl)}}},
        {L"NorvikMSR.SO\\CurVer", {{L"", L"NorvikMSR.SO"}}},
        {kClassKey, {{L"", L"NorvikMSRSOImpl Class"}, {L"AppID", kAppId}}},
        {kClassKey + L"\\ProgID", {{L"", L"NorvikMSR.SO"}}},
        {kClassKey + L"\\VersionIndependentProgID", {{L"", L"NorvikMSR.SO"}}},
        {kClassKey + L"\\Programmable", {}},
        {kClassKey + L"\\InprocServer32", {{L"", ServerPath()}, {L"ThreadingModel", L"Both"}}},
        {kClassKey + L"\\TypeLib", {{L"", GuidText(LIBID_NorvikMSRSOLib)}}},
    };
}
const std::vector<std::wstring> kOwnedKeys = {L"NorvikMSR.SO", kClassKey, L"AppID\\" + kAppId,
                                              L"AppID\\NorvikMSRSO.DLL"};

bool KeyExists(const std::wstring& path) {
    UniqueHKey key;
    return ::RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, key.put()) == ERROR_SUCCESS;
}

bool ReadKey(const std::wstring& path, Values& values, std::set<std::wstring>& subkeys) {
    UniqueHKey key;
    if (::RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS) {
        return false;
    }
    wchar_t name[256], data[1024];
    DWORD nameLength = ARRAYSIZE(name), bytes = sizeof(data), type = 0;
    for (DWORD i = 0; ::RegEnumValueW(key.get(), i, name, &nameLength, nullptr, &type,
                                      reinterpret_cast<BYTE*>(data), &bytes) == ERROR_SUCCESS;
         ++i, nameLength = ARRAYSIZE(name), bytes = sizeof(data)) {
        values[name] = type == REG_SZ ? data : L"<type " + std::to_wstring(type) + L">";
    }
    nameLength = ARRAYSIZE(name);
    for (DWORD i = 0; ::RegEnumKeyExW(key.get(), i, name, &nameLength, nullptr, nullptr, nullptr,
                                      nullptr) == ERROR_SUCCESS;
         ++i, nameLength = ARRAYSIZE(name)) {
        subkeys.insert(name);
    }
    return true;
}

// Key by key and value by value, and no subkey the table does not list.
void ExpectExactlyTheTable() {
    const auto table = ExpectedTable();
    for (const auto& [path, expected] : table) {
        SCOPED_TRACE(Narrow(path));
        Values values;
        std::set<std::wstring> subkeys, expectedSubkeys;
        ASSERT_TRUE(ReadKey(path, values, subkeys)) << "missing key";
        if (values.count(L"") && path.find(L"InprocServer32") != std::wstring::npos) {
            // Windows compares module paths without regard to case.
            EXPECT_EQ(0, ::lstrcmpiW(ServerPath().c_str(), values[L""].c_str()));
            values[L""] = ServerPath();
        }
        EXPECT_EQ(expected, values);
        for (const auto& entry : table) {
            const std::wstring& other = entry.first;
            if (other.size() > path.size() + 1 && other.compare(0, path.size() + 1, path + L"\\") == 0 &&
                other.find(L'\\', path.size() + 1) == std::wstring::npos) {
                expectedSubkeys.insert(other.substr(path.size() + 1));
            }
        }
        EXPECT_EQ(expectedSubkeys, subkeys);
    }
}

bool TypeLibRegisteredAt(std::wstring* path) {
    UniqueBstr registered;
    if (FAILED(::QueryPathOfRegTypeLib(LIBID_NorvikMSRSOLib, 1, 0, 1033, registered.put()))) {
        return false;
    }
    *path = registered.get();
    return true;
}

void ExpectNothingLeft() {
    for (const std::wstring& owned : kOwnedKeys) EXPECT_FALSE(KeyExists(owned)) << Narrow(owned);
    std::wstring path;
    EXPECT_FALSE(TypeLibRegisteredAt(&path));
    EXPECT_FALSE(KeyExists(L"Interface\\" + GuidText(IID_INorvikMSRSOImpl)));
    EXPECT_TRUE(KeyExists(L"CLSID"));
    EXPECT_TRUE(KeyExists(L"AppID"));
}

class RegistrationTest : public ComTest {
protected:
    void SetUp() override {
        ComTest::SetUp();
        ASSERT_EQ(S_OK, server_.Unregister());
    }
    void TearDown() override {
        EXPECT_EQ(S_OK, server_.Unregister());
        ExpectNothingLeft();
    }
};

TEST_F(RegistrationTest, Regsvr32RegistersTheTableAndTheTypeLibraryAndTakesThemBack) {
    const std::wstring regsvr32 = SystemProgram(L"regsvr32.exe");
    ASSERT_EQ(0u, RunProcess(regsvr32 + L" /s \"" + ServerPath() + L"\""));
    ExpectExactlyTheTable();
    std::wstring path;
    ASSERT_TRUE(TypeLibRegisteredAt(&path));
    EXPECT_EQ(0, ::lstrcmpiW(ServerPath().c_str(), path.c_str()));
    EXPECT_TRUE(KeyExists(L"Interface\\" + GuidText(IID_INorvikMSRSOImpl)));

    ASSERT_EQ(0u, RunProcess(regsvr32 + L" /u /s \"" + ServerPath() + L"\""));
    ExpectNothingLeft();
}

TEST_F(RegistrationTest, RegisteringAgainGivesTheSameTableWithoutStaleEntries) {
    ASSERT_EQ(S_OK, server_.Register());
    for (const wchar_t* stale : {L"", L"\\Programmable", L"\\Stale\\Deeper"}) {
        UniqueHKey key;
        const wchar_t data[] = L"left over";
        ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(HKEY_CLASSES_ROOT, (kClassKey + stale).c_str(), 0,
                                                   nullptr, 0, KEY_WRITE, nullptr, key.put(), nullptr));
        ASSERT_EQ(ERROR_SUCCESS, ::RegSetValueExW(key.get(), L"Stale", 0, REG_SZ,
                                                  reinterpret_cast<const BYTE*>(data), sizeof data));
    }
    // The thread locale is the system's only while registration runs.
    const LCID previous = ::GetThreadLocale();
    const LCID german = MAKELCID(MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN), SORT_DEFAULT);
    ASSERT_TRUE(::SetThreadLocale(german));
    EXPECT_EQ(S_OK, server_.Register());
    EXPECT_EQ(german, ::GetThreadLocale());
    ::SetThreadLocale(previous);
    ExpectExactlyTheTable();
}

TEST_F(RegistrationTest, UnregistrationLeavesNeighboursAndCanRunTwice) {
    const std::wstring neighbours[] = {L"CLSID\\{0D5B0C1E-7A43-4B8E-9E2D-6F1A7C3B9E01}",
                                       L"AppID\\{0D5B0C1E-7A43-4B8E-9E2D-6F1A7C3B9E02}"};
    for (const std::wstring& path : neighbours) {
        UniqueHKey key;
        ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0,
                                                   KEY_WRITE, nullptr, key.put(), nullptr));
    }
    ASSERT_EQ(S_OK, server_.Register());
    ASSERT_EQ(S_OK, server_.Unregister());
    ExpectNothingLeft();
    EXPECT_EQ(S_OK, server_.Unregister());
    for (const std::wstring& path : neighbours) {
        EXPECT_TRUE(KeyExists(path)) << Narrow(path);
        ::RegDeleteTreeW(HKEY_CLASSES_ROOT, path.c_str());
    }
}

}  // namespace
}  // namespace norvik::com::testing

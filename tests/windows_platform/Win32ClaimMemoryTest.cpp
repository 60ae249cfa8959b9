#include "platform/win32/Win32ClaimMemory.h"

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "ClaimTableCounter.h"
#include "composition/DefaultEnvironment.h"
#include "logic/ClaimTable.h"

namespace norvik {
namespace {

constexpr DWORD kChildTimeoutMilliseconds = 60000;

// Names of a table that no other process uses, one pair per test.
struct TableNames {
    std::string table;
    std::string lock;
};

TableNames UniqueNames() {
    static int serial = 0;
    const std::string stem =
        "NorvikTest.Claim." + std::to_string(::GetCurrentProcessId()) + "." + std::to_string(++serial);
    return {stem + ".Table", stem + ".Lock"};
}

std::string ChildPath() {
    char path[MAX_PATH] = {};
    const DWORD length = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path, length);
    folder.erase(folder.find_last_of("\\/") + 1);
    return folder + "claim_memory_child.exe";
}

class ChildProcess {
public:
    ChildProcess(const TableNames& names, const std::vector<std::string>& arguments) {
        std::string commandLine = "\"" + ChildPath() + "\" " + names.table + " " + names.lock;
        for (const std::string& argument : arguments) commandLine += " \"" + argument + "\"";
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process{};
        std::vector<char> mutableLine(commandLine.begin(), commandLine.end());
        mutableLine.push_back('\0');
        if (::CreateProcessA(nullptr, mutableLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                             &process)) {
            ::CloseHandle(process.hThread);
            process_ = process.hProcess;
        }
    }
    ~ChildProcess() {
        if (process_ == nullptr) return;
        if (::WaitForSingleObject(process_, 0) == WAIT_TIMEOUT) ::TerminateProcess(process_, 99);
        ::CloseHandle(process_);
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool Started() const { return process_ != nullptr; }
    // The child's exit code, or -1 when it did not end in time.
    long Wait() {
        if (process_ == nullptr || ::WaitForSingleObject(process_, kChildTimeoutMilliseconds) != WAIT_OBJECT_0) {
            return -1;
        }
        DWORD code = 0;
        ::GetExitCodeProcess(process_, &code);
        return static_cast<long>(code);
    }

private:
    HANDLE process_ = nullptr;
};

long RunChild(const TableNames& names, const std::vector<std::string>& arguments) {
    ChildProcess child(names, arguments);
    if (!child.Started()) return -2;
    return child.Wait();
}

std::string Slot(Win32ClaimMemory& claims, size_t slot) {
    std::string text = "<no access>";
    claims.Access([&](char(&table)[kClaimTableSize]) {
        const char* start = table + slot * kClaimSlotSize;
        text.assign(start, strnlen(start, kClaimSlotSize));
    });
    return text;
}

TEST(Win32ClaimMemory, ATableIsZeroWhenCreatedAndSharedWithOtherProcesses) {
    const TableNames names = UniqueNames();
    Win32ClaimMemory claims(names.table, names.lock);
    ASSERT_TRUE(claims.IsAvailable());
    ASSERT_TRUE(claims.Access([](char(&table)[kClaimTableSize]) {
        for (size_t i = 0; i < kClaimTableSize; ++i) ASSERT_EQ(table[i], 0) << "byte " << i;
        std::strcpy(table, "Norvik_MSR-1");
    }));

    EXPECT_EQ(RunChild(names, {"expect", "0", "Norvik_MSR-1"}), 0);
    EXPECT_EQ(RunChild(names, {"expect", "0", "Norvik_MSR-2"}), 1);  // the child can tell a mismatch
    EXPECT_EQ(RunChild(names, {"write", "1", "Norvik_MSR-2"}), 0);
    // The writer has ended; the table lives on in this process.
    EXPECT_EQ(Slot(claims, 0), "Norvik_MSR-1");
    EXPECT_EQ(Slot(claims, 1), "Norvik_MSR-2");
}

TEST(Win32ClaimMemory, TheTableEndsWithTheLastProcessThatHoldsIt) {
    const TableNames names = UniqueNames();
    {
        Win32ClaimMemory claims(names.table, names.lock);
        ASSERT_TRUE(claims.Access([](char(&table)[kClaimTableSize]) { std::strcpy(table, "Norvik_MSR-1"); }));
        Win32ClaimMemory second(names.table, names.lock);  // a second mapping sees the same bytes
        EXPECT_EQ(Slot(second, 0), "Norvik_MSR-1");
    }
    Win32ClaimMemory fresh(names.table, names.lock);
    EXPECT_EQ(Slot(fresh, 0), "");
}

TEST(Win32ClaimMemory, ConcurrentIncrementsFromThreeProcessesLoseNone) {
    const TableNames names = UniqueNames();
    Win32ClaimMemory claims(names.table, names.lock);
    ASSERT_TRUE(claims.IsAvailable());
    const std::string goName = names.table + ".Go";
    HANDLE go = ::CreateEventA(nullptr, TRUE, FALSE, goName.c_str());
    ASSERT_NE(go, nullptr);

    constexpr int kIncrementsEach = 5000;
    const std::vector<std::string> arguments = {"increment", std::to_string(kIncrementsEach), goName};
    ChildProcess first(names, arguments);
    ChildProcess second(names, arguments);
    ASSERT_TRUE(first.Started());
    ASSERT_TRUE(second.Started());
    ::SetEvent(go);
    for (int i = 0; i < kIncrementsEach; ++i) ASSERT_TRUE(claimtest::IncrementCounter(claims));
    EXPECT_EQ(first.Wait(), 0);
    EXPECT_EQ(second.Wait(), 0);
    ::CloseHandle(go);

    uint32_t total = 0;
    claims.Access([&](char(&table)[kClaimTableSize]) { total = claimtest::ReadCounter(table); });
    EXPECT_EQ(total, uint32_t{3 * kIncrementsEach});
}

TEST(Win32ClaimMemory, ALockAbandonedByADeadProcessStillGrantsAccess) {
    const TableNames names = UniqueNames();
    Win32ClaimMemory claims(names.table, names.lock);
    EXPECT_EQ(RunChild(names, {"write-and-die", "0", "Norvik_MSR-1"}), 0);
    EXPECT_EQ(Slot(claims, 0), "Norvik_MSR-1");
    EXPECT_TRUE(claims.Access([](char(&table)[kClaimTableSize]) { table[0] = 0; }));  // and it was released again
    EXPECT_EQ(RunChild(names, {"expect", "0", ""}), 0);
}

TEST(Win32ClaimMemory, RefusesAccessWhenTheTableCannotBeCreated) {
    const TableNames names = UniqueNames();
    // An object of another kind under the table's name.
    HANDLE squatter = ::CreateEventA(nullptr, TRUE, FALSE, ("Global\\" + names.table).c_str());
    ASSERT_NE(squatter, nullptr);
    Win32ClaimMemory claims(names.table, names.lock);
    bool ran = false;
    EXPECT_FALSE(claims.IsAvailable());
    EXPECT_EQ(claims.Access([&](char(&)[kClaimTableSize]) { ran = true; }).status(), ClaimAccess::Unavailable);
    EXPECT_FALSE(ran);
    ::CloseHandle(squatter);
}

TEST(Win32ClaimMemory, AProcessHoldingTheLockMakesAccessTimeOutUntilItLetsGo) {
    const TableNames names = UniqueNames();
    Win32ClaimMemory claims(names.table, names.lock, 200);
    const std::string event = names.table + ".Hold";
    HANDLE held = ::CreateEventA(nullptr, TRUE, FALSE, (event + ".Held").c_str());
    HANDLE release = ::CreateEventA(nullptr, TRUE, FALSE, (event + ".Release").c_str());
    ASSERT_TRUE(held && release);
    ChildProcess hung(names, {"hold", "0", event});
    ASSERT_TRUE(hung.Started());
    ASSERT_EQ(::WaitForSingleObject(held, kChildTimeoutMilliseconds), WAIT_OBJECT_0);

    bool ran = false;
    EXPECT_EQ(claims.Access([&](char(&)[kClaimTableSize]) { ran = true; }).status(), ClaimAccess::TimedOut);
    EXPECT_FALSE(ran);
    ::SetEvent(release);
    EXPECT_EQ(hung.Wait(), 0);
    EXPECT_TRUE(claims.Access([&](char(&)[kClaimTableSize]) { ran = true; }));
    EXPECT_TRUE(ran);
    ::CloseHandle(held);
    ::CloseHandle(release);
}

// The table is shared across sessions, and its descriptor lets every user in,
// whoever created it: authenticated and interactive users, services, and
// processes of low integrity.
TEST(Win32ClaimMemory, LivesInTheGlobalNamespaceWithADescriptorForEveryUser) {
    const TableNames names = UniqueNames();
    Win32ClaimMemory claims(names.table, names.lock);
    ASSERT_TRUE(claims.IsAvailable());
    EXPECT_EQ(claims.Namespace(), "Global\\");
    HANDLE lock = ::OpenMutexA(READ_CONTROL | SYNCHRONIZE, FALSE, ("Global\\" + names.lock).c_str());
    ASSERT_NE(lock, nullptr) << ::GetLastError();
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_EQ(::GetSecurityInfo(lock, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION | LABEL_SECURITY_INFORMATION,
                                nullptr, nullptr, nullptr, nullptr, &descriptor),
              static_cast<DWORD>(ERROR_SUCCESS));
    char* text = nullptr;
    ASSERT_TRUE(::ConvertSecurityDescriptorToStringSecurityDescriptorA(
        descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION | LABEL_SECURITY_INFORMATION, &text, nullptr));
    const std::string sddl = text;
    for (const char* trustee : {";;;AU)", ";;;IU)", ";;;SU)", ";;;LS)", ";;;NS)"}) {
        EXPECT_NE(sddl.find(trustee), std::string::npos) << trustee << " missing from " << sddl;
    }
    ::LocalFree(text);
    ::LocalFree(descriptor);
    ::CloseHandle(lock);

    // Wine keeps no integrity label on kernel objects: the descriptor the
    // objects are created with must carry none, so that the default label
    // keeps processes of low integrity from writing.
    PSECURITY_DESCRIPTOR created = nullptr;
    ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorA(Win32ClaimMemory::kSecurityDescriptor,
                                                                       SDDL_REVISION_1, &created, nullptr));
    BOOL present = FALSE, defaulted = FALSE;
    PACL sacl = nullptr;
    ASSERT_TRUE(::GetSecurityDescriptorSacl(created, &present, &sacl, &defaulted));
    EXPECT_FALSE(present && sacl != nullptr && sacl->AceCount > 0);
    ::LocalFree(created);
}

// Objects that another user created first under the table's names are never
// used, and no other namespace is taken in their place.
TEST(Win32ClaimMemory, RefusesObjectsThatAreNotOurs) {
    // Owned by this (non-system) user and open to everyone: not the descriptor we write.
    const char* openToAll = "D:P(A;;GA;;;WD)";
    // Open to SYSTEM alone: shuts us out.
    const char* systemOnly = "D:P(A;;GA;;;SY)";
    for (const char* sddl : {openToAll, systemOnly}) {
        for (const bool squatLock : {true, false}) {
            const TableNames names = UniqueNames();
            PSECURITY_DESCRIPTOR descriptor = nullptr;
            ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &descriptor,
                                                                               nullptr));
            SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
            HANDLE squatter = squatLock ? ::CreateMutexA(&attributes, FALSE, ("Global\\" + names.lock).c_str())
                                        : ::CreateFileMappingA(INVALID_HANDLE_VALUE, &attributes, PAGE_READWRITE, 0,
                                                               kClaimTableSize, ("Global\\" + names.table).c_str());
            ::LocalFree(descriptor);
            ASSERT_NE(squatter, nullptr);
            Win32ClaimMemory claims(names.table, names.lock);
            EXPECT_FALSE(claims.IsAvailable()) << sddl;
            EXPECT_EQ(ClaimName(claims, "Norvik_MSR-1"), ClaimResult::Unavailable);
            const std::string object = "Global\\" + (squatLock ? names.lock : names.table);
            EXPECT_NE(claims.Problem().find(object), std::string::npos) << claims.Problem();
            ::CloseHandle(squatter);
        }
    }
}

// A claim whose holder died without releasing it is freed by the next claim;
// the table can tell by the process ID and its start time.
TEST(Win32ClaimMemory, AClaimOfAProcessThatDiedIsFreed) {
    const TableNames names = UniqueNames();
    Win32ClaimMemory claims(names.table, names.lock);
    const ProcessIdentity self = claims.CurrentProcess();
    EXPECT_FALSE(claims.HasEnded(self));
    EXPECT_TRUE(claims.HasEnded({self.processId, self.startTime + 1}));
    ChildProcess child(names, {"claim-and-die", "0", "Norvik_MSR-1"});
    ASSERT_TRUE(child.Started());
    ASSERT_EQ(child.Wait(), 0);
    ASSERT_EQ(Slot(claims, 0), "Norvik_MSR-1");
    EXPECT_EQ(ClaimName(claims, "Norvik_MSR-1"), ClaimResult::Granted);
    EXPECT_EQ(ClaimName(claims, "Norvik_MSR-1"), ClaimResult::HeldElsewhere);  // ours now, and we run
}

TEST(Win32DefaultPlatform, MapsTheSystemTableOncePerProcess) {
    ClaimMemory& claims = DefaultClaimMemory();
    EXPECT_EQ(&claims, &DefaultClaimMemory());
    EXPECT_TRUE(claims.Access([](char(&)[kClaimTableSize]) {}));
}

}  // namespace
}  // namespace norvik

// Second process of the claim-memory test. Usage:
//   claim_memory_child TABLE LOCK expect SLOT TEXT     exit 0 when slot SLOT holds TEXT
//   claim_memory_child TABLE LOCK write SLOT TEXT      writes TEXT into slot SLOT
//   claim_memory_child TABLE LOCK write-and-die SLOT TEXT
//                                                      the same, then ends while holding the lock
//   claim_memory_child TABLE LOCK claim-and-die SLOT NAME
//                                                      claims NAME (recorded with this process as its
//                                                      holder), then ends without releasing it
//   claim_memory_child TABLE LOCK increment COUNT GO   waits for event GO, then increments COUNT times
//   claim_memory_child TABLE LOCK hold SLOT EVENT      holds the lock: signals EVENT.Held, then waits
//                                                      for EVENT.Release (a hung process, until then)
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "ClaimTableCounter.h"
#include "logic/ClaimTable.h"
#include "platform/win32/Win32ClaimMemory.h"

namespace {

enum ExitCode { kOk = 0, kMismatch = 1, kUsage = 2, kUnavailable = 3, kNoStartSignal = 4 };

int SlotIndex(const char* text) {
    const int slot = std::atoi(text);
    return (slot >= 0 && slot < static_cast<int>(norvik::kClaimSlotCount)) ? slot : -1;
}

void WriteSlot(char (&table)[norvik::kClaimTableSize], int slot, const std::string& text) {
    char* target = table + slot * norvik::kClaimSlotSize;
    std::memset(target, 0, norvik::kClaimSlotSize);
    std::memcpy(target, text.data(), std::min(text.size(), norvik::kClaimSlotSize - 1));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 6) return kUsage;
    norvik::Win32ClaimMemory claims(argv[1], argv[2]);
    if (!claims.IsAvailable()) return kUnavailable;
    const std::string command = argv[3];

    if (command == "increment") {
        const int count = std::atoi(argv[4]);
        HANDLE go = ::OpenEventA(SYNCHRONIZE, FALSE, argv[5]);
        if (go == nullptr) return kNoStartSignal;
        const DWORD waited = ::WaitForSingleObject(go, 60000);
        ::CloseHandle(go);
        if (waited != WAIT_OBJECT_0) return kNoStartSignal;
        for (int i = 0; i < count; ++i) {
            if (!norvik::claimtest::IncrementCounter(claims)) return kUnavailable;
        }
        return kOk;
    }

    if (command == "hold") {
        const std::string event = argv[5];
        HANDLE held = ::OpenEventA(EVENT_MODIFY_STATE, FALSE, (event + ".Held").c_str());
        HANDLE release = ::OpenEventA(SYNCHRONIZE, FALSE, (event + ".Release").c_str());
        if (held == nullptr || release == nullptr) return kNoStartSignal;
        const bool ran = static_cast<bool>(claims.Access([&](char(&)[norvik::kClaimTableSize]) {
            ::SetEvent(held);
            ::WaitForSingleObject(release, 60000);
        }));
        ::CloseHandle(held);
        ::CloseHandle(release);
        return ran ? kOk : kUnavailable;
    }

    const int slot = SlotIndex(argv[4]);
    if (slot < 0) return kUsage;
    const std::string text = argv[5];
    if (command == "expect") {
        bool same = false;
        if (!claims.Access([&](char(&table)[norvik::kClaimTableSize]) {
                same = std::strncmp(table + slot * norvik::kClaimSlotSize, text.c_str(), norvik::kClaimSlotSize) == 0;
            })) {
            return kUnavailable;
        }
        return same ? kOk : kMismatch;
    }
    if (command == "claim-and-die") {
        if (norvik::ClaimName(claims, text) != norvik::ClaimResult::Granted) return kMismatch;
        ::TerminateProcess(::GetCurrentProcess(), kOk);
    }
    if (command == "write" || command == "write-and-die") {
        const bool die = command == "write-and-die";
        if (!claims.Access([&](char(&table)[norvik::kClaimTableSize]) {
                WriteSlot(table, slot, text);
                if (die) ::TerminateProcess(::GetCurrentProcess(), kOk);  // leaves the lock abandoned
            })) {
            return kUnavailable;
        }
        return kOk;
    }
    return kUsage;
}

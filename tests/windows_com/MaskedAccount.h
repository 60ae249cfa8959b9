// A card for memory scans: an account number made at run time and kept
// XOR-masked, so that the plain digits exist only where the card went, and a
// scan of the process's committed memory for them, narrow and UTF-16.
#pragma once

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace norvik::testing {

constexpr size_t kDigits = 16;

// An account number made at run time, kept XOR-masked: the plain digits exist
// only inside the buffers handed to the simulated reader, wiped right after.
class MaskedAccount {
public:
    explicit MaskedAccount(unsigned seed) {
        for (size_t i = 0; i < kDigits; ++i) {
            seed = seed * 1103515245u + 12345u;
            masked_[i] = static_cast<unsigned char>(('0' + (i == 0 ? 4 : (seed >> 16) % 10)) ^ kMask);
        }
    }
    // Swipes a card that carries the number on tracks 1 and 2 through
    // `deliver(track1, track2)`. On a thread of its own, whose stack (holding
    // the application's copies) goes with it.
    template <typename Deliver>
    bool Swipe(Deliver deliver) const {
        bool swiped = false;
        std::thread([&] {
            char track1[64] = "%B", track2[64] = ";";
            for (size_t i = 0; i < kDigits; ++i) {
                track1[2 + i] = track2[1 + i] = static_cast<char>(masked_[i] ^ kMask);
            }
            std::strcpy(track1 + 2 + kDigits, "^HYGIENE/TEST^2912101000000000000?");
            std::strcpy(track2 + 1 + kDigits, "=29121010000000000?");
            swiped = deliver(track1, track2);
            ::SecureZeroMemory(track1, sizeof track1);
            ::SecureZeroMemory(track2, sizeof track2);
        }).join();
        return swiped;
    }
    // Where the number lies in committed, readable memory (narrow or UTF-16).
    std::vector<std::string> Hits() const;

private:
    static constexpr unsigned char kMask = 0x5A;
    bool MatchesAt(const unsigned char* bytes, size_t available, size_t stride) const {
        if (available < kDigits * stride) return false;
        for (size_t i = 0; i < kDigits; ++i) {
            if ((bytes[i * stride] ^ kMask) != masked_[i]) return false;
            if (stride == 2 && bytes[i * 2 + 1] != 0) return false;
        }
        return true;
    }
    unsigned char masked_[kDigits];
};

inline std::vector<std::string> MaskedAccount::Hits() const {
    constexpr size_t kChunk = 1 << 16;
    constexpr size_t kOverlap = 2 * kDigits;
    constexpr DWORD kReadable = PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READ |
                                PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
    auto* chunk = static_cast<unsigned char*>(::VirtualAlloc(nullptr, kChunk, MEM_COMMIT, PAGE_READWRITE));
    std::vector<std::string> hits;
    if (chunk == nullptr) return {"no scan buffer"};
    SYSTEM_INFO system;
    ::GetSystemInfo(&system);
    auto* address = static_cast<unsigned char*>(system.lpMinimumApplicationAddress);
    MEMORY_BASIC_INFORMATION region;
    while (address < system.lpMaximumApplicationAddress && ::VirtualQuery(address, &region, sizeof region)) {
        auto* base = static_cast<unsigned char*>(region.BaseAddress);
        address = base + region.RegionSize;
        if (region.State != MEM_COMMIT || (region.Protect & PAGE_GUARD) || !(region.Protect & kReadable) ||
            base == chunk) {
            continue;
        }
        for (size_t offset = 0; offset < region.RegionSize; offset += kChunk - kOverlap) {
            SIZE_T read = 0;
            const size_t wanted = std::min<size_t>(kChunk, region.RegionSize - offset);
            if (!::ReadProcessMemory(::GetCurrentProcess(), base + offset, chunk, wanted, &read)) break;
            for (size_t at = 0; at < read; ++at) {
                for (size_t stride : {1, 2}) {
                    if (!MatchesAt(chunk + at, read - at, stride)) continue;
                    // Where, and what surrounds it, digits hidden: never a copy of the card.
                    char where[160];
                    int n = std::snprintf(where, sizeof where, "%p (%s, allocation %p, type %lx): ",
                                          static_cast<void*>(base + offset + at), stride == 1 ? "narrow" : "UTF-16",
                                          region.AllocationBase, static_cast<unsigned long>(region.Type));
                    for (size_t k = at > 24 ? at - 24 : 0; k < std::min<size_t>(read, at + 48) && n < 158; ++k) {
                        const unsigned char c = chunk[k];
                        where[n++] = c >= '0' && c <= '9' ? '#' : (c >= 32 && c < 127 ? static_cast<char>(c) : '.');
                    }
                    where[n] = '\0';
                    hits.push_back(where);
                }
            }
            if (wanted < kChunk) break;
        }
    }
    ::SecureZeroMemory(chunk, kChunk);
    ::VirtualFree(chunk, 0, MEM_RELEASE);
    return hits;
}

}  // namespace norvik::testing

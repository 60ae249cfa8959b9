// Zeroes memory that held card data with writes the compiler may not drop,
// even when the memory is never read again (as SecureZeroMemory does).
#pragma once

#include <cstddef>
#include <string>

namespace norvik {

inline void SecureWipe(void* data, size_t size) noexcept {
    volatile unsigned char* bytes = static_cast<volatile unsigned char*>(data);
    while (size-- > 0) *bytes++ = 0;
}

// The whole buffer of a string, spare capacity included, then empties it.
inline void SecureWipe(std::string& text) noexcept {
    text.resize(text.capacity());
    SecureWipe(&text[0], text.size());
    text.clear();
}

// Overwrites the SSE registers, which string and copy routines leave holding
// the last bytes they moved. A system call saves them with the thread's
// context; under Wine that saved context lies in the process's own memory,
// and a register left all zero is not saved again, so the card would stay
// there. All ones is saved over it at the thread's next system call.
// Called by the threads that handle cards, once a card is dealt with.
inline void WipeVectorRegisters() noexcept {
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#define NORVIK_XMM_FILL(n) "pcmpeqd %%xmm" #n ", %%xmm" #n "\n\t"
#if defined(__SSE__)
#define NORVIK_XMM_CLOBBERS(...) : : : __VA_ARGS__
#else
    // Built without SSE, the compiler keeps nothing in these registers; the
    // system's own routines still use them.
#define NORVIK_XMM_CLOBBERS(...) : : :
#endif
    __asm__ volatile(NORVIK_XMM_FILL(0) NORVIK_XMM_FILL(1) NORVIK_XMM_FILL(2) NORVIK_XMM_FILL(3)
                     NORVIK_XMM_FILL(4) NORVIK_XMM_FILL(5) NORVIK_XMM_FILL(6) NORVIK_XMM_FILL(7)
                     NORVIK_XMM_CLOBBERS("xmm0", "xmm1", "xmm2", "xmm3", "xmm4", "xmm5", "xmm6", "xmm7"));
#if defined(__x86_64__)
    __asm__ volatile(NORVIK_XMM_FILL(8) NORVIK_XMM_FILL(9) NORVIK_XMM_FILL(10) NORVIK_XMM_FILL(11)
                     NORVIK_XMM_FILL(12) NORVIK_XMM_FILL(13) NORVIK_XMM_FILL(14) NORVIK_XMM_FILL(15)
                     NORVIK_XMM_CLOBBERS("xmm8", "xmm9", "xmm10", "xmm11", "xmm12", "xmm13", "xmm14", "xmm15"));
#endif
#undef NORVIK_XMM_FILL
#undef NORVIK_XMM_CLOBBERS
#endif
}

}  // namespace norvik

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

}  // namespace norvik

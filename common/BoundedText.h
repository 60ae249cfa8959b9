// Fixed-capacity, always-terminated narrow text. Every write is cut at the
// capacity, never past it. Header-only: each module carries its own copy, so
// nothing but C types crosses a DLL boundary.
#pragma once

#include <cstddef>
#include <cstring>
#include <string_view>

namespace norvik {

// Copies `source` into `dest` (capacity includes the terminator), cut to fit.
// Returns the number of characters written.
inline size_t CopyBounded(char* dest, size_t capacity, std::string_view source) {
    if (capacity == 0) return 0;
    size_t n = source.size() < capacity - 1 ? source.size() : capacity - 1;
    if (n > 0) std::memcpy(dest, source.data(), n);  // an empty view may carry a null data()
    dest[n] = '\0';
    return n;
}

// Appends `source` to the terminated text in `dest`, cut to fit.
inline size_t AppendBounded(char* dest, size_t capacity, std::string_view source) {
    if (capacity == 0) return 0;
    size_t used = ::strnlen(dest, capacity - 1);
    return used + CopyBounded(dest + used, capacity - used, source);
}

template <size_t N>
class Text {
    static_assert(N > 0, "a text holds at least its terminator");

public:
    static constexpr size_t kCapacity = N;

    Text() = default;
    // Assigning and clearing zero the bytes past the text too, so that no
    // earlier, longer value (a card's track, say) lingers behind the terminator.
    void Assign(std::string_view s) {
        const size_t n = CopyBounded(chars_, N, s);
        std::memset(chars_ + n, 0, N - n);
    }
    void Append(std::string_view s) { AppendBounded(chars_, N, s); }
    void Clear() { std::memset(chars_, 0, N); }
    // The same as Clear(), with writes the compiler may not drop even when the
    // text is never read again (a destructor's).
    void Wipe() {
        volatile char* chars = chars_;
        for (size_t i = 0; i < N; ++i) chars[i] = '\0';
    }
    const char* c_str() const { return chars_; }
    char* data() { return chars_; }
    std::string_view view() const { return std::string_view(chars_, ::strnlen(chars_, N)); }
    size_t size() const { return ::strnlen(chars_, N); }
    bool empty() const { return chars_[0] == '\0'; }
    Text& operator=(std::string_view s) {
        Assign(s);
        return *this;
    }
    bool operator==(std::string_view s) const { return view() == s; }

private:
    char chars_[N] = {};
};

}  // namespace norvik

// printf-style formatting into a std::string, for the message and status texts.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <string>

namespace swipebench {

#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
inline std::string FormatText(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    va_list measuring;
    va_copy(measuring, arguments);
    int length = vsnprintf(nullptr, 0, format, measuring);
    va_end(measuring);
    std::string text;
    if (length > 0) {
        text.resize(static_cast<size_t>(length) + 1);
        vsnprintf(&text[0], text.size(), format, arguments);
        text.resize(static_cast<size_t>(length));
    }
    va_end(arguments);
    return text;
}

}  // namespace swipebench

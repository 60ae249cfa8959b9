#include "logic/TextFields.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "common/BoundedText.h"

namespace norvik {

namespace {

std::string_view ViewOf(const char* source) {
    return source ? std::string_view(source) : std::string_view();
}

// Clears `out` first so that every failure leaves an empty text behind.
void StoreResult(bool found, std::string_view field, char* out, size_t outCapacity) {
    if (out == nullptr || outCapacity == 0) return;
    CopyBounded(out, outCapacity, found ? field : std::string_view());
}

}  // namespace

int DelCount(char delimiter, std::string_view source) {
    auto count = std::count(source.begin(), source.end(), delimiter);
    return count > INT_MAX ? INT_MAX : static_cast<int>(count);
}

bool SubString(int n, char delimiter, std::string_view source, std::string_view& out) {
    out = {};
    if (source.empty() || n < 1) return false;
    size_t fieldStart = 0;
    for (int field = 1; field < n; ++field) {
        size_t next = source.find(delimiter, fieldStart);
        if (next == std::string_view::npos) return false;
        fieldStart = next + 1;
    }
    size_t fieldEnd = source.find(delimiter, fieldStart);
    if (fieldEnd == std::string_view::npos) fieldEnd = source.size();
    out = source.substr(fieldStart, fieldEnd - fieldStart);
    return true;
}

bool SubStringIndex(int start, int length, std::string_view source, std::string_view& out) {
    out = {};
    if (source.empty() || start < 0 || source.size() < static_cast<size_t>(start)) return false;
    std::string_view rest = source.substr(static_cast<size_t>(start));
    out = length < 0 ? rest : rest.substr(0, static_cast<size_t>(length));
    return true;
}

int DelCount(char delimiter, const char* source) { return DelCount(delimiter, ViewOf(source)); }

bool SubString(int n, char delimiter, const char* source, char* out, size_t outCapacity) {
    std::string_view field;
    bool found = SubString(n, delimiter, ViewOf(source), field);
    StoreResult(found, field, out, outCapacity);
    return found;
}

bool SubStringIndex(int start, int length, const char* source, char* out, size_t outCapacity) {
    std::string_view slice;
    bool found = SubStringIndex(start, length, ViewOf(source), slice);
    StoreResult(found, slice, out, outCapacity);
    return found;
}

}  // namespace norvik

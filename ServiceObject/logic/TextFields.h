// Field and slice helpers for delimited narrow text (track data, statistics
// requests). Every write into a caller's buffer is cut at its capacity and
// always terminated; nothing is written when the capacity is 0.
#pragma once

#include <cstddef>
#include <string_view>

namespace norvik {

// Field `n` (counted from 1) of `source` split at every `delimiter`. Fields
// may be empty. False, with `out` empty, when `source` is empty or null or
// when there is no field `n`. A field longer than the buffer is cut.
bool SubString(int n, char delimiter, const char* source, char* out, size_t outCapacity);

// At most `length` characters of `source` from index `start` (from 0); a
// negative `length` takes the rest. False, with `out` empty, when `source`
// is empty or null, `start` is negative or `source` is shorter than `start`.
bool SubStringIndex(int start, int length, const char* source, char* out, size_t outCapacity);

// The number of `delimiter` characters in `source` (0 for null).
int DelCount(char delimiter, const char* source);

// The same three on views, without copying: `out` refers into `source`.
// Used where the source is a fixed field that may lack its terminator.
bool SubString(int n, char delimiter, std::string_view source, std::string_view& out);
bool SubStringIndex(int start, int length, std::string_view source, std::string_view& out);
int DelCount(char delimiter, std::string_view source);

}  // namespace norvik

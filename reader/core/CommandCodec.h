// Command texts for the reader: hexadecimal byte tokens packed into a HID
// feature report (report ID 0, command number, data length, data bytes).
#pragma once

#include <cstddef>
#include <cstdint>

namespace vorlex {

enum class TokenResult : int { Invalid = -1, End = 0, Byte = 1 };

// Reads the next byte token of `text` from `position` on, advancing it past
// every character taken. Blanks, tabs, CR and LF separate tokens; two digits
// complete a token even without a separator ("123" reads 0x12, then 0x3).
TokenResult NextHexByte(const char* text, size_t& position, uint8_t& value);

// Fills `request` (`requestLength` bytes, already zeroed) from `command`.
// With mode 1 the command carries its own length byte after the command
// number; otherwise the data bytes are counted. False when the command is
// empty, malformed, or has more data bytes than the report holds.
bool ParseCommand(const char* command, int32_t mode, uint8_t* request, size_t requestLength);

}  // namespace vorlex

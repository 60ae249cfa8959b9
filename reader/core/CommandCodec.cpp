#include "core/CommandCodec.h"

#include <cstdlib>
#include <cstring>

namespace vorlex {
namespace {

constexpr size_t kHeaderLength = 3;  // report ID, command number, data length

bool IsSeparator(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

}  // namespace

TokenResult NextHexByte(const char* text, size_t& position, uint8_t& value) {
    value = 0;
    bool begun = false;
    while (text[position] != '\0') {
        const char c = text[position];
        if (IsSeparator(c)) {
            ++position;
            if (begun) return TokenResult::Byte;
            continue;
        }
        const int digit = HexDigitValue(c);
        if (digit < 0) return TokenResult::Invalid;
        ++position;
        if (!begun) {
            begun = true;
            value = static_cast<uint8_t>(digit);
        } else {
            value = static_cast<uint8_t>(value * 16 + digit);
            return TokenResult::Byte;
        }
    }
    return begun ? TokenResult::Byte : TokenResult::End;
}

bool ParseCommand(const char* command, int32_t mode, uint8_t* request, size_t requestLength) {
    if (command == nullptr || command[0] == '\0' || requestLength < kHeaderLength) return false;
    const size_t commandLength = std::strlen(command);

    size_t position = 0;
    uint8_t value = 0;
    if (NextHexByte(command, position, value) != TokenResult::Byte) return false;
    request[1] = value;

    if (mode == 1) {
        // The two characters after the command number are its length as
        // written; a shorter command is skipped only as far as it goes.
        position = position + 2 < commandLength ? position + 2 : commandLength;
    }

    size_t dataBytes = 0;
    for (;;) {
        const TokenResult token = NextHexByte(command, position, value);
        if (token == TokenResult::End) break;
        if (token == TokenResult::Invalid) return false;
        if (kHeaderLength + dataBytes >= requestLength) return false;
        request[kHeaderLength + dataBytes++] = value;
    }

    if (mode == 1) {
        // Third and fourth characters, read as strtol does with base 16.
        char written[3] = {};
        if (commandLength > 2) std::memcpy(written, command + 2, commandLength > 3 ? 2 : 1);
        request[2] = static_cast<uint8_t>(std::strtol(written, nullptr, 16));
    } else {
        request[2] = static_cast<uint8_t>(dataBytes);
    }
    return true;
}

}  // namespace vorlex

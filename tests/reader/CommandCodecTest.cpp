// Command texts packed into feature reports.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/CommandCodec.h"

namespace vorlex {
namespace {

struct Parsed {
    bool ok;
    std::vector<uint8_t> request;
};

Parsed Parse(const char* command, int32_t mode, size_t featureLength = 16) {
    std::vector<uint8_t> request(featureLength, 0);
    const bool ok = ParseCommand(command, mode, request.data(), request.size());
    return {ok, request};
}

std::vector<uint8_t> Bytes(std::initializer_list<int> values, size_t featureLength = 16) {
    std::vector<uint8_t> bytes(featureLength, 0);
    size_t i = 0;
    for (int v : values) bytes[i++] = static_cast<uint8_t>(v);
    return bytes;
}

TEST(ParseCommandTest, CountsDataBytesOrTakesTheWrittenLength) {
    Parsed p = Parse("02 01 03", 0);
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.request, Bytes({0x00, 0x02, 0x02, 0x01, 0x03}));

    p = Parse("020103", 1);
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.request, Bytes({0x00, 0x02, 0x01, 0x03}));

    p = Parse("02FF03", 1);  // the length is sent as written, not counted
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.request, Bytes({0x00, 0x02, 0xFF, 0x03}));

    p = Parse("1 2 3", 0);
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.request, Bytes({0x00, 0x01, 0x02, 0x02, 0x03}));

    p = Parse("ABC", 0);
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.request, Bytes({0x00, 0xAB, 0x01, 0x0C}));

    p = Parse("\t0a\r\n0B ", 7);  // separators of every kind, lower case digits
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.request, Bytes({0x00, 0x0A, 0x01, 0x0B}));

    p = Parse("0f Ff", 0);  // the last digit in both cases
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.request, Bytes({0x00, 0x0F, 0x01, 0xFF}));
}

TEST(ParseCommandTest, RefusesEmptyMalformedAndOversizedCommands) {
    EXPECT_FALSE(Parse("", 0).ok);
    EXPECT_FALSE(Parse("   ", 0).ok);
    EXPECT_FALSE(Parse("G1", 0).ok);
    EXPECT_FALSE(Parse("01 0Z", 0).ok);
    EXPECT_FALSE(Parse("01 -2", 0).ok);
    EXPECT_FALSE(Parse(nullptr, 0).ok);
    // A report of 8 bytes holds 5 data bytes after the header.
    EXPECT_TRUE(Parse("01 1 2 3 4 5", 0, 8).ok);
    EXPECT_FALSE(Parse("01 1 2 3 4 5 6", 0, 8).ok);
}

TEST(ParseCommandTest, ShortModeOneCommandsAreNotReadPastTheirEnd) {
    // The buffer ends right after the text, so reading past it would be caught by ASan.
    for (const std::string text : {"0", "02", "020", "0203"}) {
        SCOPED_TRACE(text);
        std::vector<char> exact(text.begin(), text.end());
        exact.push_back('\0');
        const Parsed p = Parse(exact.data(), 1);
        ASSERT_TRUE(p.ok);
        EXPECT_EQ(p.request[3], 0);  // nothing past the length is data
    }
    EXPECT_EQ(Parse("0", 1).request[1], 0x00);
    EXPECT_EQ(Parse("7", 1).request[1], 0x07);
    EXPECT_EQ(Parse("020", 1).request[2], 0x00);  // "0" read as a hexadecimal number
    EXPECT_EQ(Parse("0203", 1).request[2], 0x03);
    EXPECT_EQ(Parse("02G3", 1).request[2], 0x00);  // strtol stops at the first non-digit
}

TEST(NextHexByteTest, ReadsTwoDigitsAtATimeAndReportsTheEnd) {
    const char* text = "123 4";
    size_t position = 0;
    uint8_t value = 0xEE;
    EXPECT_EQ(NextHexByte(text, position, value), TokenResult::Byte);
    EXPECT_EQ(value, 0x12);
    EXPECT_EQ(NextHexByte(text, position, value), TokenResult::Byte);
    EXPECT_EQ(value, 0x03);
    EXPECT_EQ(NextHexByte(text, position, value), TokenResult::Byte);
    EXPECT_EQ(value, 0x04);
    EXPECT_EQ(NextHexByte(text, position, value), TokenResult::End);
    EXPECT_EQ(value, 0);

    position = 0;
    EXPECT_EQ(NextHexByte(" x1", position, value), TokenResult::Invalid);
}

}  // namespace
}  // namespace vorlex

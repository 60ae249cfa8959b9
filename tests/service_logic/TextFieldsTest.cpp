#include "logic/TextFields.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace norvik {
namespace {

// A buffer pre-filled with a marker, so that tests see what was (not) written.
struct Buffer {
    char bytes[32];
    Buffer() { std::memset(bytes, '#', sizeof bytes); }
    std::string text() const { return std::string(bytes, ::strnlen(bytes, sizeof bytes)); }
};

TEST(SubString, TakesEachFieldCountedFromOne) {
    const char* source = "%B4111^DOE/JOHN^2512101?";
    Buffer out;
    EXPECT_TRUE(SubString(1, '^', source, out.bytes, sizeof out.bytes));
    EXPECT_EQ(out.text(), "%B4111");
    EXPECT_TRUE(SubString(2, '^', source, out.bytes, sizeof out.bytes));
    EXPECT_EQ(out.text(), "DOE/JOHN");
    EXPECT_TRUE(SubString(3, '^', source, out.bytes, sizeof out.bytes));
    EXPECT_EQ(out.text(), "2512101?");
}

TEST(SubString, TextWithoutDelimiterIsItsOnlyField) {
    Buffer out;
    EXPECT_TRUE(SubString(1, '/', "DOE", out.bytes, sizeof out.bytes));
    EXPECT_EQ(out.text(), "DOE");
    EXPECT_FALSE(SubString(2, '/', "DOE", out.bytes, sizeof out.bytes));
    EXPECT_EQ(out.text(), "");
}

TEST(SubString, EmptyFieldsExistBetweenLeadingTrailingAndDoubledDelimiters) {
    Buffer out;
    EXPECT_TRUE(SubString(1, ',', ",a,,b,", out.bytes, sizeof out.bytes));
    EXPECT_EQ(out.text(), "");
    EXPECT_TRUE(SubString(2, ',', ",a,,b,", out.bytes, sizeof out.bytes));
    EXPECT_EQ(out.text(), "a");
    EXPECT_TRUE(SubString(3, ',', ",a,,b,", out.bytes, sizeof out.bytes));
    EXPECT_EQ(out.text(), "");
    EXPECT_TRUE(SubString(4, ',', ",a,,b,", out.bytes, sizeof out.bytes));
    EXPECT_EQ(out.text(), "b");
    EXPECT_TRUE(SubString(5, ',', ",a,,b,", out.bytes, sizeof out.bytes));
    EXPECT_EQ(out.text(), "");
    EXPECT_FALSE(SubString(6, ',', ",a,,b,", out.bytes, sizeof out.bytes));
}

TEST(SubString, MissingFieldOrSourceGivesFalseAndEmptiesOut) {
    for (int n : {0, -1, 4, 1000}) {
        Buffer out;
        EXPECT_FALSE(SubString(n, ',', "a,b,c", out.bytes, sizeof out.bytes)) << n;
        EXPECT_EQ(out.text(), "") << n;
    }
    Buffer emptySource;
    EXPECT_FALSE(SubString(1, ',', "", emptySource.bytes, sizeof emptySource.bytes));
    EXPECT_EQ(emptySource.text(), "");
    Buffer nullSource;
    EXPECT_FALSE(SubString(1, ',', nullptr, nullSource.bytes, sizeof nullSource.bytes));
    EXPECT_EQ(nullSource.text(), "");
}

TEST(SubString, LongFieldIsCutAtCapacityAndNothingPastItIsWritten) {
    Buffer out;
    EXPECT_TRUE(SubString(2, '^', "x^ABCDEFGHIJ^y", out.bytes, 5));
    EXPECT_EQ(std::string(out.bytes), "ABCD");
    EXPECT_EQ(out.bytes[5], '#');

    Buffer untouched;
    EXPECT_TRUE(SubString(1, '^', "abc", untouched.bytes, 0));
    EXPECT_EQ(untouched.bytes[0], '#');
    EXPECT_TRUE(SubString(1, '^', "abc", nullptr, 16));
}

TEST(SubStringIndex, CopiesAtMostLengthCharactersFromStart) {
    Buffer out;
    EXPECT_TRUE(SubStringIndex(4, 3, "2512101123", out.bytes, sizeof out.bytes));
    EXPECT_EQ(out.text(), "101");
    EXPECT_TRUE(SubStringIndex(0, 4, "2512101123", out.bytes, sizeof out.bytes));
    EXPECT_EQ(out.text(), "2512");
    EXPECT_TRUE(SubStringIndex(8, 10, "2512101123", out.bytes, sizeof out.bytes));
    EXPECT_EQ(out.text(), "23");
}

TEST(SubStringIndex, ZeroLengthIsEmptyAndNegativeLengthTakesTheRest) {
    Buffer out;
    EXPECT_TRUE(SubStringIndex(2, 0, "abcdef", out.bytes, sizeof out.bytes));
    EXPECT_EQ(out.text(), "");
    EXPECT_TRUE(SubStringIndex(2, -1, "abcdef", out.bytes, sizeof out.bytes));
    EXPECT_EQ(out.text(), "cdef");
    EXPECT_TRUE(SubStringIndex(2, -100, "abcdef", out.bytes, sizeof out.bytes));
    EXPECT_EQ(out.text(), "cdef");
}

TEST(SubStringIndex, StartAtTheEndIsEmptyButPastTheEndFails) {
    Buffer atEnd;
    EXPECT_TRUE(SubStringIndex(3, 2, "abc", atEnd.bytes, sizeof atEnd.bytes));
    EXPECT_EQ(atEnd.text(), "");
    Buffer pastEnd;
    EXPECT_FALSE(SubStringIndex(4, 2, "abc", pastEnd.bytes, sizeof pastEnd.bytes));
    EXPECT_EQ(pastEnd.text(), "");
}

TEST(SubStringIndex, EmptyNullOrNegativeStartFails) {
    Buffer out;
    EXPECT_FALSE(SubStringIndex(0, 3, "", out.bytes, sizeof out.bytes));
    EXPECT_EQ(out.text(), "");
    EXPECT_FALSE(SubStringIndex(0, 3, nullptr, out.bytes, sizeof out.bytes));
    EXPECT_FALSE(SubStringIndex(-1, 3, "abc", out.bytes, sizeof out.bytes));
    EXPECT_EQ(out.text(), "");
}

TEST(SubStringIndex, LongSliceIsCutAtCapacity) {
    Buffer out;
    EXPECT_TRUE(SubStringIndex(1, -1, "0123456789", out.bytes, 4));
    EXPECT_EQ(std::string(out.bytes), "123");
    EXPECT_EQ(out.bytes[4], '#');
}

TEST(DelCount, CountsEveryDelimiter) {
    EXPECT_EQ(DelCount(',', "a,b,,c,"), 4);
    EXPECT_EQ(DelCount(',', ",,,"), 3);
    EXPECT_EQ(DelCount(',', "abc"), 0);
    EXPECT_EQ(DelCount(',', ""), 0);
    EXPECT_EQ(DelCount(',', static_cast<const char*>(nullptr)), 0);
    EXPECT_EQ(DelCount('^', "%B1^NAME^2512?"), 2);
}

TEST(TextFieldViews, StayInsideAFieldThatHasNoTerminator) {
    // A fixed field filled to the brim, followed by other data.
    const char field[8] = {'a', 'b', '^', 'c', 'd', 'e', 'f', 'g'};
    const std::string_view source(field, sizeof field);
    std::string_view out;
    EXPECT_TRUE(SubString(2, '^', source, out));
    EXPECT_EQ(out, "cdefg");
    EXPECT_FALSE(SubString(3, '^', source, out));
    EXPECT_TRUE(out.empty());
    EXPECT_TRUE(SubStringIndex(6, -1, source, out));
    EXPECT_EQ(out, "fg");
    EXPECT_FALSE(SubStringIndex(9, 1, source, out));
    EXPECT_EQ(DelCount('^', source), 1);
}

}  // namespace
}  // namespace norvik

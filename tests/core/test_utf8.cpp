// Printing names that are not UTF-8.
#include <gtest/gtest.h>

#include <string>

#include "base/utf8.h"

namespace {

const std::string R = "\xEF\xBF\xBD";  // U+FFFD

std::string valid(const std::string& text, size_t capacity = 256) {
    std::string out(capacity, '#');
    size_t used = utf8_make_valid(text.c_str(), &out[0], capacity);
    EXPECT_EQ(out[used], 0);
    return out.substr(0, used);
}

TEST(Utf8MakeValid, KeepsWellFormedTextAndReplacesEachIllFormedPart) {
    struct Case {
        const char* name;
        std::string in, out;
    } cases[] = {
        {"ASCII", "Boss Rally.bin", "Boss Rally.bin"},
        {"two to four bytes", "\xC3\xA9 \xE2\x9C\x93 \xF0\x9F\x8E\xB5", "\xC3\xA9 \xE2\x9C\x93 \xF0\x9F\x8E\xB5"},
        {"the edges of the ranges", "\xC2\x80\xDF\xBF\xE0\xA0\x80\xED\x9F\xBF\xEE\x80\x80\xF0\x90\x80\x80\xF4\x8F\xBF\xBF",
         "\xC2\x80\xDF\xBF\xE0\xA0\x80\xED\x9F\xBF\xEE\x80\x80\xF0\x90\x80\x80\xF4\x8F\xBF\xBF"},
        {"Latin-1 byte", "Musique \xE9t\xE9.bin", "Musique " + R + "t" + R + ".bin"},
        {"stray continuation bytes, one each", "a\x80\xBF" "b", "a" + R + R + "b"},
        {"sequence cut short by ASCII", "\xE2\x9C" "x", R + "x"},
        {"sequence cut short at the end", "x\xF0\x9F\x8E", "x" + R},
        {"overlong forms", "\xC0\xAF\xE0\x80\xAF", R + R + R + R + R},
        {"surrogate", "\xED\xA0\x80", R + R + R},
        {"past U+10FFFF", "\xF4\x90\x80\x80", R + R + R + R},
        {"bytes that never occur", "\xF5\xFF\xFE", R + R + R},
        {"control sequence stays as it is (it is well-formed)", "\x1B[2J", "\x1B[2J"},
    };
    for (const Case& c : cases) EXPECT_EQ(valid(c.in), c.out) << c.name;
}

TEST(Utf8MakeValid, CutsAtAWholeCharacter) {
    EXPECT_EQ(valid("ab\xC3\xA9", 4), "ab");  // "ab" + 2 bytes + terminator needs 5
    EXPECT_EQ(valid("ab\xC3\xA9", 5), "ab\xC3\xA9");
    EXPECT_EQ(valid("a\xFF", 4), "a");        // the replacement needs 3
    EXPECT_EQ(valid("abc", 1), "");
}

}  // namespace

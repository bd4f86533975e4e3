// Escape decoding of translated texts.
#include "panel/escapes.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct Case {
    const char* stored;
    std::string decoded;
};

TEST(EscapesTest, DecodesLeftToRight) {
    const Case cases[] = {
        {"plain", "plain"},
        {"two\\nlines", "two\nlines"},
        {"a\\tb", "a\tb"},
        {"back\\\\slash", "back\\slash"},
        {"\\q", "q"},
        {"ends in\\", "ends in"},
        {"\\\\n stays a backslash and n", "\\n stays a backslash and n"},
        {"\\\\\\", "\\"},  // an escaped backslash, then a trailing one
        {"", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stored);
        std::string text = c.stored;
        std::size_t length = decode_escapes(text.data());
        EXPECT_EQ(std::string(text.c_str()), c.decoded);
        EXPECT_EQ(length, c.decoded.size());
    }
}

TEST(EscapesTest, TrailingBackslashEndsTheText) {
    char text[] = "cut\\";
    EXPECT_EQ(decode_escapes(text), 3u);
    EXPECT_STREQ(text, "cut");
}

}  // namespace

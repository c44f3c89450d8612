// Fortran character arguments and path splitting.
#include "videz5_c.h"

#include <gtest/gtest.h>

namespace {

std::string convert(const char* chars, unsigned int length) { return charToString(chars, &length); }

using Pieces = std::vector<std::string>;

Pieces split(const std::string& text) {
    Pieces pieces;
    split_string(text, pieces, '/');
    return pieces;
}

}  // namespace

TEST(CharToString, TakesLengthCharactersUpToTheFirstNul) {
    EXPECT_EQ(convert("data.h5", 7), "data.h5");
    EXPECT_EQ(convert("data.h5", 4), "data");
    EXPECT_EQ(convert("data.h5", 0), "");
    EXPECT_EQ(convert("ab  ", 4), "ab  ");  // blanks within the length are kept
    const char with_nul[10] = {'a', 'b', '\0', 'c', 'd', 'e', 'f', 'g', 'h', 'i'};
    EXPECT_EQ(convert(with_nul, 10), "ab");
    // Not terminated: nothing past the length may be read (the sanitizer build would see it).
    const char unterminated[3] = {'x', 'y', 'z'};
    EXPECT_EQ(convert(unterminated, 3), "xyz");
    const unsigned int five = 5;
    EXPECT_EQ(charToString(nullptr, &five), "");
}

TEST(SplitString, CutsAtEveryDelimiterAfterOneLeadingOne) {
    EXPECT_EQ(split("a/b/c"), (Pieces{"a", "b", "c"}));
    EXPECT_EQ(split("/a/b"), (Pieces{"a", "b"}));
    EXPECT_EQ(split("//a"), (Pieces{"", "a"}));
    EXPECT_EQ(split("a//b"), (Pieces{"a", "", "b"}));
    EXPECT_EQ(split("a/"), (Pieces{"a", ""}));
    EXPECT_EQ(split("abc"), (Pieces{"abc"}));
    EXPECT_EQ(split(""), (Pieces{""}));
    EXPECT_EQ(split("/"), (Pieces{""}));

    Pieces pieces{"x"};  // appended to, never cleared
    split_string("a:b", pieces, ':');
    EXPECT_EQ(pieces, (Pieces{"x", "a", "b"}));
}

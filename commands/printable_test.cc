#include "commands/printable.h"

#include <gtest/gtest.h>

using namespace std::string_literals;

TEST(Printable, EscapesWhatCouldForgeOrHideALine)
{
    const std::pair<std::string, std::string> cases[] = {
        {"plain text, tab\tand line\nbreak", "plain text, tab\tand line\nbreak"},
        {"back\\slash, DEL \x7f", "back\\\\slash, DEL \\x7f"},
        {"C0 \0 \x01 \r \x0b \x0c \x1b[2J \x1f"s,
         "C0 \\x00 \\x01 \\x0d \\x0b \\x0c \\x1b[2J \\x1f"},
        {"C1 \xc2\x80 \xc2\x85 \xc2\x9f", "C1 \\xc2\\x80 \\xc2\\x85 \\xc2\\x9f"},
        {"separators \xe2\x80\xa8 \xe2\x80\xa9", "separators \\xe2\\x80\\xa8 \\xe2\\x80\\xa9"},
        {"valid \xc2\xa0 \xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80 \xf4\x8f\xbf\xbf",
         "valid \xc2\xa0 \xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80 \xf4\x8f\xbf\xbf"},
        {"stray \x80 \xff \xfe", "stray \\x80 \\xff \\xfe"},
        {"overlong \xc0\xaf \xe0\x80\xaf", "overlong \\xc0\\xaf \\xe0\\x80\\xaf"},
        {"surrogate \xed\xa0\x80, past U+10FFFF \xf4\x90\x80\x80",
         "surrogate \\xed\\xa0\\x80, past U+10FFFF \\xf4\\x90\\x80\\x80"},
        {"cut \xe2\x82 and at the end \xf0\x9f\x98",
         "cut \\xe2\\x82 and at the end \\xf0\\x9f\\x98"},
        {"", ""},
    };
    for (const auto& [text, line] : cases)
        EXPECT_EQ(printable(text), line) << text;
}

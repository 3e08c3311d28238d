#include "remote/exec.h"

#include <gtest/gtest.h>

namespace {

struct Case {
    std::string text;
    int status;
    std::string rest;
};

}  // namespace

TEST(ExtrRetCode, CutsTheStatusLineTheWrapperPrints)
{
    const Case cases[] = {
        {"abc\n0\n", 0, "abc"},
        {"abc\n\n3\n", 3, "abc\n"},
        {"12\n0\n", 0, "12"},  // output ending in digits keeps them
        {"\n0\n", 0, ""},
        {"\n255\n", 255, ""},
        {"0\n", 0, ""},  // the text begins with the number
        {"x\n-5\n", -5, "x"},
        {"a\n7", 7, "a"},
        {std::string("a\0b\n\n0\n", 7), 0, std::string("a\0b\n", 4)},
    };
    for (const Case& c : cases) {
        std::string text = c.text;
        EXPECT_EQ(extr_ret_code(text), c.status) << c.text;
        EXPECT_EQ(text, c.rest) << c.text;
    }
}

TEST(ExtrRetCode, NoReadableStatusIsMinusOne)
{
    const Case cases[] = {
        {"", -1, ""},
        {"no digits here\n", -1, ""},  // emptied, not left as it was
        {"x\n2147483648\n", -1, "x"},
        {"x\n99999999999999999999\n", -1, "x"},
        {"x\n2147483647\n", 2147483647, "x"},
        {"-2147483648", -2147483647 - 1, ""},
    };
    for (const Case& c : cases) {
        std::string text = c.text;
        EXPECT_EQ(extr_ret_code(text), c.status) << c.text;
        EXPECT_EQ(text, c.rest) << c.text;
    }
}

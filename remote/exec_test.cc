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

TEST(WrapperStatus, BelievesTheStatusLineOnlyFromAShellThatEndedNormally)
{
    const struct {
        std::string out;
        bool killed;
        bool pty;
        int status;
        std::string rest;
    } cases[] = {
        {"abc\n\n3\n", false, false, 3, "abc\n"},
        {"\n0\n", true, false, -1, "\n0\n"},  // killed after printing a line of that form
        {"12\n", false, false, -1, "12\n"},
        {"abc\n7", false, false, -1, "abc\n7"},
        {"x\n-5\n", false, false, -1, "x\n-5\n"},
        {"a\r\n\r\n0\r\n", false, false, -1, "a\r\n\r\n0\r\n"},
        // Through a terminal every newline arrives as "\r\n".
        {"Process dead\r\n\r\n1\r\n", false, true, 1, "Process dead\r\n\r"},
        {"ok\n\n0\n", false, true, 0, "ok\n"},
    };
    for (const auto& c : cases) {
        std::string out = c.out;
        EXPECT_EQ(wrapper_status(out, c.killed, c.pty), c.status) << c.out;
        EXPECT_EQ(out, c.rest) << c.out;
    }
}

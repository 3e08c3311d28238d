#include "remote/exec.h"

#include <gtest/gtest.h>

TEST(WrapperStatus, BelievesTheStatusLineOnlyFromAShellThatEndedNormally)
{
    const struct {
        std::string out;
        bool killed;
        bool pty;
        int status;
        std::string rest;
    } cases[] = {
        {"12\n0\n", false, false, 0, "12"},   // output ending in digits keeps them
        {"\n0\n", true, false, -1, "\n0\n"},  // killed after printing a line of that form
        // No status line: the wrapper's echo did not run (a login shell that
        // is no sh), so output that merely ends like one is not believed.
        {"12\n", false, false, -1, "12\n"},
        {"abc\n7", false, false, -1, "abc\n7"},
        {"x\n-5\n", false, false, -1, "x\n-5\n"},
        {"a\r\n\r\n0\r\n", false, false, -1, "a\r\n\r\n0\r\n"},  // no terminal made the \r
        // A terminal set to -onlcr (by the account's shell start-up files)
        // passes newlines through as they are.
        {"ok\n\n0\n", false, true, 0, "ok\n"},
    };
    for (const auto& c : cases) {
        std::string out = c.out;
        EXPECT_EQ(wrapper_status(out, c.killed, c.pty), c.status) << c.out;
        EXPECT_EQ(out, c.rest) << c.out;
    }
}

TEST(KeptText, KeepsTheHeadAndTheTailOfAnyAmount)
{
    TKeptText both(8, 4), head(8, 0);
    for (char c = 'a'; c <= 'z'; ++c)
        both.add(&c, 1), head.add(&c, 1);
    EXPECT_EQ(both.text(), "abcdefghwxyz");
    EXPECT_EQ(head.text(), "abcdefgh");
}

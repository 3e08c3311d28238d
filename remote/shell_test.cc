#include "remote/shell.h"

#include "driver/tuerror.h"
#include "process.h"

#include <gtest/gtest.h>

TEST(ShellStr, QuotesAsOneSingleQuotedWord)
{
    EXPECT_EQ(shell_str(""), "''");
    EXPECT_EQ(shell_str("it's"), "'it'\\''s'");
    EXPECT_EQ(shell_str("'"), "''\\'''");
    EXPECT_EQ(shell_str("a b$c`d`\n"), "'a b$c`d`\n'");
}

TEST(ShellStr, EveryByteSurvivesARealShell)
{
    std::string value;
    for (int round = 0; round < 2; ++round)
        for (int c = 1; c < 256; ++c)
            value += static_cast<char>(c);
    value += "''\\'$(touch /tmp/shell_str_breach)";
    // The quoted word goes through the shell's parser, then back out unchanged.
    fixture::TProc r = fixture::sh("printf %s " + shell_str(value) + " ; printf %s " +
                                   shell_str("") + "x");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, value + "x");
    EXPECT_EQ(fixture::sh("test -e /tmp/shell_str_breach").status, 1);
}

TEST(ChkAbsPath, OnlyALeadingSlashPasses)
{
    EXPECT_NO_THROW(chk_abs_path("/"));
    EXPECT_NO_THROW(chk_abs_path("/srv/../x"));
    for (const char* bad : {"", "tmp/x", " /x", "~/x"}) {
        try {
            chk_abs_path(bad);
            ADD_FAILURE() << "accepted '" << bad << "'";
        } catch (const TUError& e) {
            EXPECT_EQ(e.message, "Directry/file must be set absolute pathname");
        }
    }
}

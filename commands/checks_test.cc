#include "commands/checks.h"

#include "remote/error.h"

#include <gtest/gtest.h>

TEST(ChkAbsPath, OnlyALeadingSlashPasses)
{
    EXPECT_NO_THROW(chk_abs_path("/"));
    for (const char* path : {"", "relative", " /x", "~/x"})
        EXPECT_THROW(chk_abs_path(path), TUError) << path;
}

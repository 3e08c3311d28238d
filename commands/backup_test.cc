#include "commands/backup.h"

#include <gtest/gtest.h>

TEST(Backup, PathsAreCleanedAndJudgedInsideOnlyWhereTheTextShowsIt)
{
    EXPECT_EQ(clean_path("//a/./b//"), "/a/b");
    EXPECT_EQ(clean_path("/./"), "/");
    EXPECT_EQ(clean_path("/a/../b"), "/a/../b");
    for (const auto& [inner, outer, inside] :
         std::vector<std::tuple<const char*, const char*, bool>>{{"/a/b", "/a", true},
                                                                 {"/a", "/a", true},
                                                                 {"/ab", "/a", false},
                                                                 {"/b", "/", true},
                                                                 {"/a/../b", "/a", false},
                                                                 {"/a/b", "/a/..", false}})
        EXPECT_EQ(lies_in(inner, outer), inside) << inner << " in " << outer;
}

TEST(Backup, ExcludeGlobsAreAnchoredAndAnEmptyOneRefusesTheList)
{
    EXPECT_EQ(exclude_globs("logs/*,/big.bin,./x/,*.tmp"),
              (std::vector<std::string>{"logs/*", "big.bin", "x", "*.tmp"}));
    for (const char* bad : {"", "a,", ",a", "a,,b", "/", "a\nb"})
        EXPECT_TRUE(exclude_globs(bad).empty()) << bad;
}

TEST(Backup, AStampIsItsUtcSecondsOrNone)
{
    EXPECT_EQ(stamp_seconds("20261208T010203Z"), 1796691723);
    for (const char* bad : {"20261208T010203", "20261208T010203Zx", "2026128T010203Z", ""})
        EXPECT_EQ(stamp_seconds(bad), -1) << bad;
}

#include "commands/user.h"

#include "driver/tuerror.h"

#include <crypt.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <set>
#include <tuple>

TEST(RandomChars, PasswordsAndSaltsKeepTheirLengthsAndCoverTheirWholeSets)
{
    const std::string alnum = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    // Every character of 300 draws, sorted: one of the set never seen would
    // mean it cannot be drawn (chance otherwise below 1e-18).
    for (const auto& [draw, length, set] :
         {std::tuple{&random_password, 10u, alnum}, std::tuple{&random_salt, 16u, "./" + alnum}}) {
        std::set<char> seen;
        for (int i = 0; i < 300; ++i) {
            std::string s = draw();
            EXPECT_EQ(s.size(), length) << s;
            seen.insert(s.begin(), s.end());
        }
        EXPECT_EQ(std::string(seen.begin(), seen.end()), set);
    }
}

TEST(HashPassword, IsSha512CryptOfThePasswordWithAFreshSalt)
{
    const std::string hash = hash_password("aB3dE6gH9j");
    const std::string alphabet = "./0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    ASSERT_EQ(hash.size(), 3u + 16 + 1 + 86) << hash;
    EXPECT_EQ(hash.substr(0, 3), "$6$");
    EXPECT_EQ(hash[19], '$');
    EXPECT_EQ(hash.find_first_not_of(alphabet, 3), 19u) << hash;
    EXPECT_EQ(hash.find_first_not_of(alphabet, 20), std::string::npos) << hash;
    EXPECT_EQ(crypt("aB3dE6gH9j", hash.c_str()), hash);
    EXPECT_NE(hash_password("aB3dE6gH9j").substr(0, 19), hash.substr(0, 19));
}

TEST(NameNumbers, EveryNumberFrom1000To9999ExactlyOnceInRandomOrderThenZero)
{
    TNameNumbers numbers;
    std::vector<int> drawn(9000), expected(9000);
    for (int& n : drawn)
        n = numbers.next();
    EXPECT_EQ(numbers.next(), 0);
    EXPECT_FALSE(std::is_sorted(drawn.begin(), drawn.begin() + 100));
    std::sort(drawn.begin(), drawn.end());
    std::iota(expected.begin(), expected.end(), 1000);
    EXPECT_EQ(drawn, expected);
}

TEST(FindNumberedName, TriesEachNameOnceThenGivesUpWithOneLine)
{
    std::set<std::string> tried;
    try {
        find_numbered_name([&](const std::string& name) {
            EXPECT_TRUE(tried.insert(name).second) << name << " tried twice";
            return false;
        });
        ADD_FAILURE() << "found a name although none is free";
    } catch (const TUError& e) {
        EXPECT_EQ(e.message, "No free user name: bf2, bf, battlefield, battlefield2 and 9000 tried "
                             "names bf2_NNNN are taken");
    }
    EXPECT_EQ(tried.size(), 9000u);
    EXPECT_EQ(*tried.begin(), "bf2_1000");
    EXPECT_EQ(*tried.rbegin(), "bf2_9999");
    EXPECT_EQ(find_numbered_name([](const std::string& name) { return name == "bf2_4242"; }),
              "bf2_4242");
}

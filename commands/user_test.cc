#include "commands/user.h"

#include "remote/error.h"

#include <crypt.h>
#include <gtest/gtest.h>

#include <algorithm>
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
    EXPECT_EQ(hash.substr(0, 3), "$6$");
    EXPECT_EQ(crypt("aB3dE6gH9j", hash.c_str()), hash);
    EXPECT_NE(hash_password("aB3dE6gH9j").substr(0, 19), hash.substr(0, 19));
}

TEST(FindNumberedName, TriesEachNameOnceInRandomOrderThenGivesUpWithOneLine)
{
    std::set<std::string> tried;
    std::vector<std::string> order;
    try {
        find_numbered_name([&](const std::string& name) {
            EXPECT_TRUE(tried.insert(name).second) << name << " tried twice";
            order.push_back(name);
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
    EXPECT_FALSE(std::is_sorted(order.begin(), order.begin() + 100));
    EXPECT_EQ(find_numbered_name([](const std::string& name) { return name == "bf2_4242"; }),
              "bf2_4242");
}

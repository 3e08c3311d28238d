#include "commands/user.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <numeric>
#include <set>
#include <sstream>
#include <tuple>
#include <vector>

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

TEST(NameNumbers, AreEachOf1000To9999OnceInAnOrderDrawnAfreshEachTime)
{
    auto draw = [] {
        std::istringstream words(name_numbers());
        return std::vector<int>(std::istream_iterator<int>(words), {});
    };
    std::vector<int> order = draw(), sorted = order, all(9000);
    std::sort(sorted.begin(), sorted.end());
    std::iota(all.begin(), all.end(), 1000);
    EXPECT_EQ(sorted, all);
    EXPECT_NE(draw(), order);  // neither sorted nor any other fixed order
}

#include "commands/user.h"

#include <crypt.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <set>

namespace {

const std::string digits_and_letters =
    "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";

// Every character of many draws, as a set, checking each draw on the way.
std::set<char> chars_of(std::string (*draw)(), size_t length, const std::string& allowed)
{
    std::set<char> seen;
    for (int i = 0; i < 300; ++i) {
        std::string s = draw();
        EXPECT_EQ(s.size(), length) << s;
        for (char c : s) {
            EXPECT_NE(allowed.find(c), std::string::npos) << "'" << c << "' in " << s;
            seen.insert(c);
        }
    }
    return seen;
}

}  // namespace

TEST(RandomPassword, TenDigitsAndLettersCoveringTheWholeSet)
{
    // 3000 draws over 62 characters: a character never seen would mean it
    // cannot be drawn (chance otherwise about 1e-20).
    std::set<char> seen = chars_of(random_password, 10, digits_and_letters);
    EXPECT_EQ(std::string(seen.begin(), seen.end()), digits_and_letters);
    EXPECT_NE(random_password(), random_password());
}

TEST(RandomSalt, SixteenCharactersOfTheCryptAlphabet)
{
    std::set<char> seen = chars_of(random_salt, 16, digits_and_letters + "./");
    EXPECT_EQ(std::string(seen.begin(), seen.end()), "./" + digits_and_letters);
}

TEST(HashPassword, IsSha512CryptThatChecksEveryCharacter)
{
    const std::string password = "aB3dE6gH9j";
    const std::string hash = hash_password(password);
    EXPECT_TRUE(std::regex_match(hash, std::regex(R"(\$6\$[./0-9A-Za-z]{16}\$[./0-9A-Za-z]{86})")))
        << hash;
    EXPECT_EQ(crypt(password.c_str(), hash.c_str()), hash);
    // The old two-character-salt scheme stopped after 8 characters.
    EXPECT_NE(crypt("aB3dE6gH9k", hash.c_str()), hash);
    EXPECT_NE(crypt("aB3dE6gH", hash.c_str()), hash);
    // A fresh salt each time.
    EXPECT_NE(hash_password(password).substr(0, 19), hash.substr(0, 19));
}

TEST(NameNumbers, EveryNumberFrom1000To9999ExactlyOnceThenZero)
{
    TNameNumbers numbers;
    std::vector<int> drawn;
    for (int i = 0; i < 9000; ++i)
        drawn.push_back(numbers.next());
    EXPECT_EQ(numbers.next(), 0);
    EXPECT_EQ(numbers.next(), 0);

    // Random order: the first hundred are spread, not counted up.
    std::vector<int> head(drawn.begin(), drawn.begin() + 100);
    EXPECT_FALSE(std::is_sorted(head.begin(), head.end()));
    EXPECT_LT(*std::min_element(head.begin(), head.end()), 5000);
    EXPECT_GT(*std::max_element(head.begin(), head.end()), 5000);

    std::sort(drawn.begin(), drawn.end());
    std::vector<int> expected;
    for (int n = 1000; n <= 9999; ++n)
        expected.push_back(n);
    EXPECT_EQ(drawn, expected);
}

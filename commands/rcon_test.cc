#include "commands/rcon.h"

#include "remote/error.h"

#include <gtest/gtest.h>

TEST(Rcon, TheLoginDigestsTheGreetingsSeedAndThePassword)
{
    size_t end = 0;
    const std::string greeting =
        "### Battlefield 2 default RCON/admin ready.\n### Digest seed: ab\n\n";
    EXPECT_EQ(rcon_seed(greeting.substr(0, greeting.size() - 1), end), "");
    EXPECT_EQ(rcon_seed(greeting + "x", end), "ab");
    EXPECT_EQ(end, greeting.size());
    // MD5 of "abc".
    EXPECT_EQ(rcon_login("ab", "c"), "login 900150983cd24fb0d6963f7d28e17f72");
    for (const std::string bad : {"### Digest seed: ab\nx\n", "### Digest seed: \n\n"})
        EXPECT_THROW(rcon_seed(bad, end), TUError) << bad;
}

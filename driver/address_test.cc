#include "driver/address.h"

#include "remote/error.h"

#include <gtest/gtest.h>

#include <algorithm>

TEST(ParseAddress, SplitsEachFormOrRefusesItWithTheReason)
{
    const std::string port = "the port must be a number from 1 to 65535";
    const std::string bracket = "only ':' and a port may follow the closing bracket";
    const struct {
        const char* text;
        const char* host;  // null: refused for why
        int port;
        std::string why;
    } cases[] = {
        {"game1.example.net", "game1.example.net", 22, ""},
        {"h:65535", "h", 65535, ""},
        {"h:0022", "h", 22, ""},                   // decimal, leading zeros and all
        {"fe80::1:2222", "fe80::1:2222", 22, ""},  // two colons or more: an IPv6 literal
        {"[::1]", "::1", 22, ""},
        {"h:", nullptr, 0, port},
        {"h:0", nullptr, 0, port},
        {"h:65536", nullptr, 0, port},
        {"h:99999999999999999999", nullptr, 0, port},
        {"h:+22", nullptr, 0, port},
        {"[::1]:", nullptr, 0, port},
        {"[::1]22", nullptr, 0, bracket},
        {":22", nullptr, 0, "no host name"},
        {"h\n:0", nullptr, 0, port},  // quoted on one line: "h?:0"
    };
    for (const auto& c : cases) {
        try {
            const TAddress a = parse_address(c.text);
            EXPECT_TRUE(c.host) << "accepted '" << c.text << "'";
            EXPECT_EQ(a.host, c.host ? c.host : "") << c.text;
            EXPECT_EQ(a.port, c.port) << c.text;
        } catch (const TUError& e) {
            std::string quoted = c.text;
            std::replace(quoted.begin(), quoted.end(), '\n', '?');
            EXPECT_EQ(e.message, "Incorrect address '" + quoted + "': " + c.why);
        }
    }
}

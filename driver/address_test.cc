#include "driver/address.h"

#include "driver/tuerror.h"

#include <gtest/gtest.h>

TEST(ParseAddress, SplitsEveryFormIntoHostAndPort)
{
    const struct {
        const char* text;
        const char* host;
        int port;
    } cases[] = {
        {"game1.example.net", "game1.example.net", 22},
        {"10.0.0.7:2222", "10.0.0.7", 2222},
        {"h:1", "h", 1},
        {"h:65535", "h", 65535},
        {"h:0022", "h", 22},  // decimal, leading zeros and all
        {"::1", "::1", 22},   // two colons or more: an IPv6 literal
        {"fe80::1:2222", "fe80::1:2222", 22},
        {"[::1]", "::1", 22},
        {"[::1]:31000", "::1", 31000},
        {"[10.0.0.7]:2222", "10.0.0.7", 2222},
    };
    for (const auto& c : cases) {
        const TAddress a = parse_address(c.text);
        EXPECT_EQ(a.host, c.host) << c.text;
        EXPECT_EQ(a.port, c.port) << c.text;
    }
}

TEST(ParseAddress, RefusesMalformedFormsWithTheReason)
{
    const std::string port = "the port must be a number from 1 to 65535";
    const struct {
        const char* text;
        std::string why;
    } cases[] = {
        {"h:", port},
        {"h:0", port},
        {"h:65536", port},
        {"h:99999999999999999999", port},
        {"h:ssh", port},
        {"h:+22", port},
        {"h:-1", port},
        {"h: 22", port},
        {"[::1]:", port},
        {"[::1]:22:", port},
        {"[::1", "no closing bracket"},
        {"[", "no closing bracket"},
        {"[::1]22", "only ':' and a port may follow the closing bracket"},
        {"[::1]x", "only ':' and a port may follow the closing bracket"},
        {":22", "no host name"},
        {"[]:22", "no host name"},
    };
    for (const auto& c : cases) {
        try {
            parse_address(c.text);
            ADD_FAILURE() << "accepted '" << c.text << "'";
        } catch (const TUError& e) {
            EXPECT_EQ(e.message, "Incorrect address '" + std::string(c.text) + "': " + c.why);
        }
    }
}

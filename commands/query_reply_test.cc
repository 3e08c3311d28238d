#include "commands/query_reply.h"

#include "remote/error.h"

#include <gtest/gtest.h>

using namespace std::string_literals;

namespace {

const std::string server =
    "\0hostname\0H\0mapname\0M\0gametype\0G\0numplayers\0002\0maxplayers\00016\0\0"s;

std::string packet(int number_byte, const std::string& body, uint32_t session = 0x01020304)
{
    return "\0"s + query_request(session).substr(3, 4) + "splitnum\0"s + char(number_byte) + body;
}

// The message the packets give, from add or info; "" for none.
std::string error_of(const std::vector<std::string>& packets)
{
    try {
        TQueryReply reply(0x01020304);
        for (const std::string& p : packets)
            reply.add(p);
        reply.info();
        return "";
    } catch (const TUError& e) {
        EXPECT_EQ(e.step, "query");
        return e.message;
    }
}

}  // namespace

TEST(QueryReply, PutsCutFieldsTogetherInAnyOrder)
{
    EXPECT_EQ(query_request(0x0A0B0C0D), "\xFE\xFD\0\x0A\x0B\x0C\x0D\xFF\xFF\xFF\x01"s);
    TQueryReply reply(0x01020304);
    reply.add(packet(0x82, "\1ping_\0\1\x39\0\0team_\0\0\x31\0\x32\0\0\0\2team_t\0\0A\0\0\0"s));
    reply.add(packet(0x00, server + "\1player_\0\0Ann\0B\xff\0\0score_\0\0-3\0"s));
    EXPECT_FALSE(reply.complete());
    reply.add(packet(0x01, "\1score_\0\1\x37\0\0ping_\0\0\x35\0"s));
    ASSERT_TRUE(reply.complete());
    const TQueryInfo info = reply.info();
    EXPECT_EQ(info.keys.at("hostname"), "H");
    EXPECT_EQ(info.keys.at("maxplayers"), "16");
    const std::vector<std::vector<std::string>> players = {{"Ann", "-3", "5", "1"},
                                                           {"B\xff", "7", "9", "2"}};
    EXPECT_EQ(info.players, players);
}

TEST(QueryReply, RefusesWhatNoWholeReplyCanBe)
{
    const std::string list =
        "\1player_\0\0a\0\0score_\0\0\x31\0\0ping_\0\0\x31\0\0team_\0\0\x31\0\0\0"s;
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{packet(0x80, server + list)}, ""},
        {{packet(0x80, "")}, "truncated packet (15 bytes)"},
        {{std::string(2049, '\0')}, "oversized packet (2049 bytes)"},
        {{packet(0x80, server, 0x01020305)}, "wrong session id"},
        {{"\1" + packet(0x80, server).substr(1)}, "no splitnum header"},
        {{packet(0x80, server).replace(5, 5, "SPLIT")}, "no splitnum header"},
        {{packet(0x20, server)}, "packet number 32 out of range"},
        {{packet(0x81, server), packet(0x02, list)}, "packet number 2 out of range"},
        {{packet(0x02, list), packet(0x81, server)}, "packet number 1 out of range"},
        {{packet(0x00, server), packet(0x00, list)}, "duplicate packet 0"},
        {{packet(0x00, server), packet(0x82, list)}, "missing packet 1"},
        {{packet(0x80, server + "\3"s)}, "unknown section 3 in packet 0"},
        {{packet(0x80, server + "\1player_\0\xff"
                                "a\0b\0"s)},
         "more than 256 players in packet 0"},
        {{packet(0x80, server + list + "\1player_\0\0b\0\0"s)}, "player 0's player_ given twice"},
        {{packet(0x80, server + "\1player_\0\0a\0\0\0"s)}, "no score_ for player 0"},
        {{packet(0x80, "\0hostname\0H\0\0"s)}, "no 'mapname'"},
        {{packet(0x80, "\0hostname\0H\0mapname\0M\0gametype\0G\0numplayers\0x\0maxplayers\0"
                       "1\0\0"s)},
         "'numplayers' is not a number"},
    };
    for (const auto& [packets, message] : cases)
        EXPECT_EQ(error_of(packets), message.empty() ? "" : "Malformed query reply: " + message)
            << message;
}

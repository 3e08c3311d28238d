#include "commands/player_list.h"

#include <gtest/gtest.h>

namespace {

const std::string hash = "0123456789abcdef0123456789ABCDEF";

std::string listed(const std::string& text)
{
    std::string out;
    for (const TPlayer& p : parse_players(text))
        out += p.id + "|" + p.name + "|" + p.address + "|" + p.keyhash + "\n";
    return out;
}

}  // namespace

TEST(PlayerList, EachEntryFromTheRightWithItsHashOnItsLineOrTheNext)
{
    const std::pair<std::string, std::string> cases[] = {
        {"Id:  3 - Zo\xc3\xab is remote ip: 1.2.3.4:5 -> CD-key hash: " + hash + "\n",
         "3|Zo\xc3\xab|1.2.3.4:5|" + hash + "\n"},
        {"Id: 12 - 007 is remote ip: 1.2.3.4:5 -> \n\t CD-key hash: " + hash + " \r\n",
         "12|007|1.2.3.4:5|" + hash + "\n"},
        // Blanks, " - " and " is remote ip: " inside a name.
        {"Id:  1 - a - b is remote ip: c is remote ip: 9.9.9.9:1 ->    CD-key hash: " + hash,
         "1|a - b is remote ip: c|9.9.9.9:1|" + hash + "\n"},
        // No hash, a malformed one, and a hash line that is another entry's.
        {"Id:  1 -  is remote ip: a:1 -> \nId:  2 - x is remote ip: b:2 -> CD-key hash: 12\n"
         "Id:  3 - y is remote ip: c:3 ->\nCD-key hash: " +
             hash,
         "1||a:1|\n2|x|b:2|\n3|y|c:3|" + hash + "\n"},
        // Lines that are no entry.
        {"Players:\nCD-key hash: " + hash + "\nId: x - n is remote ip: a:1 -> \n" +
             "Id: 1234567890 - n is remote ip: a:1 -> \nId: 1 n is remote ip: a:1 -> \n" +
             "Id: 1 - n is remote ip: a:1\nId: 1 - n is remote ip:  -> \nId: 1 - n -> \nid: 1 - n "
             "is "
             "remote ip: a:1 -> \n",
         ""},
    };
    for (const auto& [text, players] : cases)
        EXPECT_EQ(listed(text), players) << text;
}

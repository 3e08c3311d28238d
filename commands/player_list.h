// The players the game's console lists (admin.listPlayers): per player a
// line "Id: N - NAME is remote ip: IP:PORT -> " and its CD-key hash,
// "CD-key hash: HASH" after blanks on the same line or on the next.  No
// network here, so that any bytes can be fed to it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

struct TPlayer {
    std::string id;  // decimal digits, at most 9
    std::string name{};
    std::string address{};  // IP:PORT as listed, without blanks
    std::string keyhash{};  // 32 hex digits, or "" when the entry has none
};

// Each entry in order.  A name may hold blanks, " - " and " is remote ip: "
// itself: the last " is remote ip: " of its line ends it.  A line that is
// no entry is passed over.
std::vector<TPlayer> parse_players(std::string_view text);

// The reply to a game server's query (GameSpy protocol version 3): the
// request's bytes, and the reply's packets checked and put together, in
// whatever order they came, into the server's keys and its players.  No
// network here, so that any bytes can be fed to it.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

// The player fields a reply must give for every player, in output order.
inline constexpr const char* query_player_fields[] = {"player_", "score_", "ping_", "team_"};

struct TQueryInfo {
    std::map<std::string, std::string> keys;  // the server's, first value of each
    // One row per player, the values of query_player_fields in their order.
    std::vector<std::vector<std::string>> players;
};

// FE FD 00, session, FF FF FF 01: every server key, player and team, in
// split packets.
std::string query_request(uint32_t session);

// Throws TUError (remote, step "query") "Malformed query reply: WHY".
class TQueryReply {
public:
    static constexpr size_t max_packet = 2048;  // the game's stay under 1400 bytes
    static constexpr int max_packets = 32;
    static constexpr int max_players = 256;

    explicit TQueryReply(uint32_t session) : session(session) {}
    // A packet's bytes; throws for one that cannot belong to the reply.
    void add(std::string_view packet);
    bool started() const { return !payloads.empty(); }
    bool complete() const;
    // The reply's content; throws for a missing packet or a missing value.
    TQueryInfo info() const;

private:
    uint32_t session;
    std::map<int, std::string> payloads;  // by packet number
    int last = -1;                        // the number of the packet marked last
};

// The session id a reply packet carries, or -1 for a packet too short.
int64_t query_session_of(std::string_view packet);

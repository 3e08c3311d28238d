#include "commands/query_reply.h"

#include "remote/error.h"

#include <algorithm>

namespace {

constexpr std::string_view splitnum("splitnum\0", 9);
constexpr size_t header_size = 1 + 4 + splitnum.size();  // 00, session, "splitnum"

[[noreturn]] void malformed(const std::string& why)
{
    throw TUError(TCode::remote, "Malformed query reply: " + why, "query");
}

// Reads NUL-terminated strings off a packet's payload; a string the packet
// ends inside is cut, and the next packet resumes it.
struct TCursor {
    std::string_view rest;
    bool next(std::string& out)
    {
        const size_t nul = rest.find('\0');
        if (nul == std::string_view::npos)
            return false;
        out.assign(rest.substr(0, nul));
        rest.remove_prefix(nul + 1);
        return true;
    }
    bool byte(unsigned char& out)
    {
        if (rest.empty())
            return false;
        out = static_cast<unsigned char>(rest[0]);
        rest.remove_prefix(1);
        return true;
    }
};

using TFields = std::map<std::string, std::map<int, std::string>>;

// A player or team section: fields, each its name, the index of its first
// value and values up to an empty one; an empty name ends the section.
// False when the packet ended inside it.
bool read_list(TCursor& c, TFields* fields, int packet)
{
    std::string name, value;
    unsigned char offset;
    for (;;) {
        if (!c.next(name) || (!name.empty() && !c.byte(offset)))
            return false;
        if (name.empty())
            return true;
        for (int index = offset;; ++index) {
            if (!c.next(value))
                return false;
            if (value.empty())
                break;
            if (!fields)
                continue;
            if (index >= TQueryReply::max_players)
                malformed("more than " + std::to_string(TQueryReply::max_players) +
                          " players in packet " + std::to_string(packet));
            if (!(*fields)[name].emplace(index, value).second)
                malformed("player " + std::to_string(index) + "'s " + name + " given twice");
        }
    }
}

void read_payload(std::string_view payload, int packet, TQueryInfo& info, TFields& players)
{
    TCursor c{payload};
    unsigned char section;
    while (c.byte(section)) {
        if (section == 0) {
            std::string key, value;
            while (c.next(key) && !key.empty() && c.next(value))
                info.keys.emplace(key, value);
            if (!key.empty())
                return;  // cut: nothing else follows in this packet
        } else if (section == 1 || section == 2) {
            if (!read_list(c, section == 1 ? &players : nullptr, packet))
                return;
        } else {
            malformed("unknown section " + std::to_string(section) + " in packet " +
                      std::to_string(packet));
        }
    }
}

// A whole number of the server's keys, 0 to 9999.
long number_key(const TQueryInfo& info, const std::string& key)
{
    const std::string& text = info.keys.at(key);
    if (text.empty() || text.size() > 4 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        malformed("'" + key + "' is not a number");
    return std::stol(text);
}

}  // namespace

std::string query_request(uint32_t session)
{
    std::string r("\xFE\xFD\x00", 3);
    for (int shift = 24; shift >= 0; shift -= 8)
        r += static_cast<char>(session >> shift);
    return r + "\xFF\xFF\xFF\x01";
}

int64_t query_session_of(std::string_view packet)
{
    if (packet.size() < 5)
        return -1;
    uint32_t id = 0;
    for (int i = 1; i < 5; ++i)
        id = id << 8 | static_cast<unsigned char>(packet[i]);
    return id;
}

void TQueryReply::add(std::string_view packet)
{
    if (packet.size() > max_packet)
        malformed("oversized packet (" + std::to_string(packet.size()) + " bytes)");
    if (packet.size() < header_size + 2)
        malformed("truncated packet (" + std::to_string(packet.size()) + " bytes)");
    if (packet[0] != 0 || packet.substr(5, splitnum.size()) != splitnum)
        malformed("no splitnum header");
    if (query_session_of(packet) != session)
        malformed("wrong session id");
    const unsigned char number_byte = packet[header_size];
    const int number = number_byte & 0x7F;
    if (number >= max_packets || (last >= 0 && number > last) ||
        ((number_byte & 0x80) && !payloads.empty() && payloads.rbegin()->first > number))
        malformed("packet number " + std::to_string(number) + " out of range");
    if (payloads.count(number))
        malformed("duplicate packet " + std::to_string(number));
    if (number_byte & 0x80)
        last = number;
    payloads.emplace(number, packet.substr(header_size + 1));
}

bool TQueryReply::complete() const
{
    return last >= 0 && payloads.size() == static_cast<size_t>(last) + 1;
}

TQueryInfo TQueryReply::info() const
{
    for (int n = 0; !complete(); ++n)
        if (!payloads.count(n))
            malformed("missing packet " + std::to_string(n));
    TQueryInfo info;
    TFields players;
    for (const auto& [number, payload] : payloads)
        read_payload(payload, number, info, players);
    for (const char* key : {"hostname", "mapname", "gametype", "numplayers", "maxplayers"})
        if (!info.keys.count(key))
            malformed(std::string("no '") + key + "'");
    number_key(info, "numplayers");
    number_key(info, "maxplayers");
    size_t count = 0;
    for (const auto& [name, values] : players)
        count = std::max(count, static_cast<size_t>(values.rbegin()->first) + 1);
    info.players.resize(count);
    for (const char* field : query_player_fields)
        for (size_t i = 0; i < count; ++i) {
            const auto& values = players[field];
            const auto value = values.find(static_cast<int>(i));
            if (value == values.end())
                malformed("no " + std::string(field) + " for player " + std::to_string(i));
            info.players[i].push_back(value->second);
        }
    return info;
}

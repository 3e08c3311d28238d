#include "commands/player_list.h"

#include <optional>

namespace {

constexpr std::string_view kRemote = " is remote ip: ", kHash = "CD-key hash: ";

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && is_blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && is_blank(text.back()))
        text.remove_suffix(1);
    return text;
}

// The hash of a "CD-key hash: HASH" field ("" for a malformed one), or
// nothing for text that is no such field.
std::optional<std::string> hash_field(std::string_view text)
{
    text = trimmed(text);
    if (!text.starts_with(kHash))
        return std::nullopt;
    text = trimmed(text.substr(kHash.size()));
    if (text.size() != 32 || text.find_first_not_of("0123456789abcdefABCDEF") != text.npos)
        return "";
    return std::string(text);
}

// An entry's line up to its arrow; what follows the arrow in after.
std::optional<TPlayer> entry(std::string_view line, std::string_view& after)
{
    if (!line.starts_with("Id:"))
        return std::nullopt;
    line.remove_prefix(3);
    while (line.starts_with(' '))
        line.remove_prefix(1);
    const size_t digits = std::min(line.find_first_not_of("0123456789"), line.size());
    if (digits == 0 || digits > 9 || line.substr(digits, 3) != " - ")
        return std::nullopt;
    TPlayer player{.id = std::string(line.substr(0, digits))};
    line.remove_prefix(digits + 3);
    const size_t remote = line.rfind(kRemote);
    if (remote == line.npos)
        return std::nullopt;
    player.name = line.substr(0, remote);
    line.remove_prefix(remote + kRemote.size());
    const size_t blank = std::min(line.find(' '), line.size());
    player.address = line.substr(0, blank);
    line.remove_prefix(blank);
    if (player.address.empty() || !line.starts_with(" ->"))
        return std::nullopt;
    after = line.substr(3);
    return player;
}

}  // namespace

std::vector<TPlayer> parse_players(std::string_view text)
{
    std::vector<std::string_view> lines;
    for (size_t begin = 0; begin < text.size();) {
        const size_t end = std::min(text.find('\n', begin), text.size());
        lines.push_back(text.substr(begin, end - begin));
        begin = end + 1;
    }
    std::vector<TPlayer> players;
    for (size_t i = 0; i < lines.size(); ++i) {
        std::string_view after;
        std::optional<TPlayer> player = entry(lines[i], after);
        if (!player)
            continue;
        std::optional<std::string> hash = hash_field(after);
        // Nothing after the arrow: the hash, if any, is on the next line.
        if (trimmed(after).empty() && i + 1 < lines.size() && (hash = hash_field(lines[i + 1])))
            ++i;
        player->keyhash = hash.value_or("");
        players.push_back(std::move(*player));
    }
    return players;
}

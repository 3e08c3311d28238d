// Arbitrary bytes as a console's player list: every entry is well formed,
// and its own line, written back, parses to that entry alone.
#include "commands/player_list.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    for (const TPlayer& p : parse_players(text)) {
        if (p.id.empty() || p.id.size() > 9 ||
            p.id.find_first_not_of("0123456789") != std::string::npos ||
            p.name.find('\n') != std::string::npos || p.address.empty() ||
            p.address.find_first_of(" \n") != std::string::npos ||
            !(p.keyhash.empty() || p.keyhash.size() == 32))
            std::abort();
        const std::string line = "Id: " + p.id + " - " + p.name + " is remote ip: " + p.address +
                                 " -> " + (p.keyhash.empty() ? "" : "CD-key hash: " + p.keyhash);
        const std::vector<TPlayer> again = parse_players(line);
        if (again.size() != 1 || again[0].id != p.id || again[0].name != p.name ||
            again[0].address != p.address || again[0].keyhash != p.keyhash)
            std::abort();
    }
    return 0;
}

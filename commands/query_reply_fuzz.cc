// Arbitrary bytes as the packets of a query reply, each a two-byte length
// and that many bytes (the last one whatever is left), fed in turn.
#include "commands/query_reply.h"
#include "remote/error.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    TQueryReply reply(0x01020304);
    std::string_view rest(reinterpret_cast<const char*>(data), size);
    try {
        while (rest.size() >= 2) {
            const size_t n = std::min<size_t>(rest.size() - 2, static_cast<uint8_t>(rest[0]) << 8 |
                                                                   static_cast<uint8_t>(rest[1]));
            reply.add(rest.substr(2, n));
            rest.remove_prefix(2 + n);
        }
        if (!reply.started())
            return 0;
        const TQueryInfo info = reply.info();
        if (info.players.size() > TQueryReply::max_players || !info.keys.count("hostname"))
            std::abort();
        for (const auto& row : info.players)
            if (row.size() != std::size(query_player_fields))
                std::abort();
    } catch (const TUError& e) {
        if (e.code != TCode::remote || e.step != "query" ||
            !e.message.starts_with("Malformed query reply: "))
            std::abort();
    }
    return 0;
}

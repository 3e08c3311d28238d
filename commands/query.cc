#include "commands/query.h"

#include "commands/output.h"
#include "commands/query_reply.h"
#include "opt/lookup.h"
#include "remote/bound.h"
#include "remote/connection.h"
#include "remote/error.h"
#include "remote/io.h"

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <optional>
#include <random>

using zelto::opt::TOParsing;

namespace {

constexpr int default_port = 29900;  // the game's default sv.gameSpyPort
constexpr int tries = 3;
constexpr int try_ms = 1000;

void print_info(const TQueryInfo& info)
{
    const auto& k = info.keys;
    TResult result;
    result.field("hostname", k.at("hostname"))
        .field("map", k.at("mapname"))
        .field("game_type", k.at("gametype"))
        .number("num_players", k.at("numplayers"))
        .number("max_players", k.at("maxplayers"))
        .objects("players",
                 {{"name", TKind::text},
                  {"score", TKind::number},
                  {"ping", TKind::number},
                  {"team", TKind::number}},
                 info.players);
    result.text({"hostname: ", TText::line(k.at("hostname")), "\nmap: ",
                 TText::line(k.at("mapname")), "\ngame-type: ", TText::line(k.at("gametype")),
                 "\nplayers: ", TText::line(k.at("numplayers")),
                 "\nmax-players: ", TText::line(k.at("maxplayers")), "\n"});
    for (const auto& p : info.players)
        result.text({"player: ", TText::line(p[0]), " score: ", TText::line(p[1]),
                     " ping: ", TText::line(p[2]), " team: ", TText::line(p[3]), "\n"});
    report(result);
}

bool same_address(const sockaddr_storage& from, socklen_t size, const addrinfo* to)
{
    return size == to->ai_addrlen && std::memcmp(&from, to->ai_addr, size) == 0;
}

// A sender as the caller would query it: its address, and its port when it
// is not the one asked.
std::string sender(const sockaddr_storage& from, socklen_t size, int port)
{
    char host[NI_MAXHOST], service[NI_MAXSERV];
    if (getnameinfo(reinterpret_cast<const sockaddr*>(&from), size, host, sizeof host, service,
                    sizeof service, NI_NUMERICHOST | NI_NUMERICSERV) != 0)
        return "?";
    if (std::to_string(port) == service)
        return host;
    return (from.ss_family == AF_INET6 ? "[" + std::string(host) + "]" : std::string(host)) + ":" +
           service;
}

// One try: the reply, once complete, or what came of it within try_ms.
// Replies to a session of ours from another address are refused (16 random
// bits are easy to forge) but their senders noted in others, a few at most.
TQueryReply ask(int fd, const addrinfo* to, int port, uint32_t session,
                const std::vector<uint32_t>& earlier, std::vector<std::string>& others)
{
    TQueryReply reply(session);
    const std::string request = query_request(session);
    if (sendto(fd, request.data(), request.size(), 0, to->ai_addr, to->ai_addrlen) < 0)
        throw TUError(TCode::connect,
                      std::string("Failed to send the query: ") + std::strerror(errno));
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(try_ms);
    while (!reply.complete()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        const short ready = wait_fd(fd, POLLIN, run_wait_ms(static_cast<int>(left.count())));
        check_run();
        if (!ready)
            continue;
        static char buffer[1 << 16];  // any datagram, so that an oversized one is seen whole
        sockaddr_storage from;
        socklen_t from_size = sizeof from;
        const ssize_t n =
            recvfrom(fd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &from_size);
        if (n < 0)
            continue;  // an ICMP error
        const std::string_view packet(buffer, n);
        const int64_t id = query_session_of(packet);
        if (!same_address(from, from_size, to)) {
            const std::string who = sender(from, from_size, port);
            if (std::find(earlier.begin(), earlier.end(), id) != earlier.end() &&
                others.size() < 4 && std::find(others.begin(), others.end(), who) == others.end())
                others.push_back(who);
            continue;
        }
        if (id != session && std::find(earlier.begin(), earlier.end(), id) != earlier.end())
            continue;  // a late answer to an earlier try
        reply.add(packet);
    }
    return reply;
}

}  // namespace

bool query(TOParsing parsing)
{
    const int port = static_cast<int>(zelto::opt::number_or(parsing["port"], 65535, default_port));
    parsing.end();
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    if (getaddrinfo(ssh_host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0)
        throw TUError(TCode::resolve, "Failed to get network host entry");
    std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> addresses(found, freeaddrinfo);
    const TFd sock(socket(found->ai_family, found->ai_socktype | SOCK_CLOEXEC, found->ai_protocol));
    if (!sock)
        throw TUError(TCode::connect,
                      std::string("Failed to send the query: ") + std::strerror(errno));

    std::mt19937 random(std::random_device{}());
    std::vector<uint32_t> sessions;
    std::optional<TQueryReply> partial;
    std::vector<std::string> others;
    for (int i = 0; i < tries; ++i) {
        // Some servers ignore ids with the high bits of a byte set.
        sessions.push_back(random() & 0x0F0F0F0F);
        TQueryReply reply = ask(sock.get(), found, port, sessions.back(), sessions, others);
        if (reply.complete()) {
            print_info(reply.info());
            return true;
        }
        if (reply.started())
            partial = reply;
    }
    if (partial)
        partial->info();  // throws: the missing packet
    std::string line = "No answer to the query on UDP port " + std::to_string(port) + " in " +
                       std::to_string(tries * try_ms / 1000) + " s";
    for (size_t i = 0; i < others.size(); ++i)
        line += (i ? ", " : "; replies came from ") + others[i];
    if (!others.empty())
        line += ": query the address the game server serves";
    throw TUError(TCode::timeout, line).in("query");
}

#include "remote/known_hosts.h"

#include "remote/fingerprint.h"

#include <gtest/gtest.h>

namespace {

const std::string kKey =
    "ssh-ed25519 AAAAC3NzaC1lZDI1NTE5AAAAILhw82NCbL3m9PS1X6Yd9WCc19x/nQN3Pb0i+0q9/XXt";
const TPublicKey kOffered{
    "ssh-ed25519",
    unbase64("AAAAC3NzaC1lZDI1NTE5AAAAILhw82NCbL3m9PS1X6Yd9WCc19x/nQN3Pb0i+0q9/XXt")};

bool known(const std::string& hosts, const std::string& name)
{
    return check_known_host(host_entries(hosts + " " + kKey + "\n", name), kOffered).verdict ==
           THostCheck::known;
}

}  // namespace

TEST(KnownHosts, MatchesHostPatternsAndHashesAsOpenSshDoes)
{
    const struct {
        const char* hosts;
        const char* name;
        bool match;
    } cases[] = {
        // Written by ssh-keygen -H for these two names.
        {"|1|tDvenXVoQtc2GEFUFoNyTm6SdKg=|ZBwi2INj8rzXHzynTAsu+eNYkJ4=", "game1.example.net", true},
        {"|1|5vSU7GsNTF7wSeCVG6RHjZg/rdk=|oK0fuhj1DNvpyMxwW2XtXOPfAZA=", "[::1]:2222", true},
        {"|1|5vSU7GsNTF7wSeCVG6RHjZg/rdk=|oK0fuhj1DNvpyMxwW2XtXOPfAZA=", "::1", false},
        {"|1|5vSU7GsNTF7wSeCVG6RHjZg/rdk=|", "[::1]:2222", false},  // torn hash
        {"a,*.Example.NET", "game1.example.net", true},
        {"!game1.example.net,*.example.net", "game1.example.net", false},
        {"game?.example.net", "game12.example.net", false},
        {"[game1.example.net]:2222", "game1.example.net", false},  // port 22 is the bare name
        {"*", "[::1]:2222", true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(known(c.hosts, c.name), c.match) << c.hosts << " " << c.name;
}

TEST(KnownHosts, NamesHostsAndWritesLinesItReadsBackAsOpenSshDoes)
{
    EXPECT_EQ(known_host_name("Game1.Example.NET", 22), "game1.example.net");
    const std::string line =
        hashed_host_line(known_host_name("::1", 2222), kOffered, std::string(20, 'x'));
    EXPECT_EQ(line.substr(0, 32), "|1|eHh4eHh4eHh4eHh4eHh4eHh4eHg=|");
    EXPECT_TRUE(line.ends_with(" " + kKey + "\n"));
    EXPECT_EQ(check_known_host(host_entries(line, "[::1]:2222"), kOffered).verdict,
              THostCheck::known);
    EXPECT_EQ(check_known_host(host_entries(line, "[::1]:2223"), kOffered).verdict,
              THostCheck::unknown);
}

// The game's remote console, reached through the SSH connection (a
// direct-tcpip channel to the host's 127.0.0.1:PORT) once a remote step has
// found that the configuration's running server holds the port: --rcon
// runs one console command, --players lists the players, --say writes to
// every player.
#pragma once

#include "opt/parsing.h"

#include <string>

bool rcon(zelto::opt::TOParsing parsing);
bool players(zelto::opt::TOParsing parsing);
bool say(zelto::opt::TOParsing parsing);

// What proves the password to the console without sending it: the digest
// of the greeting's seed and the password, as "login HEX".
std::string rcon_login(const std::string& seed, const std::string& password);

// The greeting's digest seed once the greeting has arrived whole (its seed
// line, then an empty line), with the greeting's size in end; "" while more
// must come.  Throws "Unexpected rcon greeting" (step rcon) for an empty
// seed or a seed line followed by another.
std::string rcon_seed(const std::string& text, size_t& end);

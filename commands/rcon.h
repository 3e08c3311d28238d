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

// The console's login line for the seed of its greeting: "login " and the
// lower-case hex MD5 of the seed followed by the password.
std::string rcon_login(const std::string& seed, const std::string& password);

// The seed of a greeting that is complete in text (the line "### Digest
// seed: SEED" and an empty line after it), with the greeting's size in
// end; "" while it is not complete.  Throws "Unexpected rcon greeting"
// (step rcon) for an empty seed or a seed line followed by another.
std::string rcon_seed(const std::string& text, size_t& end);

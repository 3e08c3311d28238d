// Asks the game server itself, over UDP, for its name, map and players;
// needs the host of --address and nothing of the SSH login.
#pragma once

#include "opt/parsing.h"

bool query(zelto::opt::TOParsing parsing);

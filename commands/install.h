// Installing the game server: a detached remote script downloads and
// unpacks it; check-install tells whether a directory holds a server.
#pragma once

#include "opt/parsing.h"

bool install(zelto::opt::TOParsing parsing);
bool check_install(zelto::opt::TOParsing parsing);

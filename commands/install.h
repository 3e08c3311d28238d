// Installing the game server: a detached remote script downloads and
// unpacks it; check-install tells whether a directory holds a server.
#pragma once

#include "opt/parsing.h"

#include <string>

bool install(zelto::opt::TOParsing parsing);
bool check_install(zelto::opt::TOParsing parsing);

// Whether dir holds start.sh and mods/bf2/init.con.  Needs the session.
bool check_bf2_dir(const std::string& dir);

// Installing the game server: sh/launch_install.sh starts the install
// script (sh/install_script.sh) detached, which downloads and unpacks it;
// install-status reads its progress (sh/install_state.sh); check-install
// tells whether a directory holds a server.
#pragma once

#include "opt/parsing.h"

#include <string>

bool install(zelto::opt::TOParsing parsing);
bool check_install(zelto::opt::TOParsing parsing);

// How far the install in a temporary directory that install printed got:
// downloading (with the bytes so far), extracting, installing, ok, failed
// (with the stage, its status and the end of its log) or interrupted.
bool install_status(zelto::opt::TOParsing parsing);

// Whether dir holds start.sh and mods/bf2/init.con.  Needs the session.
bool check_bf2_dir(const std::string& dir);

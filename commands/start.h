// Starting the game server of one configuration directory: one script
// (sh/prepare_start.sh) stops what runs, writes the settings, checks the
// server's launcher and ports and writes the start script
// (sh/start_script.sh); then a launcher run under a terminal
// (sh/launch_start.sh) starts that script detached and waits until the game
// server is up.  A restart stops the server and starts it again with the
// last start's parameters, which that start left in CFGDIR/start.params:
// the same two steps, the first (sh/read_params.sh) reading them on the
// host.
#pragma once

#include "opt/parsing.h"

bool start(zelto::opt::TOParsing parsing);
bool restart(zelto::opt::TOParsing parsing);

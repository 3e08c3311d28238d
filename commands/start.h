// Starting the game server of one configuration directory: one script
// (sh/prepare_start.sh) stops what runs, writes the settings, checks the
// server's launcher and ports and writes the start script
// (sh/start_script.sh); then a launcher run under a terminal
// (sh/launch_start.sh) starts that script detached and waits until the game
// server is up.
#pragma once

#include "opt/parsing.h"

bool start(zelto::opt::TOParsing parsing);

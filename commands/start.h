// Starting the game server of one configuration directory: one script
// (sh/prepare_start.sh) stops what runs, writes the settings, checks the
// server's launcher and ports and writes the start script
// (sh/start_script.sh); then a launcher run under a terminal
// (sh/launch_start.sh) starts that script detached and waits until the game
// server is up.
#pragma once

#include "opt/parsing.h"

#include <string>

bool start(zelto::opt::TOParsing parsing);

// The start script for the game server in srv_dir with the settings of
// cfg_dir.  Run files in cfg_dir: start.pid, server.pid, the console pipe
// server-stdin, and the server's error log srderr.log.
std::string get_start_script(const std::string& srv_dir, const std::string& cfg_dir,
                             bool restart_on_crash = false);

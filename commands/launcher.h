// Launching the game server of one configuration directory: a generated
// start script runs it with its console on a named pipe and keeps the pid
// files that the stop script (stop.h) uses, and a launcher run under a
// terminal starts that script detached and waits for it to come up.
#pragma once

#include <string>

// The start script for the game server in srv_dir with the settings of
// cfg_dir.  Run files in cfg_dir: start.pid, server.pid, the console pipe
// server-stdin, and the server's error log srderr.log.
std::string get_start_script(const std::string& srv_dir, const std::string& cfg_dir);

// The remote command line that starts cfg_dir's start.sh in the background
// and ends with status 0 once it runs, or 1 with the reason.
std::string get_launcher(const std::string& cfg_dir);

// Uploads the start script into cfg_dir and launches it.  Requires an open
// session; throws TUError "Copy start script failed: ..." or "Start server
// failed: <reason>".
void start_srv(const std::string& srv_dir, const std::string& cfg_dir);

// Stopping the game server of one configuration directory: a generated stop
// script asks it to quit through its console pipe, then kills what is left.
#pragma once

#include <string>

// The stop script for cfg_dir.  It shares the run file names with the start
// script (launcher.h).
std::string get_stop_script(const std::string& cfg_dir);

// Uploads the stop script into cfg_dir and runs it.  Requires an open
// session; throws TUError only when the script cannot be uploaded, since a
// stop is wanted whatever state the server was left in.
void stop_srv(const std::string& cfg_dir);

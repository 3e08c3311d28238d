// Stopping the game server of one configuration directory: a generated stop
// script asks it to quit through its console pipe, then signals what is left.
#pragma once

#include "commands/remote_script.h"
#include "opt/parsing.h"

#include <string>

bool stop(zelto::opt::TOParsing parsing);

// The stop script for cfg_dir, as it is written to cfg_dir/stop.sh.  It
// shares the run file names with the start script (start.h), and ends with
// status 1 and the reason on its standard error when a process of the
// configuration outlives signal 9 (its run files then stay).
std::string get_stop_script(const std::string& cfg_dir);

// Script lines, for a script with $CFGDIR set, that take the configuration
// directory's lock, write the stop script and run it.
std::string stop_steps(const std::string& cfg_dir);

// Throws the TUError for a script that failed in those steps; returns when
// the failed step was another one.
void raise_stop_failure(const TScriptResult& r);

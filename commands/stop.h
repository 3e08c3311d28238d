// Stopping the game server of one configuration directory: the stop script
// (sh/stop_script.sh) asks it to quit through its console pipe, then
// signals what is left.
#pragma once

#include "commands/remote_script.h"
#include "opt/parsing.h"

#include <string>

bool stop(zelto::opt::TOParsing parsing);

// The stop script for cfg_dir, as it is written to cfg_dir/stop.sh.
std::string get_stop_script(const std::string& cfg_dir);

// For a script with $CFGDIR set: the run_stop function (sh/run_stop.sh),
// which takes the directory's lock, writes the stop script and runs it,
// and the failures of its steps.
std::string stop_steps(const std::string& cfg_dir);
extern const TFailures stop_failures;

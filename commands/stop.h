// Stopping the game server of one configuration directory: the stop script
// (sh/stop_script.sh) asks it to quit through its console pipe, then
// signals what is left.
#pragma once

#include "opt/parsing.h"

bool stop(zelto::opt::TOParsing parsing);

// What a panel asks of a configuration between start and stop: is its game
// server up (sh/status.sh), a line for its console (sh/console.sh), and the
// end of its error log (sh/log.sh).
#pragma once

#include "opt/parsing.h"

bool status(zelto::opt::TOParsing parsing);
bool console(zelto::opt::TOParsing parsing);
bool show_log(zelto::opt::TOParsing parsing);

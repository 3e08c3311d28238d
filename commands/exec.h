// The exec command: a command line of the caller's own, run as written.
#pragma once

#include "opt/parsing.h"

bool cmd_exec(zelto::opt::TOParsing parsing);

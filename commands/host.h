// The small commands: is the host suitable, is the login root, and the raw
// command line run on behalf of the caller.
#pragma once

#include "opt/parsing.h"

bool check_host(zelto::opt::TOParsing parsing);
bool check_on_root(zelto::opt::TOParsing parsing);
bool cmd_exec(zelto::opt::TOParsing parsing);

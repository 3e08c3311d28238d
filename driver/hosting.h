// Reads the connection parameters every run needs, whatever the command.
#pragma once

#include "opt/parsing.h"

// "address" (checked for its form), then "login", then the optional
// "connect-timeout", "timeout" and "host-key", then BF2_PASSWD: the first one missing
// or malformed is the one reported.  Connects nothing.
void get_hosting(zelto::opt::TOParsing parsing);

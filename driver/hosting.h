// Reads the connection parameters every run needs, whatever the command.
#pragma once

#include "opt/parsing.h"

// "address", then "login", then BF2_PASSWD: the first one missing is the
// one reported.  Connects nothing.
void get_hosting(zelto::opt::TOParsing parsing);

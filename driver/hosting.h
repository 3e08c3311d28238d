// Reads the connection parameters every run needs, whatever the command.
#pragma once

#include "opt/parsing.h"

// "address" (checked for its form), then "login", then the optional
// "connect-timeout", "timeout" and "host-key", then BF2_PASSWD: the first one missing
// or malformed is the one reported.  Without login, for a command that logs
// in nowhere, the login and the password are optional.  Connects nothing.
void get_hosting(zelto::opt::TOParsing parsing, bool login = true);

// Reads the connection parameters every run needs, whatever the command.
#pragma once

#include "opt/parsing.h"

// "address" (checked for its form), then "login", then the optional
// "connect-timeout", "timeout", "host-key" and "known-hosts": the first one
// missing or malformed is the one reported.  Without login, for a command
// that logs in nowhere, the login is optional.  Connects nothing.
void get_hosting(zelto::opt::TOParsing parsing, bool login = true);

// Then the secrets file, "identity" and BF2_PASSWD, required with login
// unless a key is given.
void get_credentials(zelto::opt::TOParsing parsing, bool login = true);

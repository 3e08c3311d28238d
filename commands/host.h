// The host checks: is the host suitable, is the login root, which host key
// does it offer.
#pragma once

#include "opt/parsing.h"

bool check_host(zelto::opt::TOParsing parsing);
bool check_on_root(zelto::opt::TOParsing parsing);
// Prints the host key's fingerprint; logs in to nothing.
bool fingerprint(zelto::opt::TOParsing parsing);

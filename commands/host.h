// The host checks: is the host suitable, is the login root.
#pragma once

#include "opt/parsing.h"

bool check_host(zelto::opt::TOParsing parsing);
bool check_on_root(zelto::opt::TOParsing parsing);

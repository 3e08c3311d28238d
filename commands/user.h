// Provisioning a system account for a game server on the remote host.
#pragma once

#include "opt/parsing.h"

bool create_user(zelto::opt::TOParsing parsing);

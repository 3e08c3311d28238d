// Starting and stopping the game server of one configuration directory.
#pragma once

#include "opt/parsing.h"

bool start(zelto::opt::TOParsing parsing);
bool stop(zelto::opt::TOParsing parsing);

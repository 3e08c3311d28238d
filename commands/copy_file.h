// The copy-file command: one local file onto the remote account.
#pragma once

#include "opt/parsing.h"

bool copy_file(zelto::opt::TOParsing parsing);

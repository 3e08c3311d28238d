// The fetch-file command: one remote file onto the caller's disk, the
// target replaced only once the whole new file has arrived.
#pragma once

#include "opt/parsing.h"

bool fetch_file(zelto::opt::TOParsing parsing);

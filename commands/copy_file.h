// The copy-file command: one local file onto the remote account, the target
// replaced only once the whole new file has arrived (sh/upload.sh).
#pragma once

#include "opt/parsing.h"

bool copy_file(zelto::opt::TOParsing parsing);

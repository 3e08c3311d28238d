// The secrets a run may be given off its command line: BF2_PASSWD and the
// values of the options that may hold one.  Each comes from its option when
// given, else from --secrets-file, else from the environment; this is the
// one place that reads the latter two.
#pragma once

#include "opt/parsing.h"

#include <map>
#include <string>

// NAME=VALUE lines, each ending in LF; blank lines and lines beginning with
// '#' passed over; the first '=' ends the name; the last of a repeated name
// wins.  Throws the usage TUError of a line without '=' or holding a CR, or
// of a name that is not a secret's: no value is ever shown.
std::map<std::string, std::string> parse_secrets(const std::string& text, const std::string& file);

// Reads --secrets-file when given, once (it may be a pipe, /dev/fd/N), at
// most 64 KiB, within 30 s and the run's bound; a regular file must be its
// owner's alone to read.
void load_secrets(zelto::opt::TOParsing& parsing);

// The secret from the secrets file, else from the environment; null when
// neither holds it.  An empty one is set and empty.
const char* secret(const char* name);

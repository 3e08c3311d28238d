// Shorthands for the lookups every command handler makes.
#pragma once

#include "opt/parsing.h"

#include <string>

namespace zelto::opt {

// The value of a long option.  A missing or malformed option is reported by
// the lookup's sentry as this returns.
std::string value_of(TOParsing& parsing, const std::string& name,
                     TOParsing::TLOptType type = req_arg);

// The value of a long option, or, when the option is absent, fallback
// unless it is null: a secret need not stand on the command line, where
// every local user can read it.  The option wins.
std::string value_or(TOParsing& parsing, const std::string& name, TOParsing::TLOptType type,
                     const char* fallback);

// Whether a flag (a long option without value) is present; its absence is
// no error.  A flag given a value counts as absent and is left for end().
bool flag(TOParsing& parsing, const std::string& name);

// A whole number from 1 to max in decimal digits only (no sign, no blank);
// 0 for anything else.  Ports, sizes, and other numbers given on the
// command line.
long long whole_number(const std::string& text, long long max);

// The value of an optional numeric option as given looked up (parsing[name]):
// fallback when absent, else whole_number's, a bad value thrown as the
// option library reports one.
long long number_or(const TOParsing::TLOptPr& given, long long max, long long fallback);

}  // namespace zelto::opt

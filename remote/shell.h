// Building remote command lines safely: every value spliced into a line
// goes through shell_str exactly once.
#pragma once

#include <string>

// The value as one single-quoted sh word; ' becomes '\''.
std::string shell_str(const std::string& value);

// Throws TUError unless path starts with '/'.
void chk_abs_path(const std::string& path);

// Sets one key of a game server settings file on the remote account, in
// place when the key is there, appended otherwise, with one remote command.
#pragma once

#include <string>

// quote: write the value in double quotes.  Throws TUError
// "Set option '<key>' failed in <file>: <stderr>" on failure.
void set_cfg_option(const std::string& file, const std::string& key,
                    const std::string& value, bool quote);

// The remote command line that set_cfg_option runs.  Throws the same
// "Set option" TUError, before anything runs, for a key or value that
// holds a line break ("\n" or "\r").
std::string set_cfg_command(const std::string& file, const std::string& key,
                            const std::string& value, bool quote);

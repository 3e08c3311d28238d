// Setting keys of a game server settings file on the remote account: every
// line of a key gets the new value in place, and a file without one gets the
// line appended.
#pragma once

#include <string>

// The sh function "set_option KEY VALUE" for a script that has $SETTINGS
// set to the settings file.  VALUE reaches awk through its environment, so
// it is never on a command line and never read as a pattern.
extern const char* const settings_functions;

// Throws the "Set option" TUError, before anything is sent, for a value
// holding a line break: sed-like line editing would split the setting.
void refuse_line_break(const std::string& file, const std::string& key, const std::string& value);

// Checks of the values a command is given, made before anything is sent.
#pragma once

#include <string>

// Throws the usage TUError about option unless path starts with '/'.
void chk_abs_path(const std::string& path, const char* option);

// Decimal digits only, worth 0..max ("00" is 0 too).
bool is_number_upto(const std::string& text, int max);

// Decimal digits worth 0..65535.
bool is_port_number(const std::string& text);

// Whether text holds a line feed or a carriage return: a value that must
// stay on one line of a remote file or a result.
bool holds_line_break(const std::string& text);

// Throws the "Set option" TUError, about option, for a value holding a
// line break: line editing would split the setting.
void refuse_line_break(const std::string& file, const std::string& key, const std::string& value,
                       const char* option);

// What a setting's value may hold, by how it is written into the settings
// file; anything else could end the value and start another setting.
enum class TSettingKind { flag, port, text, number, bare };

// Throws the TUError, about option, for a value its kind may not hold: a
// line break (refuse_line_break), more than 1024 bytes, a double quote in
// text (written between double quotes), anything but digits in a number
// (at most 2147483647, the largest a 32-bit setting reads), a blank, tab
// or quote in a bare value.
void refuse_setting(const std::string& file, const std::string& key, const std::string& value,
                    TSettingKind kind, const char* option);

// Throws the usage TUError of a console password the game's admin module
// would not read back as given: it splits its "key=value" lines at every
// '=', ends them at a line break and strips blanks around the value; an
// empty one lets nobody log in.
void refuse_rcon_password(const std::string& password);

// Throws unless name is lower-case letters, digits, '-' or '_': it becomes
// a path under the server's mods/ and an argument of the server.
void chk_mod_name(const std::string& name);

// The map list file for "MAP:MODE:SIZE[,MAP:MODE:SIZE...]": a line
// "mapList.append MAP MODE SIZE" each, in order.  Throws the usage TUError
// of a list the game would misread or that names a path.
std::string map_list(const std::string& entries);

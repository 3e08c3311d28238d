// Checks of the values a command is given, made before anything is sent.
#pragma once

#include <string>

// Throws TUError unless path starts with '/'.
void chk_abs_path(const std::string& path);

// Decimal digits worth 0..65535 ("00" is port 0 too).
bool is_port_number(const std::string& text);

// Whether text holds a line feed or a carriage return: a value that must
// stay on one line of a remote file or a result.
bool holds_line_break(const std::string& text);

// Throws the "Set option" TUError for a value holding a line break:
// line editing would split the setting.
void refuse_line_break(const std::string& file, const std::string& key, const std::string& value);

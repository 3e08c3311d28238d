// Text from the account made safe to print as lines the panel reads, and
// the one rule for what is valid UTF-8.
#pragma once

#include <string>
#include <string_view>

// text with every control character but tab and the line break (C0, DEL,
// and C1 as UTF-8), U+2028, U+2029 and every byte that is not part of valid
// UTF-8 written as \xNN, each byte of it, and a backslash as \\.  Valid
// UTF-8 otherwise passes unchanged.  The line breaks stay: they end the
// lines bf2ctl itself prints.
std::string printable(std::string_view text);

// printable(text) as one line: its line breaks too as \x0a, so that the
// text cannot begin a line of its own.
std::string printable_line(std::string_view text);

// The length of the longest start of text that is valid UTF-8 as JSON takes
// it: no overlong form, no surrogate, nothing past U+10FFFF.  A character
// cut by the end of text is not part of it.
size_t utf8_prefix(std::string_view text);

inline bool is_utf8(std::string_view text) { return utf8_prefix(text) == text.size(); }

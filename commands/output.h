// Everything the tool prints goes to standard output, flushed at once, so
// that results printed before a failure stay ahead of its error line.
// With --json a run prints one JSON object instead: a command adds its
// result's fields as it goes, and main prints the object, or the error's.
#pragma once

#include "remote/error.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

extern bool json_output;

// Text for the caller; nothing with --json.
void print(std::string_view text);

// Fields of the JSON result.  Text that is not valid UTF-8 goes whole, as
// the standard base64 of its bytes, under the name with "_base64" added.
void result_field(const std::string& name, const std::string& text);
void result_field(const std::string& name, const std::vector<std::string>& lines);
void result_number(const std::string& name, long long value);
void result_flag(const std::string& name, bool value);
// A whole number in decimal digits, a leading minus allowed, of at most 18
// digits (always within a long long); nothing for any other text.
std::optional<long long> whole_number_value(const std::string& text);

// How a value goes into the result: always as text (a name, "007" too), or
// as a number when it is a whole number.
enum class TKind { text, number };

// An array of objects, one per row, with the keys in order: a number key's
// whole number as a number, any other value as text under the rule above.
struct TColumn {
    const char* key;
    TKind kind;
};
void result_objects(const std::string& name, const std::vector<TColumn>& keys,
                    const std::vector<std::vector<std::string>>& rows);

// A state report as the remote scripts print it, the state on its first
// line and then "key: value" lines: "state", and the first line of each key
// listed as its field; a number key's value goes as a number, or not at all
// when it is none.  The lines of list_key, in order, as one array.
struct TReportKey {
    const char* key;
    const char* field;
    TKind kind = TKind::number;
};
void result_report(const std::string& report, const std::vector<TReportKey>& keys,
                   const char* list_key = nullptr);

// Valid UTF-8 as JSON takes it: no overlong form, no surrogate, nothing
// past U+10FFFF.
bool is_utf8(std::string_view text);

// Appends text as it stands between the quotes of a JSON string, escaped
// as nlohmann's dump escapes it.  Bytewise: text need not end on a
// character.
void append_json_text(std::string& out, std::string_view text);

// Prints the whole result object at once, for a result too big to hold:
// the fields of head, then each file's bytes as a text field (read in
// chunks, twice: once to tell UTF-8 from base64), then those of tail.
void write_result(const nlohmann::ordered_json& head,
                  const std::vector<std::pair<std::string, std::FILE*>>& files,
                  const nlohmann::ordered_json& tail);

// The line a carried-out command ends with: with --json its object, else
// nothing (its text is out already).
std::string result_line();

// The one line an error prints: the message as text mode prints it, or
// with --json {"ok": false, "error": CODE, "message": TEXT}.
std::string error_line(const TUError& error);

// The one writer of standard output.  A run prints its result or its one
// error line, as text or, with --json, as one JSON object; a handler hands
// over its result once, as a TResult that holds both forms, and this module
// decides which is printed and how the text is escaped.
#pragma once

#include "remote/error.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class TResult;
void report(const TResult& result);

// A part of a result's text.  The program's own words are known when it is
// built (a literal); any other text is a value and says how it is escaped,
// so that no text of the host's is printed raw by forgetting.
class TText {
public:
    consteval TText(const char* own) : own_(own) {}

    // Text of the host's or the account's, printable on one line.
    static TText line(std::string_view value);
    // The same keeping its line breaks: a report of lines.
    static TText lines(std::string_view value);
    // Byte for byte: only --log's log and --exec's output and error text,
    // which the panel takes as they are.
    static TText raw(std::string_view value);
    static TText raw(std::FILE* file);
    static TText number(long long value);

private:
    TText() = default;
    friend void report(const TResult& result);

    std::string_view own_;
    std::optional<std::string> made_;
    std::FILE* file_ = nullptr;
};

// How a value goes into the result: always as text (a name, "007" too), as
// a number when it is a whole number, or as true when it is "yes" (a state
// report's flag).
enum class TKind { text, number, flag };

struct TColumn {
    const char* key;
    TKind kind;
};

// A key of a state report and the field it fills.
struct TReportKey {
    const char* key;
    const char* field;
    TKind kind = TKind::number;
};

// What a command prints on success: fields of the JSON object, in order
// after "ok": true, and the text that text mode prints instead.  Text that
// is not valid UTF-8 goes into a field whole, as the standard base64 of its
// bytes, under the name with "_base64" added.
class TResult {
public:
    TResult& text(std::initializer_list<TText> parts);

    TResult& field(const std::string& name, const std::string& text);
    TResult& field(const std::string& name, const std::vector<std::string>& lines);
    TResult& flag(const std::string& name, bool value);
    TResult& number(const std::string& name, long long value);
    // text's whole number (whole_number_value), or no field.
    TResult& number(const std::string& name, const std::string& text);
    // An array of objects, one per row, with the keys in order: a number
    // key's whole number as a number, any other value as text.
    TResult& objects(const std::string& name, const std::vector<TColumn>& keys,
                     const std::vector<std::vector<std::string>>& rows);
    // A state report as the remote scripts print it, the state on its first
    // line and then "key: value" lines: "state", and the first line of each
    // key listed as its field (a number key's only when it is a whole
    // number).  The lines of list_key, in order, as one array.
    TResult& report_fields(const std::string& report, const std::vector<TReportKey>& keys,
                           const char* list_key = nullptr);
    // A file's bytes as a text field, read when the result is printed, in
    // chunks: a result too big to hold.
    TResult& file(const std::string& name, std::FILE* file);

private:
    friend void report(const TResult& result);

    std::vector<TText> text_;
    nlohmann::ordered_json fields_ = nlohmann::ordered_json::object();
    std::vector<std::pair<std::string, std::FILE*>> files_;
};

// A whole number in decimal digits, a leading minus allowed, of at most 18
// digits (always within a long long); nothing for any other text.
std::optional<long long> whole_number_value(const std::string& text);

// From here on every line is printed in the format asked for, the alarm's
// too (made ahead of time by error_line).
void start_output(bool json);

// Prints a handler's result at once: its text, or its JSON object.
void report(const TResult& result);

// Text mode passes --exec's output on as it comes, byte for byte.
void pass_on(std::string_view output);

// The run was carried out: with --json, a run that reported no result
// prints its object now ({"ok": true}).
void end_output();

// Prints the run's one error line, on a line of its own (after output
// passed on that did not end its line, a line break first): the message as
// text mode prints it, or with --json {"ok": false, "error": CODE,
// "message": TEXT}.
void report_error(const TUError& error);

// Whether results print as JSON (start_output).
bool json_output();

#include "commands/output.h"

#include "commands/printable.h"
#include "remote/bound.h"
#include "remote/fingerprint.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <set>

namespace {

bool json = false;
bool reported = false;
// The last byte printed: an error line starts a line of its own.
char last = '\n';

constexpr size_t kChunk = 3 << 15;  // a multiple of 3: base64 chunks join

// Every byte printed goes through here, flushed at once, so that what was
// printed before a failure stays ahead of its error line.  Each part
// counts as the caller taking the print.
void put(std::string_view text)
{
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
    if (!text.empty())
        last = text.back();
    printing_goes_on();
}

void put_file(std::FILE* file)
{
    std::rewind(file);
    char buffer[32768];
    while (size_t n = std::fread(buffer, 1, sizeof buffer, file))
        put({buffer, n});
}

// Read in chunks; a character cut by a chunk's end waits for the next.
bool file_is_utf8(std::FILE* file)
{
    std::rewind(file);
    char buffer[kChunk + 3];
    size_t held = 0;
    while (const size_t n = std::fread(buffer + held, 1, kChunk, file)) {
        const size_t size = held + n;
        const size_t valid = utf8_prefix({buffer, size});
        // Up to three bytes may be a character the next chunk completes;
        // if not, they fail with it.
        held = size - valid;
        if (held > 3)
            return false;
        std::memmove(buffer, buffer + valid, held);
    }
    return held == 0;
}

// Appends text as it stands between the quotes of a JSON string, escaped
// as nlohmann's dump escapes it.  Bytewise: text need not end on a
// character.
void append_json_text(std::string& out, std::string_view text)
{
    static constexpr char hex[] = "0123456789abcdef";
    size_t from = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = text[i];
        if (c >= 0x20 && c != '"' && c != '\\')
            continue;
        out.append(text.substr(from, i - from));
        from = i + 1;
        // Each byte with a short escape, then its letter.
        static constexpr std::string_view named = "\"\"\\\\\bb\ff\nn\rr\tt";
        if (const size_t at = named.find(static_cast<char>(c)); at != named.npos) {
            out += '\\';
            out += named[at + 1];
        } else {
            out += "\\u00";
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    out.append(text.substr(from));
}

void write_file_field(const std::string& name, std::FILE* file)
{
    const bool utf8 = file_is_utf8(file);
    put("," + nlohmann::json(utf8 ? name : name + "_base64").dump() + ":\"");
    // Escaping goes byte by byte, so chunks need not end on a character.
    std::rewind(file);
    char buffer[kChunk];
    std::string text;
    while (size_t n = std::fread(buffer, 1, sizeof buffer, file)) {
        text.clear();
        if (utf8)
            append_json_text(text, {buffer, n});
        else
            text = base64(std::string(buffer, n));
        put(text);
    }
    put("\"");
}

// Text that is not valid UTF-8 goes as the base64 of its bytes, under the
// name with "_base64" added.
void text_field(nlohmann::ordered_json& object, const std::string& name, const std::string& text)
{
    if (is_utf8(text))
        object[name] = text;
    else
        object[name + "_base64"] = base64(text);
}

std::string error_line(const TUError& error)
{
    const std::string text = printable(one_line(error.message));
    if (!json)
        return text + "\n";
    nlohmann::ordered_json object = {
        {"ok", false}, {"error", code_name(error.code)}, {"message", text}};
    if (error.code == TCode::remote)
        text_field(object, "step", error.step);
    if (!error.option.empty())
        text_field(object, "option", error.option);
    if (!error.phase.empty())
        object["phase"] = error.phase;
    return object.dump() + "\n";
}

}  // namespace

TText TText::line(std::string_view value)
{
    TText part;
    part.made_ = printable_line(value);
    return part;
}

TText TText::lines(std::string_view value)
{
    TText part;
    part.made_ = printable(value);
    return part;
}

TText TText::raw(std::string_view value)
{
    TText part;
    part.made_ = std::string(value);
    return part;
}

TText TText::raw(std::FILE* file)
{
    TText part;
    part.file_ = file;
    return part;
}

TText TText::number(long long value)
{
    TText part;
    part.made_ = std::to_string(value);
    return part;
}

TResult& TResult::text(std::initializer_list<TText> parts)
{
    text_.insert(text_.end(), parts);
    return *this;
}

TResult& TResult::field(const std::string& name, const std::string& text)
{
    text_field(fields_, name, text);
    return *this;
}

TResult& TResult::field(const std::string& name, const std::vector<std::string>& lines)
{
    const bool utf8 = std::all_of(lines.begin(), lines.end(), is_utf8);
    nlohmann::ordered_json& array = fields_[utf8 ? name : name + "_base64"] =
        nlohmann::ordered_json::array();
    for (const std::string& line : lines)
        array.push_back(utf8 ? line : base64(line));
    return *this;
}

TResult& TResult::flag(const std::string& name, bool value)
{
    fields_[name] = value;
    return *this;
}

TResult& TResult::number(const std::string& name, long long value)
{
    fields_[name] = value;
    return *this;
}

TResult& TResult::number(const std::string& name, const std::string& text)
{
    if (const std::optional<long long> value = whole_number_value(text))
        fields_[name] = *value;
    return *this;
}

std::optional<long long> whole_number_value(const std::string& text)
{
    const size_t digits = text.size() - (text.starts_with('-') ? 1 : 0);
    if (digits == 0 || digits > 18 ||
        text.find_first_not_of("0123456789", text.size() - digits) != std::string::npos)
        return std::nullopt;
    return std::stoll(text);
}

TResult& TResult::objects(const std::string& name, const std::vector<TColumn>& keys,
                          const std::vector<std::vector<std::string>>& rows)
{
    nlohmann::ordered_json& array = fields_[name] = nlohmann::ordered_json::array();
    for (const std::vector<std::string>& row : rows) {
        nlohmann::ordered_json object = nlohmann::ordered_json::object();
        for (size_t i = 0; i < keys.size() && i < row.size(); ++i) {
            const std::string& v = row[i];
            const std::optional<long long> number =
                keys[i].kind == TKind::number ? whole_number_value(v) : std::nullopt;
            if (number)
                object[keys[i].key] = *number;
            else if (is_utf8(v))
                object[keys[i].key] = v;
            else
                object[std::string(keys[i].key) + "_base64"] = base64(v);
        }
        array.push_back(std::move(object));
    }
    return *this;
}

TResult& TResult::report_fields(const std::string& report, const std::vector<TReportKey>& keys,
                                const char* list_key)
{
    std::vector<std::string> list;
    std::set<std::string> seen;
    size_t at = 0;
    for (bool first = true; at < report.size(); first = false) {
        const size_t end = std::min(report.find('\n', at), report.size());
        const std::string line = report.substr(at, end - at);
        at = end + 1;
        if (first) {
            field("state", line);
            continue;
        }
        const size_t colon = line.find(": ");
        if (colon == std::string::npos)
            continue;
        const std::string key = line.substr(0, colon), value = line.substr(colon + 2);
        if (list_key && key == list_key)
            list.push_back(value);
        for (const TReportKey& k : keys) {
            if (key != k.key || !seen.insert(key).second)
                continue;
            if (k.kind == TKind::text)
                field(k.field, value);
            else if (k.kind == TKind::flag)
                flag(k.field, value == "yes");
            else
                number(k.field, value);
        }
    }
    if (list_key && !list.empty())
        field(list_key, list);
    return *this;
}

TResult& TResult::file(const std::string& name, std::FILE* file)
{
    fields_[name] = nullptr;
    files_.emplace_back(name, file);
    return *this;
}

void start_output(bool as_json)
{
    json = as_json;
    set_line_maker(error_line);
}

bool json_output() { return json; }

void report(const TResult& result)
{
    reported = true;
    if (!json) {
        for (const TText& part : result.text_)
            if (part.file_)
                put_file(part.file_);
            else
                put(part.made_ ? *part.made_ : part.own_);
        return;
    }
    std::string text = R"({"ok":true)";
    for (const auto& [name, value] : result.fields_.items()) {
        const auto file = std::find_if(result.files_.begin(), result.files_.end(),
                                       [&key = name](const auto& f) { return f.first == key; });
        if (file == result.files_.end()) {
            text += "," + nlohmann::json(name).dump() + ":" + value.dump();
            continue;
        }
        put(text);
        text.clear();
        write_file_field(name, file->second);
    }
    put(text + "}\n");
}

void pass_on(std::string_view output) { put(output); }

void end_output()
{
    if (json && !reported)
        put("{\"ok\":true}\n");
}

void report_error(const TUError& error) { put((last == '\n' ? "" : "\n") + error_line(error)); }

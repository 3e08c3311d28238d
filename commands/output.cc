#include "commands/output.h"

#include "commands/printable.h"
#include "remote/bound.h"
#include "remote/fingerprint.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <set>

bool json_output = false;

namespace {

nlohmann::ordered_json result = {{"ok", true}};
bool result_written = false;

constexpr size_t kChunk = 3 << 15;  // a multiple of 3: base64 chunks join

// Every part of a long print goes through here: each counts as the
// caller taking the print.
void put(std::string_view text)
{
    std::fwrite(text.data(), 1, text.size(), stdout);
    printing_goes_on();
}

// Read in chunks; a character cut by a chunk's end waits for the next.
bool file_is_utf8(std::FILE* file)
{
    std::rewind(file);
    char buffer[kChunk + 3];
    size_t held = 0;
    while (const size_t n = std::fread(buffer + held, 1, kChunk, file)) {
        const size_t size = held + n;
        // Back to the lead byte of the last character; it waits if it is
        // not complete yet.
        size_t lead = size;
        while (lead > 0 && size - lead < 3 && (buffer[lead - 1] & 0xC0) == 0x80)
            --lead;
        size_t cut = size;
        if (lead > 0) {
            const unsigned char c = buffer[lead - 1];
            const size_t length = c < 0xC0 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
            if (lead - 1 + length > size)
                cut = lead - 1;
        }
        if (!is_utf8({buffer, cut}))
            return false;
        held = size - cut;
        std::memmove(buffer, buffer + cut, held);
    }
    return held == 0;
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

}  // namespace

void print(std::string_view text)
{
    if (json_output)
        return;
    put(text);
    std::fflush(stdout);
}

bool is_utf8(std::string_view text)
{
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const auto* end = p + text.size();
    while (p < end) {
        // Eight bytes of ASCII at a time: most text is.
        std::uint64_t eight;
        if (end - p >= 8 && (std::memcpy(&eight, p, 8), (eight & 0x8080808080808080) == 0)) {
            p += 8;
            continue;
        }
        const unsigned char c = *p;
        if (c < 0x80) {
            ++p;
            continue;
        }
        // The second byte's range rules out overlong forms, surrogates and
        // code points past U+10FFFF.
        long size;
        unsigned char low = 0x80, high = 0xBF;
        if (c >= 0xC2 && c <= 0xDF) {
            size = 2;
        } else if (c >= 0xE0 && c <= 0xEF) {
            size = 3;
            low = c == 0xE0 ? 0xA0 : low;
            high = c == 0xED ? 0x9F : high;
        } else if (c >= 0xF0 && c <= 0xF4) {
            size = 4;
            low = c == 0xF0 ? 0x90 : low;
            high = c == 0xF4 ? 0x8F : high;
        } else {
            return false;
        }
        if (end - p < size || p[1] < low || p[1] > high)
            return false;
        for (long i = 2; i < size; ++i)
            if ((p[i] & 0xC0) != 0x80)
                return false;
        p += size;
    }
    return true;
}

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

void result_field(const std::string& name, const std::string& text)
{
    if (is_utf8(text))
        result[name] = text;
    else
        result[name + "_base64"] = base64(text);
}

void result_field(const std::string& name, const std::vector<std::string>& lines)
{
    bool utf8 = true;
    for (const std::string& line : lines)
        utf8 = utf8 && is_utf8(line);
    nlohmann::ordered_json& array = result[utf8 ? name : name + "_base64"] = nlohmann::ordered_json::array();
    for (const std::string& line : lines)
        array.push_back(utf8 ? line : base64(line));
}

void result_number(const std::string& name, long long value)
{
    result[name] = value;
}

void result_flag(const std::string& name, bool value)
{
    result[name] = value;
}

std::optional<long long> whole_number_value(const std::string& text)
{
    const size_t digits = text.size() - (text.starts_with('-') ? 1 : 0);
    if (digits == 0 || digits > 18 || text.find_first_not_of("0123456789", text.size() - digits) != std::string::npos)
        return std::nullopt;
    return std::stoll(text);
}

void result_objects(const std::string& name, const std::vector<TColumn>& keys,
                    const std::vector<std::vector<std::string>>& rows)
{
    nlohmann::ordered_json& array = result[name] = nlohmann::ordered_json::array();
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
}

void result_report(const std::string& report, const std::vector<TReportKey>& keys,
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
            result_field("state", line);
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
                result_field(k.field, value);
            else if (const std::optional<long long> number = whole_number_value(value))
                result_number(k.field, *number);
        }
    }
    if (list_key && !list.empty())
        result_field(list_key, list);
}

void write_result(const nlohmann::ordered_json& head,
                  const std::vector<std::pair<std::string, std::FILE*>>& files,
                  const nlohmann::ordered_json& tail)
{
    nlohmann::ordered_json object = result;
    object.update(head);
    std::string text = object.dump();
    text.pop_back();  // the closing brace: the files' fields follow
    put(text);
    for (const auto& [name, file] : files)
        write_file_field(name, file);
    text.clear();
    for (const auto& [name, value] : tail.items())
        text += "," + nlohmann::json(name).dump() + ":" + value.dump();
    text += "}\n";
    put(text);
    std::fflush(stdout);
    result_written = true;
}

std::string result_line()
{
    return json_output && !result_written ? result.dump() + "\n" : "";
}

std::string error_line(const TUError& error)
{
    const std::string text = printable(one_line(error.message));
    if (!json_output)
        return text + "\n";
    nlohmann::ordered_json object = {
        {"ok", false}, {"error", code_name(error.code)}, {"message", text}};
    if (error.code == TCode::remote)
        object[is_utf8(error.step) ? "step" : "step_base64"] =
            is_utf8(error.step) ? error.step : base64(error.step);
    return object.dump() + "\n";
}

#include "commands/output.h"

#include "commands/printable.h"
#include "remote/fingerprint.h"

#include <algorithm>
#include <cstdio>
#include <set>

bool json_output = false;

namespace {

nlohmann::ordered_json result = {{"ok", true}};
bool result_written = false;

constexpr size_t kChunk = 3 << 15;  // a multiple of 3: base64 chunks join

// The bytes of file in chunks that end on a character's boundary (the
// rest waits for the next chunk); false from each when it is no UTF-8.
template <class Each>
bool each_utf8_chunk(std::FILE* file, Each each)
{
    std::rewind(file);
    std::string data;
    char buffer[kChunk];
    for (;;) {
        const size_t n = std::fread(buffer, 1, sizeof buffer, file);
        data.append(buffer, n);
        size_t cut = data.size();
        if (n > 0) {
            // Back to the lead byte of the last character; cut before it
            // if the character is not complete yet.
            size_t lead = cut;
            while (lead > 0 && cut - lead < 3 && (data[lead - 1] & 0xC0) == 0x80)
                --lead;
            if (lead > 0) {
                const unsigned char c = data[lead - 1];
                const size_t size = c < 0xC0 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
                if (lead - 1 + size > cut)
                    cut = lead - 1;
            }
        }
        if (!each(data.substr(0, cut)))
            return false;
        data.erase(0, cut);
        if (n == 0)
            return data.empty();
    }
}

void write_file_field(const std::string& name, std::FILE* file)
{
    const bool utf8 = each_utf8_chunk(file, [](const std::string& text) { return is_utf8(text); });
    std::string out = "," + nlohmann::json(utf8 ? name : name + "_base64").dump() + ":\"";
    std::fwrite(out.data(), 1, out.size(), stdout);
    if (utf8) {
        each_utf8_chunk(file, [](const std::string& text) {
            const std::string quoted = nlohmann::json(text).dump();
            std::fwrite(quoted.data() + 1, 1, quoted.size() - 2, stdout);
            return true;
        });
    } else {
        std::rewind(file);
        char buffer[kChunk];
        while (size_t n = std::fread(buffer, 1, sizeof buffer, file)) {
            const std::string text = base64(std::string(buffer, n));
            std::fwrite(text.data(), 1, text.size(), stdout);
        }
    }
    std::fwrite("\"", 1, 1, stdout);
}

}  // namespace

void print(const std::string& text)
{
    if (json_output)
        return;
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

bool is_utf8(const std::string& text)
{
    try {
        (void)nlohmann::json(text).dump();  // refuses what is not UTF-8
        return true;
    } catch (const nlohmann::json::type_error&) {
        return false;
    }
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
    std::fwrite(text.data(), 1, text.size(), stdout);
    for (const auto& [name, file] : files)
        write_file_field(name, file);
    text.clear();
    for (const auto& [name, value] : tail.items())
        text += "," + nlohmann::json(name).dump() + ":" + value.dump();
    text += "}\n";
    std::fwrite(text.data(), 1, text.size(), stdout);
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

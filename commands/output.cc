#include "commands/output.h"

#include "commands/printable.h"
#include "remote/fingerprint.h"

#include <cstdio>

bool json_output = false;

namespace {

nlohmann::ordered_json result = {{"ok", true}};

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

std::string result_line()
{
    return json_output ? result.dump() + "\n" : "";
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

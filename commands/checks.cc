#include "commands/checks.h"

#include "opt/lookup.h"
#include "remote/error.h"

void chk_abs_path(const std::string& path)
{
    if (path.empty() || path[0] != '/')
        throw TUError(TCode::usage, "Directry/file must be set absolute pathname");
}

bool is_number_upto(const std::string& text, int max)
{
    // whole_number has no room for 0, which is a value here (port 0 lets
    // the server choose, a time limit 0 is none).
    return zelto::opt::whole_number(text, max) > 0 ||
           (!text.empty() && text.find_first_not_of('0') == std::string::npos);
}

bool is_port_number(const std::string& text) { return is_number_upto(text, 65535); }

bool holds_line_break(const std::string& text)
{
    return text.find_first_of("\n\r") != std::string::npos;
}

void refuse_line_break(const std::string& file, const std::string& key, const std::string& value)
{
    if (holds_line_break(value))
        throw TUError(TCode::usage,
                      "Set option '" + key + "' failed in " + file + ": value holds a line break");
}

void refuse_setting(const std::string& file, const std::string& key, const std::string& value,
                    TSettingKind kind)
{
    refuse_line_break(file, key, value);
    const std::string setting = "Setting '" + key + "' ";
    if (kind == TSettingKind::text && value.find('"') != std::string::npos)
        throw TUError(TCode::usage, setting + "holds a double quote");
    if (kind == TSettingKind::number && !is_number_upto(value, 2147483647))
        throw TUError(TCode::usage, setting + "must be a whole number");
    if (kind == TSettingKind::bare && value.find_first_of(" \t'\"") != std::string::npos)
        throw TUError(TCode::usage, setting + "holds a blank or quote");
}

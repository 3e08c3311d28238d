#include "commands/checks.h"

#include "opt/lookup.h"
#include "remote/error.h"

#include <vector>

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t'; }

bool only(const std::string& text, const std::string& allowed)
{
    return text.find_first_not_of(allowed) == std::string::npos;
}

}  // namespace

void chk_abs_path(const std::string& path, const char* option)
{
    if (path.empty() || path[0] != '/')
        throw TUError(TCode::usage, "Directry/file must be set absolute pathname").about(option);
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

void refuse_line_break(const std::string& file, const std::string& key, const std::string& value,
                       const char* option)
{
    if (holds_line_break(value))
        throw TUError(TCode::usage,
                      "Set option '" + key + "' failed in " + file + ": value holds a line break")
            .about(option);
}

void refuse_setting(const std::string& file, const std::string& key, const std::string& value,
                    TSettingKind kind, const char* option)
{
    refuse_line_break(file, key, value, option);
    const char* why = nullptr;
    // A customer's value: a bound keeps the settings file and the server's
    // own reading of it small.
    if (value.size() > 1024)
        why = "is longer than 1024 bytes";
    else if (kind == TSettingKind::text && value.find('"') != std::string::npos)
        why = "holds a double quote";
    else if (kind == TSettingKind::number && !is_number_upto(value, 2147483647))
        why = "must be a whole number";
    else if (kind == TSettingKind::bare && value.find_first_of(" \t'\"") != std::string::npos)
        why = "holds a blank or quote";
    if (why)
        throw TUError(TCode::usage, "Setting '" + key + "' " + why).about(option);
}

void refuse_rcon_password(const std::string& password)
{
    const char* why = nullptr;
    if (password.find('=') != std::string::npos)
        why = "holds an equals sign";
    else if (holds_line_break(password))
        why = "holds a line break";
    else if (!password.empty() && (is_blank(password.front()) || is_blank(password.back())))
        why = "begins or ends with a blank";
    else if (password.empty())
        why = "is empty";
    if (why)
        throw TUError(TCode::usage, std::string("Rcon password ") + why).about("rcon-password");
}

void chk_mod_name(const std::string& name)
{
    if (name.empty() || !only(name, "abcdefghijklmnopqrstuvwxyz0123456789-_"))
        throw TUError(TCode::usage, "Mod name must be lower-case letters, digits, '-' or '_'")
            .about("mod");
}

std::string map_list(const std::string& entries)
{
    std::vector<std::string> list;
    for (size_t begin = 0, end = 0; end != std::string::npos; begin = end + 1) {
        end = entries.find(',', begin);
        list.push_back(entries.substr(begin, end - begin));
    }
    if (list.size() > 256)
        throw TUError(TCode::usage, "Map list holds more than 256 entries").about("maps");
    const char* lower = "abcdefghijklmnopqrstuvwxyz";
    std::string file;
    for (const std::string& entry : list) {
        const size_t one = entry.find(':'), two = entry.find(':', one + 1);
        const std::string map = entry.substr(0, one),
                          mode =
                              one == std::string::npos ? "" : entry.substr(one + 1, two - one - 1),
                          size = two == std::string::npos ? "" : entry.substr(two + 1);
        if (map.empty() || !only(map, std::string(lower) + "0123456789_") || mode.size() <= 4 ||
            mode.compare(0, 4, "gpm_") != 0 || !only(mode.substr(4), lower) ||
            (size != "16" && size != "32" && size != "64"))
            throw TUError(TCode::usage, "Map list entry '" + entry + "' must be MAP:MODE:SIZE")
                .about("maps");
        file += "mapList.append " + map + " " + mode + " " + size + "\n";
    }
    return file;
}

#include "commands/settings.h"

#include "driver/tuerror.h"
#include "remote/exec.h"
#include "remote/shell.h"

namespace {

// The key stays a basic regular expression in which only "." is special, as
// keys have always matched; everything else that could change the pattern
// or end the sed script is escaped.
std::string key_pattern(const std::string& key, bool for_sed)
{
    std::string out;
    for (char c : key) {
        if (c == '\\' || c == '[' || c == '*' || c == '^' || c == '$' || (for_sed && c == '/'))
            out += '\\';
        out += c;
    }
    return out;
}

std::string sed_replacement(const std::string& value)
{
    std::string out;
    for (char c : value) {
        if (c == '\\' || c == '&' || c == '/')
            out += '\\';
        out += c;
    }
    return out;
}

}  // namespace

std::string set_cfg_command(const std::string& file, const std::string& key,
                            const std::string& value, bool quote)
{
    // sed works line by line, and a line break would split the setting into
    // two lines of the file.
    auto refuse = [&](const char* why) {
        return TUError("Set option '" + key + "' failed in " + file + ": " + why);
    };
    if (key.find_first_of("\n\r") != std::string::npos)
        throw refuse("key holds a line break");
    if (value.find_first_of("\n\r") != std::string::npos)
        throw refuse("value holds a line break");

    std::string v = quote ? "\"" + value + "\"" : value;
    std::string f = shell_str(file);
    std::string pre = shell_str(file + ".pre");
    std::string grep_re = "^[[:space:]]*" + key_pattern(key, false) + "[[:space:]]";
    std::string sed_script = "s/^\\([[:space:]]*" + key_pattern(key, true) + "[[:space:]]\\).*/\\1" +
                             sed_replacement(v) + "/";

    // printf, not echo: dash's echo rewrites backslash sequences.  The
    // redirection empties the file before sed runs, so a failed sed must be
    // undone from the backup before anything is appended, and if even that
    // fails nothing is appended and the backup is kept.  LC_ALL=C: in a UTF-8
    // locale ".*" stops at the first byte that is not valid UTF-8 and would
    // leave the rest of the old value behind.
    return "append_setting() { printf '\\n%s %s\\n' " + shell_str(key) + " " + shell_str(v) +
           " >>" + f + "; }; if LC_ALL=C grep -e " + shell_str(grep_re) + " " + f +
           " >/dev/null 2>&1 && cp -f " + f + " " + pre + "; then if LC_ALL=C sed -e " +
           shell_str(sed_script) + " " + pre + " >" + f + "; then rm -f " + pre +
           " || append_setting; else cat " + pre + " >" + f +
           " && append_setting; fi; else append_setting; fi";
}

void set_cfg_option(const std::string& file, const std::string& key, const std::string& value,
                    bool quote)
{
    std::string command = set_cfg_command(file, key, value, quote);
    TExecResult r = ssh_exec(command, "", false);
    if (r.status != 0)
        throw TUError("Set option '" + key + "' failed in " + file + ": " + r.err);
}

#include "commands/checks.h"

#include "opt/lookup.h"
#include "remote/error.h"

void chk_abs_path(const std::string& path)
{
    if (path.empty() || path[0] != '/')
        throw TUError("Directry/file must be set absolute pathname");
}

bool is_port_number(const std::string& text)
{
    // Port 0 lets the server choose; whole_number has no room for it.
    return zelto::opt::whole_number(text, 65535) > 0 ||
           (!text.empty() && text.find_first_not_of('0') == std::string::npos);
}

bool holds_line_break(const std::string& text)
{
    return text.find_first_of("\n\r") != std::string::npos;
}

void refuse_line_break(const std::string& file, const std::string& key, const std::string& value)
{
    if (holds_line_break(value))
        throw TUError("Set option '" + key + "' failed in " + file + ": value holds a line break");
}

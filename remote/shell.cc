#include "remote/shell.h"

#include "remote/error.h"

std::string shell_str(const std::string& value)
{
    std::string quoted = "'";
    quoted.reserve(value.size() + 2);
    for (char c : value) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    quoted += '\'';
    return quoted;
}

void chk_abs_path(const std::string& path)
{
    if (path.empty() || path[0] != '/')
        throw TUError("Directry/file must be set absolute pathname");
}

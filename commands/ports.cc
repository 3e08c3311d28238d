#include "commands/ports.h"

#include "remote/exec.h"
#include "remote/shell.h"

std::string port_using_command(const std::string& port)
{
    // The port reaches awk through the environment, as data: shell quoting
    // alone would still let it be awk program text.  The address field of
    // the tables is hexadecimal, so only the port after its last ":" is
    // compared.  The IPv6 tables are missing on hosts without IPv6.
    return "cat /proc/net/tcp /proc/net/udp /proc/net/tcp6 /proc/net/udp6 2>/dev/null | BF2_PORT=" +
           shell_str(port) + R"sh( awk 'BEGIN { p = ENVIRON["BF2_PORT"]; ok = p ~ /^[0-9]+$/ && p + 0 <= 65535; if (!ok) exit 1; h = sprintf("%04X", p + 0) } $1 ~ /^[0-9]+:$/ { a = $2; sub(/.*:/, "", a); if (a == h) { found = 1; exit } } END { exit !found }')sh";
}

bool port_using(const std::string& port)
{
    return ssh_exec(port_using_command(port), "", false).status == 0;
}

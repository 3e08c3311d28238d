#include "commands/ports.h"

#include "driver/address.h"

// The address field of the tables is hexadecimal, so only the port after its
// last ":" is compared.  The IPv6 tables are missing on hosts without IPv6.
// The port reaches awk through its environment, as data.
const char* const ports_functions = R"sh(
port_in_use() {
	cat /proc/net/tcp /proc/net/udp /proc/net/tcp6 /proc/net/udp6 2>/dev/null | BF2_PORT=$1 awk '
		BEGIN { h = sprintf("%04X", ENVIRON["BF2_PORT"] + 0) }
		$1 ~ /^[0-9]+:$/ { a = $2; sub(/.*:/, "", a); if (a == h) { found = 1; exit } }
		END { exit !found }'
}
)sh";

bool is_port_number(const std::string& text)
{
    // Port 0 lets the server choose; whole_number has no room for it.
    return whole_number(text, 65535) > 0 ||
           (!text.empty() && text.find_first_not_of('0') == std::string::npos);
}

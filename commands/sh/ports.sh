# shellcheck shell=sh
# port_in_use PORT: whether some socket in the IPv4 or IPv6 TCP/UDP tables
# has PORT, a decimal number, as its local port.  The address field of the
# tables is hexadecimal, so only the port after its last ":" is compared.
# The IPv6 tables are missing on hosts without IPv6.  The port reaches awk
# through its environment, as data.
port_in_use() {
	cat /proc/net/tcp /proc/net/udp /proc/net/tcp6 /proc/net/udp6 2>/dev/null | BF2_PORT=$1 awk '
		BEGIN { h = sprintf("%04X", ENVIRON["BF2_PORT"] + 0) }
		$1 ~ /^[0-9]+:$/ { a = $2; sub(/.*:/, "", a); if (a == h) { found = 1; exit } }
		END { exit !found }'
}

# shellcheck shell=sh
# Whether the running game server of $CFGDIR, or a process it started (a
# launcher need not exec the game), holds the listening TCP socket of port
# $PORT, IPv4 or IPv6: the console bf2ctl logs in to next is then the
# server's own, never a neighbour's that took the port.  A socket is told by
# its inode: /proc/net/tcp* lists the listeners (state 0A), and a process's
# /proc/PID/fd links name theirs as socket:[INODE].
running || fail stopped
# Only the listeners a connection to 127.0.0.1 reaches count: the loopback
# or wildcard address of IPv4, else of IPv6 (mapped, or dual-stack).  A
# server on another address leaves 127.0.0.1:PORT free for a neighbour.
SOCKETS=$(awk -v port="$(printf ':%04X' "$PORT")" '$4 == "0A" && substr($2, length($2) - 4) == port {
	a = substr($2, 1, length($2) - 5)
	if (FILENAME ~ /tcp$/ && (a == "0100007F" || a == "00000000")) v4 = v4 "socket:[" $10 "]\n"
	if (FILENAME ~ /tcp6$/ && a ~ /^0*(FFFF00000100007F)?$/) v6 = v6 "socket:[" $10 "]\n"
} END { printf "%s", v4 != "" ? v4 : v6 }' /proc/net/tcp /proc/net/tcp6 2>/dev/null)
[ -n "$SOCKETS" ] || fail no-listener
# descendants prints the server's pid at least, so find is never left
# without a folder (it would search the working directory).
# shellcheck disable=SC2046 # one folder a word: pids are digits
find $(descendants "$SRVPID" | sed 's|.*|/proc/&/fd|') -mindepth 1 -maxdepth 1 -printf '%l\n' 2>/dev/null |
	grep -qxF "$SOCKETS" || fail no-listener

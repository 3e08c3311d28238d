# shellcheck shell=sh
# running, and then the pid, the uptime and the memory of the game server
# of $CFGDIR; or crashed and its record (exit: or signal:, ended:,
# last-error:), which the start script wrote when the server ended unasked;
# or stopped.  Uptime from the process's start in clock ticks
# after boot (field 22 of its stat, counted after the command name, which
# may hold blanks); memory from its resident set.  A process that ends
# while this reads is stopped.
running && BF2_PID=$SRVPID BF2_HZ=$(getconf CLK_TCK 2>/dev/null || echo 100) awk '
	FILENAME == "/proc/uptime" { up = $1 }
	FILENAME ~ /\/stat$/ { s = $0; sub(/.*\) /, "", s); split(s, f, " "); start = f[20] }
	FILENAME ~ /\/status$/ && $1 == "VmRSS:" { kb = $2 }
	END {
		if (start == "" || kb == "") exit 1
		printf "running\npid: %s\nuptime: %d\nmemory-kb: %s\n", ENVIRON["BF2_PID"], up - start / ENVIRON["BF2_HZ"], kb
	}' /proc/uptime "/proc/$SRVPID/stat" "/proc/$SRVPID/status" 2>/dev/null ||
	{ [ -f "$CFGDIR/server.crash" ] && echo crashed && head -c 8192 "$CFGDIR/server.crash"; } ||
	echo stopped

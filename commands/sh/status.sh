# shellcheck shell=sh
# The state of the game server of $CFGDIR: starting or stopping, while a
# start (or restart) or a stop holds the configuration's lock, as its kind
# says (a lock whose keeper is gone is no lock); running, and then the pid,
# the uptime, the memory and the kernel's state letter of the process (and
# the restarts after crashes, when started to restart); restarting, while
# its start script waits to start it again after a crash; crashed and the
# record its start script wrote when it ended unasked (exit: or signal:,
# ended:, last-error:, and restarts: and gave-up: when started to restart);
# or stopped.  Uptime from the process's start in clock ticks after boot
# (field 22 of its stat) and the state (field 3), both counted after the
# command name, which may hold blanks, parentheses and line breaks: the
# last ") " of the last line ends it.  Memory from its resident set.  A
# process that ends while this reads is not running.
# Status may run as root: what it prints of the account's files is only
# what the start script writes there (a number, the record's own lines),
# so a link the account plants at their names shows nothing of its target.
restarts() {
	N=$(first_line "$CFGDIR/server.restarts")
	case $N in
	'' | *[!0-9]*) ;;
	*) printf 'restarts: %s\n' "$N" ;;
	esac
}
KIND=
LOCKDIR=$CFGDIR/.bf2ctl.lock
if [ -d "$LOCKDIR" ] && keeper_alive "$(lock_owner)"; then
	KIND=$(first_line "$LOCKDIR/kind")
fi
if [ "$KIND" = start ]; then
	echo starting
elif [ "$KIND" = stop ]; then
	echo stopping
elif running && BF2_PID=$SRVPID BF2_HZ=$(getconf CLK_TCK 2>/dev/null || echo 100) awk '
	FILENAME == "/proc/uptime" { up = $1 }
	FILENAME ~ /\/stat$/ { s = $0; sub(/.*\) /, "", s); split(s, f, " "); state = f[1]; start = f[20] }
	FILENAME ~ /\/status$/ && $1 == "VmRSS:" { kb = $2 }
	END {
		if (start == "" || kb == "" || state !~ /^[A-Za-z]$/) exit 1
		printf "running\npid: %s\nuptime: %d\nmemory-kb: %s\nprocess-state: %s\n", ENVIRON["BF2_PID"],
			up - start / ENVIRON["BF2_HZ"], kb, state
	}' /proc/uptime "/proc/$SRVPID/stat" "/proc/$SRVPID/status" 2>/dev/null; then
	restarts
elif [ -f "$CFGDIR/server.restarting" ] && ours "$(first_line "$CFGDIR/start.pid")" "$CFGDIR/start.sh"; then
	echo restarting
	restarts
elif [ -f "$CFGDIR/server.crash" ]; then
	echo crashed
	# Each key once, its first line: the record is the account's file.
	head -c 8192 "$CFGDIR/server.crash" 2>/dev/null | awk '(/^(exit|ended|restarts): [0-9]+$/ ||
		/^signal: [A-Z0-9+-]+$/ || /^gave-up: yes$/ || /^last-error: /) && !seen[substr($0, 1, index($0, ":"))]++'
else
	echo stopped
fi

# shellcheck shell=sh
# Runs the start script of $CFGDIR detached and waits until the game server
# is up, holding the lock the preparing script of this run left.  It runs
# under a terminal, which sends a hang-up when it closes: the launcher
# ignores it before nohup starts, so nohup inherits that from its very
# start.  The start counts as done once the game server named by
# server.pid has lived for two seconds; otherwise the reason is the last
# line the server wrote to its error log during this start, or the
# launcher's own.
adopt || { echo "the configuration directory's lock was lost" >&2; exit 1; }
chmod 750 "$CFGDIR/start.sh" || { unlock; exit 1; }
trap '' 1
LOGSIZE=0
[ -f "$CFGDIR/srderr.log" ] && LOGSIZE=$(wc -c <"$CFGDIR/srderr.log")
# Started from a subshell that ends at once: the game server is no
# descendant of this script, so the watchdog leaves it alone.
PID=$(nohup "$CFGDIR/start.sh" </dev/null >/dev/null 2>&1 & echo $!)
gave_up() {
	LAST=
	[ -f "$CFGDIR/srderr.log" ] &&
		LAST=$(tail -c +$((LOGSIZE + 1)) "$CFGDIR/srderr.log" | awk 'NF { l = $0 } END { print l }')
	printf '%s\n' "${LAST:-$1}" >&2
	unlock
	exit 1
}
TRIES=0
until SRVPID=$(first_line "$CFGDIR/server.pid") &&
	ours "$SRVPID" "$CFGDIR/settings/serversettings.con" "$CFGDIR/server.start"; do
	[ -d "/proc/$PID" ] || gave_up 'Process dead'
	TRIES=$((TRIES + 1))
	[ $TRIES -le 80 ] || gave_up 'Timeout end'
	sleep 0.2
done
sleep 2
ours "$SRVPID" "$CFGDIR/settings/serversettings.con" "$CFGDIR/server.start" || gave_up 'Process dead'
# The server came up: from now on a crash is the server's, not the start's.
: >"$CFGDIR/server.up"
unlock

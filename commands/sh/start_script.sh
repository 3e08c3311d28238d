# shellcheck shell=sh
# The start script of a configuration, written to $CFGDIR/start.sh after
# the lines that set SRVDIR and CFGDIR and the ours functions.  It runs the
# game server with its console on the pipe server-stdin, its error output in
# srderr.log, its pid in server.pid and its start time in server.start
# (written first: whoever reads the new pid finds its start time), and waits
# for it.  An end that no stop asked for (the stop script leaves the mark
# server.stopping first) is a crash: server.crash records the exit status or
# the signal, the time and the last line the server wrote to its error log.
# The run files go only with the script's own start.pid: by the time the
# server ends, another start may own them.
# shellcheck disable=SC2064 # the trap names this server's pid, known now
echo $$ > "$CFGDIR/start.pid" && cd "$SRVDIR" && rm -f "$CFGDIR/server-stdin" && mkfifo "$CFGDIR/server-stdin" && { cat >"$CFGDIR/server-stdin" & } && FCATPID=$! || exit 1
LOGSIZE=0
[ -f "$CFGDIR/srderr.log" ] && LOGSIZE=$(($(wc -c <"$CFGDIR/srderr.log")))
{ ./start.sh +statusMonitor 1 +config "$CFGDIR/settings/serversettings.con" +mapList "$CFGDIR/settings/maplist.con" <"$CFGDIR/server-stdin" >/dev/null 2>>"$CFGDIR/srderr.log" & } && SRVPID=$! && trap "kill $SRVPID" 1 2 15 && start_time "$SRVPID" > "$CFGDIR/server.start" && echo "$SRVPID" > "$CFGDIR/server.pid" && wait "$SRVPID"
STATUS=$?

kill "$FCATPID" 2>/dev/null
if [ -n "${SRVPID:-}" ] && [ ! -e "$CFGDIR/server.stopping" ]; then
	if [ "$STATUS" -gt 128 ]; then
		END="signal: $(kill -l $((STATUS - 128)))"
	else
		END="exit: $STATUS"
	fi
	LAST=
	[ -f "$CFGDIR/srderr.log" ] &&
		LAST=$(tail -c +$((LOGSIZE + 1)) "$CFGDIR/srderr.log" | tail -c 65536 | awk 'NF { l = $0 } END { print l }' | cut -b -4096)
	# Renamed into place: a reader never sees half a record, and a link
	# planted at the name is replaced, not followed.
	{ printf '%s\nended: %s\n' "$END" "$(date +%s)" && { [ -z "$LAST" ] || printf 'last-error: %s\n' "$LAST"; }; } >"$CFGDIR/server.crash.$$" &&
		mv -f "$CFGDIR/server.crash.$$" "$CFGDIR/server.crash"
fi
OWNER=$(first_line "$CFGDIR/start.pid")
[ "$OWNER" = $$ ] && rm -f "$CFGDIR/server.pid" "$CFGDIR/server.start" "$CFGDIR/server-stdin" "$CFGDIR/start.pid" 2>/dev/null

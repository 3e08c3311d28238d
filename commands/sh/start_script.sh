# shellcheck shell=sh
# The start script of a configuration, written to $CFGDIR/start.sh after
# the lines that set SRVDIR and CFGDIR and the ours functions.  It runs the
# game server with its console on the pipe server-stdin, its error output in
# srderr.log, its pid in server.pid and its start time in server.start
# (written first: whoever reads the new pid finds its start time), and waits
# for it.  The run files go only with the script's own start.pid: by the
# time the server ends, another start may own them.
# shellcheck disable=SC2064 # the trap names this server's pid, known now
echo $$ > "$CFGDIR/start.pid" && cd "$SRVDIR" && rm -f "$CFGDIR/server-stdin" && mkfifo "$CFGDIR/server-stdin" && { cat >"$CFGDIR/server-stdin" & } && FCATPID=$! && { ./start.sh +statusMonitor 1 +config "$CFGDIR/settings/serversettings.con" +mapList "$CFGDIR/settings/maplist.con" <"$CFGDIR/server-stdin" >/dev/null 2>>"$CFGDIR/srderr.log" & } && SRVPID=$! && trap "kill $SRVPID" 1 2 15 && start_time "$SRVPID" > "$CFGDIR/server.start" && echo "$SRVPID" > "$CFGDIR/server.pid" && wait "$SRVPID"

kill "$FCATPID" 2>/dev/null
OWNER=$(first_line "$CFGDIR/start.pid")
[ "$OWNER" = $$ ] && rm -f "$CFGDIR/server.pid" "$CFGDIR/server.start" "$CFGDIR/server-stdin" "$CFGDIR/start.pid" 2>/dev/null

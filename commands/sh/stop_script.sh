# shellcheck shell=sh
# The stop script of a configuration, written to $CFGDIR/stop.sh after the
# shared functions and a line that sets CFGDIR.  It asks the game server to
# quit through its console pipe, then signals what is left of the server
# and of its start script; it ends with status 1 and the reason on its
# standard error when one of them outlives signal 9 (its run files stay).
# A stop that succeeds leaves no run file and no mark of the run behind.

# A stop, not a crash: the start script finds this mark when the server
# ends.  The last crash's record goes.
rm -f "$CFGDIR/server.stopping" "$CFGDIR/server.crash"
: >"$CFGDIR/server.stopping"

# The console pipe is opened read-write, so the quit goes in at once even
# when nobody reads it, and a full pipe holds up only the writer, which is
# killed when the wait is over.  The start script removes the pipe once the
# server has ended.
if [ -p "$CFGDIR/server-stdin" ]; then
	echo 'quit
' 1<>"$CFGDIR/server-stdin" &
	QUITPID=$!
	for _ in 1 2 3 4 5; do
		sleep 1
		[ ! -p "$CFGDIR/server-stdin" ] && break
	done
	kill $QUITPID 2>/dev/null
fi

# stop_pid PIDFILE FILE [STARTFILE], by the rule of ours; the start time
# file goes with the pid file.
stop_pid() {
	PID=$(first_line "$1")
	if ours "$PID" "$2" "${3:-}"; then
		kill "$PID" 2>/dev/null
		sleep 1
		ours "$PID" "$2" "${3:-}" && kill -9 "$PID" 2>/dev/null && sleep 1
		if ours "$PID" "$2" "${3:-}"; then
			echo "process $PID survives signal 9" >&2
			return 1
		fi
	fi
	rm -f "$1" ${3:+"$3"}
}

stop_pid "$CFGDIR/server.pid" "$CFGDIR/settings/serversettings.con" "$CFGDIR/server.start" || exit 1
[ -f "$CFGDIR/start.pid" ] && sleep 1
stop_pid "$CFGDIR/start.pid" "$CFGDIR/start.sh" || exit 1
# With the start script gone nobody reads the marks of this run any more.
rm -f "$CFGDIR/server-stdin" "$CFGDIR/server.stopping" "$CFGDIR/server.up" "$CFGDIR/server.restarting" \
	"$CFGDIR/server.restarts"

# shellcheck shell=sh
# Writes $LINE to the console pipe of the running game server of $CFGDIR.
# The writer waits in its open until the server reads the pipe, and in its
# write while the pipe is full: after three seconds of that it is killed.
running || fail stopped
[ -p "$CFGDIR/server-stdin" ] || fail no-pipe
printf '%s\n' "$LINE" 2>/dev/null >"$CFGDIR/server-stdin" &
WRITER=$!
TRIES=0
while kill -0 $WRITER 2>/dev/null; do
	TRIES=$((TRIES + 1))
	[ $TRIES -le 30 ] || { kill $WRITER 2>/dev/null; fail unread; }
	sleep 0.1
done
wait $WRITER || fail unread

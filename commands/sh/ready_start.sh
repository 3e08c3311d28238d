# shellcheck shell=sh
# The end of a start's or restart's preparation: keep the last run's log,
# check the game's launcher and the ports ($PORTS; 0 lets the server
# choose, so it is not checked) and write the start script: the lines that
# set SRVDIR, RESTART_ON_CRASH and MOD, then $START_SCRIPT.  It ends
# holding the lock, which the launcher of the same run takes over.
# A non-empty error log is kept as srderr.log.1, older ones shift up to .5:
# a crashed run's log outlives the next start, and the logs' size is
# bounded by runs.
if [ -s "$CFGDIR/srderr.log" ]; then
	for k in 4 3 2 1; do
		mv -f "$CFGDIR/srderr.log.$k" "$CFGDIR/srderr.log.$((k + 1))" 2>/dev/null
	done
	mv -f "$CFGDIR/srderr.log" "$CFGDIR/srderr.log.1"
fi
test -x "$SRVDIR/start.sh" || fail test
for port in $PORTS; do
	[ "$port" = 0 ] || ! port_in_use "$port" || fail port "$port"
done
# An error log that is not a regular file (a pipe left there) would hold
# the server's start for ever.
[ ! -e "$CFGDIR/srderr.log" ] || [ -f "$CFGDIR/srderr.log" ] || rm -f "$CFGDIR/srderr.log"
{
	printf '#!/bin/sh\nSRVDIR='
	quote "$SRVDIR"
	printf '\nRESTART_ON_CRASH='
	quote "$RESTART_ON_CRASH"
	printf '\nMOD='
	quote "$MOD"
	printf '\n%s' "$START_SCRIPT"
} | write_new "$CFGDIR/start.sh" || fail copy-start

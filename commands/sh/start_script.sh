# shellcheck shell=sh
# The start script of a configuration, written to $CFGDIR/start.sh after
# the lines that set SRVDIR, RESTART_ON_CRASH and MOD (its writer's, from
# the start's parameters), the shared functions and the line that sets
# CFGDIR.
# It runs the game server with its console on the pipe server-stdin, its
# error output in srderr.log, its pid in server.pid and its start time in
# server.start (written first: whoever reads the new pid finds its start
# time), and waits for it.  An end that no stop asked for (the stop script
# leaves the mark server.stopping first) is a crash: server.crash records
# the exit status or the signal, the time and the last line the server
# wrote to its error log.  With RESTART_ON_CRASH=yes a crashed server that
# had come up (server.up, left by the launcher) is started again after a
# pause, under the configuration's lock and once no install runs into the
# server's directory, as a start would be; three crashes in ten minutes end
# that.  The run files go only with the script's own start.pid: by the
# time the server ends, another start may own them.  With MOD the server
# runs that mod.
#
# The game's console reads admin/default.cfg in its working directory,
# which an update or another configuration's start may have changed: each
# launch puts this configuration's settings there first.  A failure ends
# the script before the launch, its reason the error log's last line.
rcon_settings() {
	[ -d admin ] || mkdir -m 700 admin || return 1
	if [ ! -f "$CFGDIR/settings/adminsettings.con" ]; then
		echo "$CFGDIR/settings/adminsettings.con is not a regular file" >&2
		return 1
	fi
	put_file admin/default.cfg <"$CFGDIR/settings/adminsettings.con"
}
echo $$ >"$CFGDIR/start.pid" && cd "$SRVDIR" || exit 1
RESTARTS=0 CRASHES=
[ "$RESTART_ON_CRASH" != yes ] || echo 0 >"$CFGDIR/server.restarts"
# shellcheck disable=SC2064 # the trap names this server's pid, known now
while :; do
	SRVPID=
	if ! REASON=$(rcon_settings 2>&1); then
		printf 'Set rcon settings failed in %s/admin/default.cfg: %s\n' "$SRVDIR" "$REASON" |
			head -n 1 >>"$CFGDIR/srderr.log"
		break
	fi
	if ! rm -f "$CFGDIR/server-stdin" || ! mkfifo "$CFGDIR/server-stdin"; then
		break
	fi
	{ cat >"$CFGDIR/server-stdin" & }
	FCATPID=$!
	LOGSIZE=0
	[ -f "$CFGDIR/srderr.log" ] && LOGSIZE=$(($(wc -c <"$CFGDIR/srderr.log")))
	{ ./start.sh +statusMonitor 1 +config "$CFGDIR/settings/serversettings.con" +mapList "$CFGDIR/settings/maplist.con" ${MOD:+"+modPath"} ${MOD:+"mods/$MOD"} <"$CFGDIR/server-stdin" >/dev/null 2>>"$CFGDIR/srderr.log" & } && SRVPID=$! && trap "kill $SRVPID" 1 2 15 && start_time "$SRVPID" >"$CFGDIR/server.start" && echo "$SRVPID" >"$CFGDIR/server.pid"
	unlock
	[ -n "$SRVPID" ] && wait "$SRVPID"
	STATUS=$?
	kill "$FCATPID" 2>/dev/null
	if [ -z "$SRVPID" ] || [ -e "$CFGDIR/server.stopping" ]; then
		break
	fi
	if [ "$STATUS" -gt 128 ]; then
		END="signal: $(kill -l $((STATUS - 128)))"
	else
		END="exit: $STATUS"
	fi
	NOW=$(date +%s)
	LAST=
	[ -f "$CFGDIR/srderr.log" ] &&
		LAST=$(tail -c +$((LOGSIZE + 1)) "$CFGDIR/srderr.log" | tail -c 65536 | awk 'NF { l = $0 } END { print l }' | cut -b -4096)
	RECENT=0
	CRASHES="$CRASHES $NOW"
	for t in $CRASHES; do
		[ $((NOW - t)) -ge 600 ] || RECENT=$((RECENT + 1))
	done
	RESTARTING=
	if [ "$RESTART_ON_CRASH" = yes ] && [ -e "$CFGDIR/server.up" ]; then
		RESTARTING=yes
		[ $RECENT -lt 3 ] || RESTARTING=gave-up
	fi
	# Renamed into place: a reader never sees half a record, and a link
	# planted at the name is replaced, not followed.
	{
		printf '%s\nended: %s\n' "$END" "$NOW"
		[ -z "$LAST" ] || printf 'last-error: %s\n' "$LAST"
		[ "$RESTART_ON_CRASH" != yes ] || printf 'restarts: %s\n' $RESTARTS
		[ "$RESTARTING" != gave-up ] || echo 'gave-up: yes'
	} >"$CFGDIR/server.crash.$$" && mv -f "$CFGDIR/server.crash.$$" "$CFGDIR/server.crash"
	# A server that died during its own start is the start's failure.
	[ "$RESTARTING" = yes ] || break
	: >"$CFGDIR/server.restarting"
	sleep 10
	# An install into the server's directory would swap the tree out under
	# the new server: it ends first.
	while installing "$SRVDIR"; do
		sleep 10
	done
	lock start || break
	rm -f "$CFGDIR/server.restarting"
	[ ! -e "$CFGDIR/server.stopping" ] || break
	RESTARTS=$((RESTARTS + 1))
	echo $RESTARTS >"$CFGDIR/server.restarts"
done
unlock
rm -f "$CFGDIR/server.restarting"
OWNER=$(first_line "$CFGDIR/start.pid")
[ "$OWNER" = $$ ] && rm -f "$CFGDIR/server.pid" "$CFGDIR/server.start" "$CFGDIR/server-stdin" "$CFGDIR/start.pid" 2>/dev/null

# shellcheck shell=sh
# Everything of a start before the launch: stop what runs, write the
# settings ($OPTIONS, a line "KEY VALUE" each), check the game's launcher
# and the ports ($PORTS; 0 lets the server choose, so it is not checked) and
# write the start script ($START_SCRIPT).  It ends holding the lock, which
# the launcher of the same run takes over.
# shellcheck disable=SC2034 # read by set_option
SETTINGS=$CFGDIR/settings/serversettings.con
# cfg_in_srv: whether the configuration directory lies in the server's
# tree, which the next updates move away whole and then remove.  One not
# made yet is judged by its nearest existing ancestor.
cfg_in_srv() {
	phys "$SRVDIR" || return 1
	SRVPHYS=${PHYS%/}
	dir=$CFGDIR
	until phys "${dir:-/}"; do
		dir=${dir%/*}
	done
	case $PHYS/ in
	"$SRVPHYS"/*) return 0 ;;
	esac
	return 1
}
# shellcheck disable=SC3013 # -ef: dash and every BSD sh have it
[ ! "$CFGDIR" -ef "$SRVDIR" ] || fail same-dir
! cfg_in_srv || fail same-dir inside
! installing "$SRVDIR" || fail installing "$INSTALLDIR"
# The stop also clears the last run's marks and its crash record.
run_stop
# A non-empty error log is kept as srderr.log.1, older ones shift up to .5:
# a crashed run's log outlives the next start, and the logs' size is
# bounded by runs.
if [ -s "$CFGDIR/srderr.log" ]; then
	for k in 4 3 2 1; do
		mv -f "$CFGDIR/srderr.log.$k" "$CFGDIR/srderr.log.$((k + 1))" 2>/dev/null
	done
	mv -f "$CFGDIR/srderr.log" "$CFGDIR/srderr.log.1"
fi
# The settings hold the server's password: only the account may read them,
# whatever its umask.  What is made here (a new file, the backup) gets 0600
# from the umask; a file found gets it before any value goes in.
MASK=$(umask)
umask 077
[ ! -f "$SETTINGS" ] || chmod 600 "$SETTINGS" || fail set "${OPTIONS%% *}"
while IFS= read -r line <&3; do
	set_option "${line%% *}" "${line#* }" || fail set "${line%% *}"
done 3<<EOF
$OPTIONS
EOF
umask "$MASK"
test -x "$SRVDIR/start.sh" || fail test
for port in $PORTS; do
	[ "$port" = 0 ] || ! port_in_use "$port" || fail port "$port"
done
# An error log that is not a regular file (a pipe left there) would hold
# the server's start for ever.
[ ! -e "$CFGDIR/srderr.log" ] || [ -f "$CFGDIR/srderr.log" ] || rm -f "$CFGDIR/srderr.log"
printf '#!/bin/sh\n%s' "$START_SCRIPT" | write_new "$CFGDIR/start.sh" || fail copy-start

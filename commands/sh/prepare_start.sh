# shellcheck shell=sh
# Everything of a start before the launch: check the mod ($MOD, may be
# empty) and the maps of the map list ($MAPS, the file's text, empty for
# none) in the tree ($LEVELS), stop what runs, write the settings
# ($OPTIONS, a line "KEY VALUE" each), the console's ($RCON, the file's
# text) and the map list, check the game's launcher and the ports ($PORTS;
# 0 lets the server choose, so it is not checked) and write the start
# script ($START_SCRIPT).  It ends holding the lock, which the launcher of
# the same run takes over.
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
# other_server: whether a game server of another configuration runs from
# the tree.  Every server of a tree reads the tree's one admin/default.cfg
# and binds its console port.  A game server is a process of the account
# working in the tree itself (the start script cds there before it
# launches one) with "+config FILE" among its arguments; it is another's
# when FILE is not this configuration's settings file, by any spelling.
# A start script works there too, but holds no +config.
other_server() {
	phys "$SRVDIR" || return 1
	pattern_of "${PHYS%/}"
	find /proc/[0-9]*/cwd -maxdepth 0 -uid "$(id -u)" -lname "$PAT" 2>/dev/null | {
		while read -r cwd; do
			tr '\000' '\n' 2>/dev/null <"${cwd%/cwd}/cmdline" | (
				next=
				while IFS= read -r arg; do
					# shellcheck disable=SC3013 # -ef: dash and every BSD sh have it
					if [ -n "$next" ] && [ "$arg" != "$SETTINGS" ] &&
						! { [ ! -L "$SETTINGS" ] && [ "$arg" -ef "$SETTINGS" ]; }; then
						exit 0
					fi
					next=
					[ "$arg" != +config ] || next=yes
				done
				exit 1
			) && exit 0
		done
		exit 1
	}
}
# A restore killed between its two renames left a directory missing.
{ settle "$CFGDIR" && settle "$SRVDIR"; } || fail busy
# shellcheck disable=SC3013 # -ef: dash and every BSD sh have it
[ ! "$CFGDIR" -ef "$SRVDIR" ] || fail same-dir
! cfg_in_srv || fail same-dir inside
! installing "$SRVDIR" || fail installing "$INSTALLDIR"
[ -z "$MOD" ] || [ -d "$SRVDIR/mods/$MOD" ] || fail mod
while read -r _ map _; do
	[ -z "$map" ] || [ -d "$LEVELS/$map" ] || fail maps "$map"
done <<EOF
$MAPS
EOF
# Another configuration's server keeps the console it started with; this
# one may share the tree only with the same settings.
if other_server && ! { [ -f "$SRVDIR/admin/default.cfg" ] &&
	printf '%s' "$RCON" | cmp -s - "$SRVDIR/admin/default.cfg"; }; then
	fail tree-console
fi
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
printf '%s' "$RCON" | put_file "$CFGDIR/settings/adminsettings.con" || fail rcon-config
[ -z "$MAPS" ] || printf '%s' "$MAPS" | put_file "$CFGDIR/settings/maplist.con" || fail maplist
test -x "$SRVDIR/start.sh" || fail test
for port in $PORTS; do
	[ "$port" = 0 ] || ! port_in_use "$port" || fail port "$port"
done
# An error log that is not a regular file (a pipe left there) would hold
# the server's start for ever.
[ ! -e "$CFGDIR/srderr.log" ] || [ -f "$CFGDIR/srderr.log" ] || rm -f "$CFGDIR/srderr.log"
printf '#!/bin/sh\n%s' "$START_SCRIPT" | write_new "$CFGDIR/start.sh" || fail copy-start

# shellcheck shell=sh
# The checks of a start or restart before anything changes: the
# configuration directory apart from the server's tree ($SRVDIR), no
# install into the tree, the mod ($MOD, may be empty) and the maps of the
# map list ($MAPS, the file's text, empty for none) in the tree ($LEVELS),
# and no other configuration's server in the tree with other console
# settings than $RCON (the text of adminsettings.con).
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

# shellcheck shell=sh
# A start's changes before the launch, after start_checks.sh: stop what
# runs, write the settings ($OPTIONS, a line "KEY VALUE" each), the
# console's ($RCON, the file's text), the map list ($MAPS) and the start's
# parameters ($START_PARAMS, start.params' text, which a restart reads).
# ready_start.sh follows.
# The stop also clears the last run's marks and its crash record.
run_stop start
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
printf '%s' "$START_PARAMS" | put_file "$CFGDIR/start.params" || fail copy-start

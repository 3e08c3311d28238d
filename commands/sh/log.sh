# shellcheck shell=sh
# The last $LINES lines of the game server's error log in $CFGDIR.
[ -e "$CFGDIR/srderr.log" ] || exit 0
[ -f "$CFGDIR/srderr.log" ] || fail not-file
tail -n "$LINES" "$CFGDIR/srderr.log"

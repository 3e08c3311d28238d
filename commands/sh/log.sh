# shellcheck shell=sh
# The last $LINES lines of the game server's error log in $CFGDIR, at most
# its last MiB: tail -c seeks to it, so even a huge sparse log costs no
# more than that, where tail -n alone would read back through all of it.
[ -e "$CFGDIR/srderr.log" ] || exit 0
[ -f "$CFGDIR/srderr.log" ] || fail not-file
tail -c 1048576 "$CFGDIR/srderr.log" | tail -n "$LINES"

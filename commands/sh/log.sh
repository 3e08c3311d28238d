# shellcheck shell=sh
# The last $LINES lines of the game server's error log $LOG (srderr.log of
# its configuration, or one an earlier start kept), at most its last MiB:
# tail -c seeks to it, so even a huge sparse log costs no more than that,
# where tail -n alone would read back through all of it.
[ -e "$LOG" ] || exit 0
[ -f "$LOG" ] || fail not-file
tail -c 1048576 "$LOG" | tail -n "$LINES"

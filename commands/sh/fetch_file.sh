# shellcheck shell=sh
# Sends $FROM, symlinks followed, with the system's scp source (scp -f),
# which speaks the SCP protocol with bf2ctl on standard input and output.
# The file is opened once, here, and scp sends from that very descriptor:
# the file sent is the file checked, whatever the account puts at the name
# meanwhile.  A pipe or a device is refused before the open, never waited on
# (one swapped in just before the open holds it, until the run's bound).
[ -e "$FROM" ] || fail missing
[ -f "$FROM" ] || fail not-file
if ! { command exec 3<"$FROM"; } 2>/dev/null; then
	# The cause, from an open that does not wait.
	dd if="$FROM" iflag=nonblock count=0 status=none
	fail unreadable
fi
[ -f /dev/fd/3 ] || fail not-file
scp -f /dev/fd/3 || fail scp

# shellcheck shell=sh
# Whether $FROM is a file scp can send, symlinks followed: its sender waits
# for ever on a pipe and never ends on a device, so it must not be asked.
[ -e "$FROM" ] || fail missing
[ -f "$FROM" ] || fail not-file
# A regular file opens at once; head's complaint names the cause.
head -c 0 -- "$FROM" || fail unreadable

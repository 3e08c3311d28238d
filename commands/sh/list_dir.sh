# shellcheck shell=sh
# list_dir: DIR's entries, not its . and .., each as "NAME/TYPE/SIZE/MTIME/MODE"
# and a NUL (find's %y, %s, %T@, %m: a name holds neither / nor NUL),
# sorted by name bytewise; the first 10001, so that the caller sees whether
# there were more.  A link is reported, never followed; DIR itself may be
# one.  An entry that goes while it is listed is left out.
[ -e "$DIR" ] || fail list missing
[ -d "$DIR" ] || fail list not-dir
if ! cd -P -- "$DIR" 2>/dev/null || ! [ -r . ]; then
	echo "Permission denied" >&2
	fail list
fi
find . -mindepth 1 -maxdepth 1 -printf '%P/%y/%s/%T@/%m\0' 2>/dev/null |
	LC_ALL=C sort -z -t / -k1,1 | head -z -n 10001

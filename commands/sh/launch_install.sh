# shellcheck shell=sh
# Makes a temporary directory in $DIR, writes the install script there
# (its first line, the line that sets DIR to that directory, then $SCRIPT)
# and starts it detached; prints the directory.  The script runs through
# sh, so a directory mounted noexec cannot stop it, with the hang-up
# ignored as under nohup.  It counts as started once it has left
# a trace, its download log (opened by its first command after the cd,
# before any status file): a shell that has the script's name in its
# command line may still die before running a line of it.
mkdir -p -- "$DIR" 2>/dev/null
# A game server running from the tree would have its files swapped under it.
tree_in_use "$DIR/bf2" && fail running
# One install at a time per directory (install_running).  A lock whose
# script is gone is taken over.
LOCK=$DIR/.bf2_install.lock
# Where nothing can be made, mktemp fails with its reason.
if [ -d "$DIR" ] && [ -w "$DIR" ] && ! mkdir "$LOCK" 2>/dev/null; then
	install_running "$DIR" && fail busy
	rm -rf "$LOCK"
	mkdir "$LOCK" 2>/dev/null || fail busy
fi
release() {
	rm -rf "$LOCK"
	fail "$@"
}
# Ended installs of DIR pile up: all but the three newest (by their
# script's time) go, never one a process works in.  None runs under the lock.
# Only the account's own: a DIR shared with others (a sticky one) may hold
# theirs, with parts anyone may remove.
for old in "$DIR"/.bf2_install_??????; do
	case ${old##*/.bf2_install_} in *[!A-Za-z0-9]*) continue ;; esac
	if [ -d "$old" ] && [ ! -L "$old" ] && [ -O "$old" ] && [ -f "$old/install.sh" ] &&
		TIME=$(stat -c %Y "$old/install.sh" 2>/dev/null); then
		printf '%s %s\n' "$TIME" "$old"
	fi
done | sort -rn | tail -n +4 | while read -r _ old; do
	tree_in_use "$old" || rm -rf "$old" 2>/dev/null
done
T=$(mktemp -d "$DIR/.bf2_install_XXXXXX") || release mktemp
printf '%s\n' "$T" >"$LOCK/temp"
# The script holds the URL, and a URL may hold a token: it is the
# account's alone from its creation.
{ printf '#!/bin/sh\nDIR='; quote "$T"; printf '\n%s' "$SCRIPT"; } |
	(umask 077 && write_new "$T/install.sh") || release copy
chmod 700 "$T/install.sh"
# From a subshell that ends at once: no descendant for the watchdog.
PID=$( (trap '' 1; exec sh "$T/install.sh") </dev/null >/dev/null 2>&1 & echo $!)
echo "$PID" >"$LOCK/pid"
TRIES=0
until [ -e "$T/download.log" ]; do
	if [ ! -d "/proc/$PID" ]; then
		[ -e "$T/download.log" ] && break
		echo "the install script ended without a trace" >&2
		release start
	fi
	TRIES=$((TRIES + 1))
	[ $TRIES -le 100 ] || { echo "the install script did not start within 10 s" >&2; release start; }
	sleep 0.1
done
printf '%s' "$T"

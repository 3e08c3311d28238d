# shellcheck shell=sh
# Makes a temporary directory in $DIR, writes the install script there
# ($HEAD, the directory quoted, $BODY) and starts it detached; prints the
# directory.  quote VALUE prints VALUE as one single-quoted sh word.  The
# script runs through sh, so a directory mounted noexec cannot stop it, with
# the hang-up ignored as under nohup.  It counts as started once it has left
# a trace, its download log (opened by its first command after the cd,
# before any status file): a shell that has the script's name in its
# command line may still die before running a line of it.
quote() {
	rest=$1 quoted=
	while :; do
		case $rest in
		*\'*) quoted=$quoted${rest%%\'*}"'\\''"; rest=${rest#*\'} ;;
		*) printf "'%s%s'" "$quoted" "$rest"; return ;;
		esac
	done
}

mkdir -p -- "$DIR" 2>/dev/null
# A game server running from the tree would have its files swapped under it.
# A tree it cannot enter no process of the account works in either.
TREE=
[ ! -d "$DIR/bf2" ] || TREE=$(cd "$DIR/bf2" 2>/dev/null && pwd -P)
if [ -n "$TREE" ]; then
	for p in /proc/[0-9]*; do
		for link in cwd exe; do
			case $(readlink "$p/$link" 2>/dev/null) in
			"$TREE" | "$TREE"/*) fail running ;;
			esac
		done
	done
fi
# One install at a time per directory: the lock holds the temporary
# directory and the pid of the script that lets go of it.  A lock whose
# script is gone is taken over; one still without a pid for a minute too.
LOCK=$DIR/.bf2_install.lock
# Where nothing can be made, mktemp fails with its reason.
if [ -d "$DIR" ] && [ -w "$DIR" ] && ! mkdir "$LOCK" 2>/dev/null; then
	HOLDER=$(first_line "$LOCK/pid")
	if [ -n "$HOLDER" ]; then
		ours "$HOLDER" "$(first_line "$LOCK/temp")/install.sh" && fail busy
	elif [ -z "$(find "$LOCK" -maxdepth 0 -mmin +1 2>/dev/null)" ]; then
		fail busy
	fi
	rm -rf "$LOCK"
	mkdir "$LOCK" 2>/dev/null || fail busy
fi
release() {
	rm -rf "$LOCK"
	fail "$@"
}
T=$(mktemp -d "$DIR/.bf2_install_XXXXXX") || release mktemp
printf '%s\n' "$T" >"$LOCK/temp"
# The script holds the URL, and a URL may hold a token: it is the
# account's alone from its creation.
{ printf '%s' "$HEAD"; quote "$T"; printf '\n%s' "$BODY"; } |
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

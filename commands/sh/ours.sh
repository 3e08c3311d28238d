# shellcheck shell=sh
# ours PID FILE [STARTFILE]: whether PID is a live process of the logged-in
# account whose command line names FILE and, when STARTFILE is there, whose
# start time is the one it holds.  A pid file can outlive its process and by
# now name another process, even another account's that was handed the pid
# and given the file as an argument on purpose; so a process counts as the
# configuration's only while its real uid is ours and one of its arguments
# is the given file, by any spelling of the path (the same inode, or the
# same text should the file be gone).  Anything but digits is no pid.
ours() {
	case $1 in
	'' | *[!0-9]*) return 1 ;;
	esac
	[ -n "${OURS_UID:-}" ] || OURS_UID=$(id -u)
	OURS_REAL=
	while read -r key value _; do
		[ "$key" = Uid: ] && { OURS_REAL=$value; break; }
	done 2>/dev/null <"/proc/$1/status"
	[ "$OURS_REAL" = "$OURS_UID" ] || return 1
	if [ -n "${3:-}" ] && [ -f "$3" ]; then
		OURS_START=
		read -r OURS_START <"$3"
		[ "$(start_time "$1")" = "$OURS_START" ] || return 1
	fi
	tr '\000' '\n' 2>/dev/null <"/proc/$1/cmdline" | (
		while IFS= read -r arg; do
			# shellcheck disable=SC3013 # -ef: dash and every BSD sh have it
			{ [ "$arg" = "$2" ] || [ "$arg" -ef "$2" ]; } && exit 0
		done
		exit 1
	)
}

# start_time PID: the start of PID in clock ticks after boot, field 22 of
# its stat, counted after the command name (which may hold blanks and
# parentheses: the last ") " ends it).  Unlike the pid, never reused.
start_time() {
	set -- "$(cat "/proc/$1/stat" 2>/dev/null)"
	[ -n "$1" ] || return 1
	# shellcheck disable=SC2086 # the fields after the name: digits and a state letter
	set -- ${1##*) }
	[ $# -ge 20 ] && shift 19 && printf '%s' "$1"
}

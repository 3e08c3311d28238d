# shellcheck shell=sh
# The identity rule for processes, shared by every script and the stop
# script written to disk.  The uid is asked of the system, never taken from
# the environment the account may have set.
OURS_UID=

# ours PID FILE [STARTFILE]: whether PID is a live process of the account
# whose command line names FILE and, when STARTFILE is there, whose start
# time is the one it holds.  The account is the logged-in one; for root, the
# owner of $CFGDIR (root asks about an account's configuration; without
# CFGDIR no process counts).  A pid file can outlive its process and by
# now name another process, even another account's that was handed the pid
# and given the file as an argument on purpose; so a process counts as the
# configuration's only while its real uid is the account's and one of its
# arguments is the given file: the same text, or any spelling of the path
# (the same inode) unless the file is a symlink, which the account may
# point at any file a process of another names.  The start time is no
# defence there: STARTFILE is the account's, and every start time is
# readable by all.  Anything but digits is no pid.
ours() {
	case $1 in
	'' | *[!0-9]*) return 1 ;;
	esac
	if [ -z "$OURS_UID" ]; then
		OURS_UID=$(id -u)
		if [ "$OURS_UID" = 0 ]; then
			OURS_UID=$([ -n "${CFGDIR:-}" ] && stat -L -c %u -- "$CFGDIR" 2>/dev/null) || OURS_UID=none
		fi
	fi
	OURS_REAL=
	while read -r key value _; do
		[ "$key" = Uid: ] && { OURS_REAL=$value; break; }
	done 2>/dev/null <"/proc/$1/status"
	[ "$OURS_REAL" = "$OURS_UID" ] || return 1
	if [ -n "${3:-}" ] && [ -f "$3" ]; then
		[ "$(start_time "$1")" = "$(first_line "$3")" ] || return 1
	fi
	tr '\000' '\n' 2>/dev/null <"/proc/$1/cmdline" | (
		while IFS= read -r arg; do
			[ "$arg" = "$2" ] && exit 0
			# shellcheck disable=SC3013 # -ef: dash and every BSD sh have it
			[ ! -L "$2" ] && [ "$arg" -ef "$2" ] && exit 0
		done
		exit 1
	)
}

# first_line FILE: the first line of FILE's first 128 bytes (a pid, an SSH
# connection).  The run files are the account's: one may be a sparse
# terabyte, a pipe or a device, and none may hold a run.  The open does not
# wait (a pipe without a writer reads as empty).
first_line() {
	dd if="$1" bs=128 count=1 iflag=nonblock status=none 2>/dev/null | {
		IFS= read -r line
		printf '%s' "$line"
	}
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

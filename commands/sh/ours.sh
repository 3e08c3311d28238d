# shellcheck shell=sh
# The identity rule for processes, shared by every script and the stop
# script written to disk.

# ours PID FILE: whether PID is a live process whose command line names FILE.
# A pid file can outlive its process and by now name another process of the
# account, so a process counts as the configuration's only while one of its
# arguments is the given file, by any spelling of the path (the same inode,
# or the same text should the file be gone).  Anything but digits is no pid.
ours() {
	case $1 in
	'' | *[!0-9]*) return 1 ;;
	esac
	tr '\000' '\n' 2>/dev/null <"/proc/$1/cmdline" | (
		while IFS= read -r arg; do
			# shellcheck disable=SC3013 # -ef: dash and every BSD sh have it
			{ [ "$arg" = "$2" ] || [ "$arg" -ef "$2" ]; } && exit 0
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

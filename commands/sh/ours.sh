# shellcheck shell=sh
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

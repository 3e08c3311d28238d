# shellcheck shell=sh
# The run's watchdog, run as sh -c with the pid of the run's shell as $1.
# sshd sends a command no signal when its connection goes, so the watchdog
# watches the processes the run came by (its shell's ancestors of the
# account: the shells and sshd's process of the connection) and, once one
# of them is gone, ends the run's shell and whatever it started that is
# still its descendant, the lock's keeper too (the next run takes over a
# lock whose keeper is gone).  What a run starts to outlive it on purpose
# (the install script, the game server) it starts as no descendant.  The
# watchdog ends with the run's shell.  It runs the system's programs, not
# those the account's PATH would find first.
PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
chain='' ancestor=$1
while [ "$ancestor" -gt 1 ] 2>/dev/null && [ -O "/proc/$ancestor" ] &&
	stat=$(cat "/proc/$ancestor/stat" 2>/dev/null) && [ -n "$stat" ]; do
	[ "$ancestor" = "$1" ] || chain="$chain $ancestor"
	stat=${stat##*) }
	ancestor=${stat#* }
	ancestor=${ancestor%% *}
done
[ -n "$chain" ] || exit 0
while kill -0 "$1" 2>/dev/null; do
	for ancestor in $chain; do
		kill -0 "$ancestor" 2>/dev/null && continue
		tree=$(descendants "$1" $$)
		# shellcheck disable=SC2086 # one pid a word
		kill -TERM $tree 2>/dev/null
		sleep 1
		# shellcheck disable=SC2086 # one pid a word
		kill -KILL $tree 2>/dev/null
		exit 0
	done
	sleep 0.5
done

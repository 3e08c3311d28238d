# shellcheck shell=sh
# install_cancel: ends the install in $T while it downloads, unpacks or
# runs the package's fixinstall.sh, and records it cancelled.  The script
# and the cancel race for one name, $T/fate: the script makes it before it
# swaps the tree in, and never swaps once the cancel has it.  The script
# (the account's process whose command line names $T/install.sh) and what
# it started are stopped until no new process comes, then killed: killed
# first, its children would leave its tree and be lost to the search.
[ -f "$T/install.sh" ] || fail cancel missing
# A cancel's claim is marked as such (fate/cancel): a cancel that died
# after it, its tree perhaps only stopped, is carried on by the next.
won='' fresh=''
if mkdir "$T/fate" 2>/dev/null; then
	mkdir "$T/fate/cancel" && won=1 fresh=1
elif [ -d "$T/fate/cancel" ]; then
	won=1
fi
STATE=$(install_state | head -n 1)
case $STATE in
downloading | extracting | installing) [ -n "$won" ] || fail cancel swapping ;;
*)
	[ -z "$fresh" ] || rm -rf "$T/fate"
	fail cancel "$STATE"
	;;
esac
if running_script; then
	kill -STOP "$SCRIPT" 2>/dev/null
	tree='' rounds=0
	while [ $rounds -lt 50 ]; do
		now=$(descendants "$SCRIPT" | sort)
		[ "$now" != "$tree" ] || break
		tree=$now rounds=$((rounds + 1))
		# shellcheck disable=SC2086 # one pid a word
		kill -STOP $tree 2>/dev/null
	done
	# shellcheck disable=SC2086 # one pid a word
	kill -KILL $tree 2>/dev/null
fi
echo cancelled >"$T/cancelled.ret"
# The install lock of the directory above, while it is this install's.
LOCK=$T/../.bf2_install.lock
# shellcheck disable=SC3013 # -ef: dash and every BSD sh have it
read -r OWNER <"$LOCK/temp" 2>/dev/null && [ "$OWNER" -ef "$T" ] && rm -rf "$LOCK"
exit 0

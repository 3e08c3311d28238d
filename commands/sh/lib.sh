# shellcheck shell=sh
# The functions every remote script of bf2ctl starts with.  A script that
# fails a step calls "fail STEP": it lets go of the lock and prints STEP as
# its last line, and bf2ctl turns the step into the run's error line.

# The account's own PATH may put programs of its own first: the scripts run
# the system's.
PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
export PATH
unset CDPATH

# put_file FILE: FILE replaced whole by standard input, mode 0600, through a
# file of its own in the same directory renamed over the name: a link or a
# pipe at the name is replaced, not followed or waited on, and a reader
# never sees half a file.  A directory at the name goes first; one made in
# its place meanwhile fails the rename (mv -T) rather than taking the file.
put_file() {
	if [ -d "$1" ] && [ ! -L "$1" ]; then
		rm -rf "$1" || return 1
	fi
	PUT=$(mktemp "${1%/*}/.bf2ctl.XXXXXX") || return 1
	if ! { cat >"$PUT" && mv -fT "$PUT" "$1"; }; then
		rm -f "$PUT"
		return 1
	fi
}

# quote VALUE prints VALUE as one single-quoted sh word.
quote() {
	rest=$1 quoted=
	while :; do
		case $rest in
		*\'*) quoted=$quoted${rest%%\'*}"'\\''"; rest=${rest#*\'} ;;
		*) printf "'%s%s'" "$quoted" "$rest"; return ;;
		esac
	done
}

# write_new FILE: FILE made anew from standard input.  The create is
# exclusive (dd conv=excl): whatever the account plants at the name after
# the rm, a symlink or a pipe, makes it fail instead of being followed or
# waited on.  The shell's no-clobber create is no help: dash opens an
# existing pipe for writing and waits for a reader.
write_new() {
	rm -f "$1" 2>/dev/null
	dd of="$1" conv=excl status=none
}

# The lock of a configuration directory: one start or stop at a time.  It is
# the directory $CFGDIR/.bf2ctl.lock (take_lock: any LOCKDIR), made by
# mkdir, with
#   kind   what the run does, for --status: start (a start, a restart) or
#          stop (lock KIND);
#   owner  the pid of its keeper, a process that lets go of the lock once
#          the run's shell has been gone for LOCK_GRACE seconds (a run killed
#          with its connection), or after LOCK_LIFE seconds at most;
#   run    the pid of the run's current shell;
#   conn   the run's SSH connection, so that the next script of the same
#          run can take the lock over (adopt);
#   gone   the keeper's count of ticks without a live run, and ack the
#          last run it saw alive, for adopt.
# A lock whose keeper is gone is broken by the one contender that makes
# take/ in it; the others keep waiting.  Every way round the wait counts
# toward LOCK_WAIT seconds.
LOCK_WAIT=40
LOCK_GRACE=3
LOCK_LIFE=90
KEEPER=

# The keeper runs as "sh -c" with $0 bf2ctl-lock-keeper, so that its command
# line tells it apart from a process that merely got its pid later.  $1 the
# lock, $2 the grace, $3 the life, in ticks of 0.1 s.
# shellcheck disable=SC2016 # expanded by the keeper's own shell
LOCK_KEEPER='
gone=0 ticks=0 seen=
while [ $ticks -lt "$3" ]; do
	[ -f "$1/owner" ] && read -r owner <"$1/owner" || owner=
	if [ "$owner" != $$ ]; then
		[ -d "$1" ] && [ $ticks -lt 20 ] || exit 0
	else
		run=
		[ -f "$1/run" ] && read -r run <"$1/run"
		case $run in
		"" | *[!0-9]*) alive= ;;
		*) alive=$run ;;
		esac
		if [ -n "$alive" ] && kill -0 "$alive" 2>/dev/null; then
			[ $gone -eq 0 ] || echo 0 >"$1/gone"
			gone=0
			[ "$run" = "$seen" ] || { seen=$run; echo "$run" >"$1/ack"; }
		else
			gone=$((gone + 1))
			echo $gone >"$1/gone"
			[ $gone -lt "$2" ] || break
		fi
	fi
	ticks=$((ticks + 1))
	sleep 0.1
done
[ -f "$1/owner" ] && read -r owner <"$1/owner" && [ "$owner" = $$ ] && rm -rf "$1"
'

# Whether $1 is a live keeper of a lock.
keeper_alive() {
	case $1 in
	'' | *[!0-9]*) return 1 ;;
	esac
	kill -0 "$1" 2>/dev/null || return 1
	[ -d /proc/"$1" ] || return 0
	tr '\000' '\n' <"/proc/$1/cmdline" 2>/dev/null | grep -q -x bf2ctl-lock-keeper
}

lock_owner() {
	first_line "$LOCKDIR/owner"
}

# Breaks the lock if its owner is still $1, a keeper judged gone ("" for a
# lock whose maker died before it wrote the owner).  Only the contender
# that makes take/ in this very lock breaks it, and only after looking
# again: by then the lock at the name may be another's.
break_lock() {
	mkdir "$LOCKDIR/take" 2>/dev/null || return 0
	if [ "$(lock_owner)" = "$1" ] && ! keeper_alive "$1"; then
		stale=${LOCKDIR%/*}/.bf2ctl.stale.$$
		rm -rf "$stale" 2>/dev/null
		# A rename, not rm -rf: whatever the account made unremovable in
		# the lock leaves the name all the same.
		mv "$LOCKDIR" "$stale" 2>/dev/null && rm -rf "$stale" 2>/dev/null
	else
		rmdir "$LOCKDIR/take" 2>/dev/null
	fi
	return 0
}

lock() {
	take_lock "$CFGDIR/.bf2ctl.lock" "${1:-}"
}

# take_lock LOCKDIR [KIND]
take_lock() {
	LOCKDIR=$1
	# Where nothing can be made the run's own steps fail with their reason.
	[ -d "${LOCKDIR%/*}/" ] && [ -w "${LOCKDIR%/*}/" ] || return 0
	deadline=$(($(date +%s) + LOCK_WAIT))
	judged='' since=0
	until mkdir "$LOCKDIR" 2>/dev/null; do
		[ "$(date +%s)" -lt $deadline ] || return 1
		owner=$(lock_owner)
		if [ -L "$LOCKDIR" ] || { [ -e "$LOCKDIR" ] && [ ! -d "$LOCKDIR" ]; }; then
			# Not a lock of bf2ctl's: something planted at its name.
			rm -f "$LOCKDIR" 2>/dev/null
		elif [ -n "$owner" ] && keeper_alive "$owner"; then
			since=0
		elif [ "$owner" = "$judged" ] && [ $since -gt 0 ]; then
			since=$((since + 1))
			# An owner gone is broken at once; a lock without one may be
			# still in the making, so it is given two seconds.  A take/
			# left by a breaker that died is cleared after as long.
			if [ -n "$owner" ] || [ $since -gt 20 ]; then
				[ $since -le 40 ] || rmdir "$LOCKDIR/take" 2>/dev/null
				break_lock "$owner"
			fi
		else
			judged=$owner since=1
			[ -z "$owner" ] || break_lock "$owner"
		fi
		sleep 0.1
	done
	echo $$ >"$LOCKDIR/run"
	[ -z "${2:-}" ] || echo "$2" >"$LOCKDIR/kind"
	printf '%s\n' "${SSH_CONNECTION:-}" >"$LOCKDIR/conn"
	sh -c "$LOCK_KEEPER" bf2ctl-lock-keeper "$LOCKDIR" $((LOCK_GRACE * 10)) $((LOCK_LIFE * 10)) \
		</dev/null >/dev/null 2>&1 &
	KEEPER=$!
	# Named only once it runs as the keeper: until its exec, its pid would
	# look like a keeper that is gone.
	tries=0
	until keeper_alive $KEEPER || [ $tries -ge 50 ]; do
		tries=$((tries + 1))
		sleep 0.01
	done
	echo $KEEPER >"$LOCKDIR/owner"
}

# Takes over the lock that an earlier script of the same run left held.
adopt() {
	LOCKDIR=$CFGDIR/.bf2ctl.lock
	conn=$(first_line "$LOCKDIR/conn")
	KEEPER=$(lock_owner)
	if [ "$conn" != "${SSH_CONNECTION:-}" ] || ! keeper_alive "$KEEPER"; then
		KEEPER=
		return 1
	fi
	echo $$ >"$LOCKDIR/run"
	# A keeper that has missed the run for less than half its grace reads
	# this shell long before it could let go.  One further on may be letting
	# go: the lock is held once it has seen this shell.
	gone=$(first_line "$LOCKDIR/gone")
	case ${gone:-0} in
	*[!0-9]*) ;;
	*) [ "${gone:-0}" -ge $((LOCK_GRACE * 5)) ] || return 0 ;;
	esac
	tries=0
	until [ "$(first_line "$LOCKDIR/ack")" = $$ ]; do
		tries=$((tries + 1))
		if [ $tries -gt 100 ] || ! keeper_alive "$KEEPER" || [ "$(lock_owner)" != "$KEEPER" ]; then
			KEEPER=
			return 1
		fi
		sleep 0.02
	done
}

unlock() {
	[ -n "$KEEPER" ] || return 0
	# The lock goes before its keeper: a keeper dead while its lock stands
	# would let a contender break a lock that is about to go anyway.
	# The keeper may write into the lock while rm empties it, so rm goes
	# again until the name is free (quietly: its complaint is no step's);
	# meanwhile the name never is, so nobody else's lock can be there.
	if [ "$(lock_owner)" = "$KEEPER" ]; then
		for _ in 1 2 3; do
			rm -rf "$LOCKDIR" 2>/dev/null && break
		done
	fi
	kill "$KEEPER" 2>/dev/null
	KEEPER=
}

fail() {
	unlock
	printf '%s\n' "$*"
	exit 1
}

# phys DIR: DIR's physical path in PHYS (a line break at its end kept);
# fails when DIR cannot be entered.
phys() {
	PHYS=$(cd -P "$1" 2>/dev/null && pwd -P && echo .) || return 1
	PHYS=${PHYS%?.}
}

# tree_in_use DIR: whether a process of the account works in DIR's tree:
# its working directory, its program or a file it holds open lies there.
# The kernel's links are read, never followed, and compared as text with
# the tree's physical path, its pattern characters escaped and its line
# breaks kept.  A symlink at DIR is no tree: a rename moves the link alone
# and a removal takes the link alone, whatever works where it points.
tree_in_use() {
	[ ! -L "$1" ] && phys "$1" || return 1
	pattern_of "${PHYS%/}"
	[ -n "$(find /proc/[0-9]*/cwd /proc/[0-9]*/exe /proc/[0-9]*/fd -maxdepth 1 -uid "$(id -u)" \
		\( -lname "$PAT" -o -lname "$PAT/*" \) -print -quit 2>/dev/null)" ]
}

# pattern_of TEXT: TEXT as a find pattern that matches it alone, in PAT.
pattern_of() {
	rest=$1 PAT=
	while [ -n "$rest" ]; do
		c=${rest%"${rest#?}"}
		case $c in
		[][*?\\]) PAT=$PAT\\$c ;;
		*) PAT=$PAT$c ;;
		esac
		rest=${rest#?}
	done
}

# install_running D: whether an install into D runs.  Its lock
# D/.bf2_install.lock names the temporary directory (temp) and the pid of
# the install script (pid), which lets go of it when it ends: the lock holds
# while that pid is a live install script of the account, or while it has
# no pid yet, for a minute at most.
install_running() {
	[ -e "$1/.bf2_install.lock" ] || [ -L "$1/.bf2_install.lock" ] || return 1
	HOLDER=$(first_line "$1/.bf2_install.lock/pid")
	if [ -n "$HOLDER" ]; then
		ours "$HOLDER" "$(first_line "$1/.bf2_install.lock/temp")/install.sh"
	else
		[ -z "$(find "$1/.bf2_install.lock" -maxdepth 0 -mmin +1 2>/dev/null)" ]
	fi
}

# installing SRVDIR: whether an install runs into the directory whose bf2
# SRVDIR physically is, the directory that update would swap it out of; it
# is left in INSTALLDIR.
installing() {
	phys "$1" && [ "${PHYS##*/}" = bf2 ] || return 1
	INSTALLDIR=${PHYS%/*}
	INSTALLDIR=${INSTALLDIR:-/}
	install_running "$INSTALLDIR"
}

# beside DIR: the place of DIR with its parent's physical path, in PLACE
# (the last component kept: a link there stays a link), and the lock of
# its backups and restores, which moves DIR away and so cannot lie inside,
# in DIRLOCK.  Fails when the parent cannot be entered.
beside() {
	set -- "$1" "$1"
	while [ "${2%/}" != "$2" ]; do set -- "$1" "${2%/}"; done
	phys "${2%/*}/" || return 1
	PLACE=${PHYS%/}/${2##*/}
	DIRLOCK=${PHYS%/}/.${2##*/}.bf2ctl-backup.lock
}

# finish_restore: a restore swaps DIR in two renames, DIR to
# DIR.before-restore and DIR.restored (the unpacked archive, whole) to DIR;
# a run killed between them left no DIR, and this finishes the swap.  Works
# on PLACE under the lock (beside, take_lock).
finish_restore() {
	if [ ! -e "$PLACE" ] && [ ! -L "$PLACE" ] && [ -d "$PLACE.restored" ] &&
		[ ! -L "$PLACE.restored" ]; then
		mv -T "$PLACE.restored" "$PLACE"
	fi
}

# settle DIR: finishes a swap that a killed restore left half done, under
# the lock of DIR's backups (beside).  A start calls it: only a half swap
# makes it wait for that lock, not a backup that runs.
settle() {
	beside "$1" && [ ! -e "$PLACE" ] && [ ! -L "$PLACE" ] && [ -d "$PLACE.restored" ] || return 0
	take_lock "$DIRLOCK" || return 1
	finish_restore
	unlock
}

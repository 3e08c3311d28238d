# shellcheck shell=sh
# backup: DIR into BDIR as one gzip tar archive and its .sha256, then the
# oldest backups of DIR beyond $KEEP removed.  $EXCLUDE holds the caller's
# globs, one a line, each anchored at DIR.  A file that changes or goes
# while tar reads it is a warning, as is a backup that could not be
# removed; the result counts them.  Prints "backup: NAME", "size: BYTES",
# "sha256: HEX", "warnings: N".
umask 077
# Locks are let go of by their keeper after LOCK_LIFE seconds; a backup of
# any size runs as long as its connection does.
# shellcheck disable=SC2034 # read by take_lock
LOCK_LIFE=86400
WORK=
trap 'rm -rf "$WORK"; unlock; exit 1' HUP INT TERM
# reason TEXT: the complaint after "Backup of DIR failed: ".
reason() {
	printf '%s\n' "$*" >&2
	fail backup
}
beside "$DIR" || reason "${DIR%/*}: no such directory"
take_lock "$DIRLOCK" || fail busy
finish_restore
phys "$DIR" || reason "$DIR: no such directory"
DIRPHYS=${PHYS%/}
! bdir_inside "$DIRPHYS" || fail "backup inside"
[ ! -L "$BDIR" ] || fail "backup link"
if [ ! -d "$BDIR" ]; then
	# shellcheck disable=SC2174 # the parents made are the account's own
	err=$(mkdir -p -m 0700 "$BDIR" 2>&1) || reason "${err#mkdir: }"
fi
WORK=$(mktemp -d "$BDIR/.bf2ctl-backup.XXXXXX" 2>&1) || reason "$WORK"
stamp=$(date -u +%Y%m%dT%H%M%SZ)
base=${DIR%/}
base=${base##*/}

# The run files of a configuration directory: a running server's and a
# start's or stop's, which a restore must not bring back; anywhere, an
# upload's directory, a backup's and its lock.
set -- --anchored --exclude=./server-stdin --exclude=./start.pid --exclude=./server.pid \
	--exclude=./server.start --exclude=./server.up --exclude=./server.stopping \
	--exclude=./server.restarting --exclude='./.bf2ctl.*'
while IFS= read -r glob; do
	[ -z "$glob" ] || set -- "$@" "--exclude=./$glob"
done <<END
$EXCLUDE
END
set -- "$@" --no-anchored --exclude='.bf2ctl-upload.*' --exclude='.bf2ctl-backup.*' \
	--exclude='.*.bf2ctl-backup.lock'
# Its complaints are kept in memory: a full disk would take a file of them.
errors=$(LC_ALL=C tar --force-local -czf "$WORK/archive" -C "$DIR" "$@" . 2>&1)
status=$?
# Warnings are tar's lines of a run that exits 1 or 0 ("socket ignored").
warnings=0
[ $status -gt 1 ] || warnings=$(printf '%s' "$errors" | grep -c .)
if [ $status -gt 1 ]; then
	err=$(printf '%s\n' "$errors" | grep -v -e 'file changed as we read it$' \
		-e 'File removed before we read it$' -e 'socket ignored$' -e 'Child returned status' \
		-e 'Error is not recoverable' | sed -n '/./{s/^tar: //;s/^gzip: stdout: //;p;q;}')
	rm -rf "$WORK"
	reason "${err:-tar failed with status $status}"
fi
if ! err=$(sync "$WORK/archive" 2>&1); then
	rm -rf "$WORK"
	reason "$err"
fi
sum=$(sha256sum <"$WORK/archive")
sum=${sum%% *}
size=$(stat -c %s "$WORK/archive")
# The checksum goes first, made exclusively: a listing never shows one of
# these archives without it, and a name taken by a file of any kind is
# passed over.  The archive's link cannot take a name that is there either.
k=1
while :; do
	name=$base-$stamp.tar.gz
	[ $k -eq 1 ] || name=$base-$stamp-$k.tar.gz
	if err=$(printf '%s  %s\ndir: %s\n' "$sum" "$name" "$DIR" |
		dd of="$BDIR/$name.sha256" conv=excl,fsync status=none 2>&1); then
		err=$(ln "$WORK/archive" "$BDIR/$name" 2>&1) && break
		rm -f "$BDIR/$name.sha256"
		[ -e "$BDIR/$name" ] || [ -L "$BDIR/$name" ] || {
			rm -rf "$WORK"
			reason "${err#ln: }"
		}
	else
		case $err in
		*"File exists"*) ;;
		*)
			rm -f "$BDIR/$name.sha256"
			rm -rf "$WORK"
			reason "${err#dd: }"
			;;
		esac
	fi
	k=$((k + 1))
	[ $k -le 9999 ] || {
		rm -rf "$WORK"
		reason "$BDIR: every name of $base-$stamp is taken"
	}
done
rm -rf "$WORK"
WORK=
sync "$BDIR" 2>/dev/null

# The oldest backups of the same DIR beyond KEEP: a failed removal is a
# warning, the new backup is there.  The new one is never among them, even
# when backups taken while the clock ran ahead sort after it.
mine=$(backups "$BDIR" | while IFS= read -r old; do
	old=${old#* * }
	[ "$old" = "$name" ] || [ "$(dir_of "$BDIR/$old.sha256")" != "$DIR" ] || printf '%s\n' "$old"
done)
drop=$(($(printf '%s' "$mine" | grep -c '') - KEEP + 1))
if [ $drop -gt 0 ]; then
	gone=$(printf '%s\n' "$mine" | head -n $drop | while IFS= read -r old; do
		rm -f "$BDIR/$old" 2>/dev/null && rm -f "$BDIR/$old.sha256" 2>/dev/null ||
			echo warning
	done | grep -c .)
	warnings=$((warnings + gone))
fi
unlock
printf 'backup: %s\nsize: %s\nsha256: %s\nwarnings: %s\n' "$name" "$size" "$sum" "$warnings"

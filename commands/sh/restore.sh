# shellcheck shell=sh
# restore: DIR made exactly what the archive BDIR/NAME holds.  The archive
# is unpacked into DIR.restoring, renamed DIR.restored once whole; then DIR
# becomes DIR.before-restore and DIR.restored becomes DIR.  Whatever fails
# before the last two renames leaves DIR as it was.
# shellcheck disable=SC2034 # read by take_lock
LOCK_LIFE=86400
CHECK=
trap 'rm -rf "$PLACE.restoring" "$CHECK"; unlock; exit 1' HUP INT TERM
reason() {
	printf '%s\n' "$*" >&2
	fail restore
}
# gone PATH: PATH removed, a tree with read-only directories too; a link
# is removed, never followed.
gone() {
	if [ -d "$1" ] && [ ! -L "$1" ]; then
		chmod -R u+rwx "$1" 2>/dev/null
	fi
	rm -rf "$1"
}
read_archive() {
	dd if="$archive" bs=64k iflag=nonblock status=none
}
# outside: whether a member of the archive on standard input would land
# outside the directory it is unpacked in: an absolute path, a ".." in a path, a
# symbolic link whose target is absolute or climbs above the top, or a
# member (or a hard link's target) that lies under one of the archive's
# symbolic links, which tar would follow.  A target's ".." may only lead:
# after a name, the name may itself be a link and ".." go anywhere.  Names
# are read as tar lists them C-quoted and as stored (-P), where "/" and "."
# stand as they are.
outside() {
	LC_ALL=C tar -tvzPf - --quoting-style=c --numeric-owner 2>/dev/null | LC_ALL=C awk '
	function quoted(s,   i, c, out) {
		out = ""
		for (i = 2; i <= length(s); i++) {
			c = substr(s, i, 1)
			if (c == "\\") { out = out c substr(s, i + 1, 1); i++; continue }
			if (c == "\"") { rest = substr(s, i + 1); return out }
			out = out c
		}
		bad = 1
		return out
	}
	function norm(p,   n, parts, i, out) {
		if (p ~ /^\//) bad = 1
		n = split(p, parts, "/")
		out = ""
		for (i = 1; i <= n; i++) {
			if (parts[i] == "" || parts[i] == ".") continue
			if (parts[i] == "..") bad = 1
			out = out == "" ? parts[i] : out "/" parts[i]
		}
		return out
	}
	function climbs(name, target,   n, parts, i, depth, named) {
		if (target ~ /^\//) return 1
		depth = split(name, parts, "/") - 1
		n = split(target, parts, "/")
		for (i = 1; i <= n; i++) {
			if (parts[i] == "" || parts[i] == ".") continue
			if (parts[i] != "..") { named = 1; continue }
			if (named || --depth < 0) return 1
		}
		return 0
	}
	{
		at = index($0, " \"")
		if (!at) { bad = 1; next }
		type = substr($0, 1, 1)
		name = norm(quoted(substr($0, at + 1)))
		paths[++count] = name
		if (type == "l" || type == "h") {
			sub(/^ (->|link to) /, "", rest)
			target = quoted(rest)
			if (type == "h") {
				# A hard link to a link is that link again, under a name
				# whose depth may differ.
				paths[++count] = norm(target)
				if (!(norm(target) in links)) next
				target = links[norm(target)]
			}
			links[name] = target
			if (climbs(name, target)) bad = 1
		}
	}
	END {
		for (i = 1; i <= count; i++) {
			n = split(paths[i], parts, "/")
			prefix = ""
			for (j = 1; j < n; j++) {
				prefix = prefix == "" ? parts[j] : prefix "/" parts[j]
				if (prefix in links) bad = 1
			}
		}
		exit bad ? 0 : 1
	}'
}

beside "$DIR" || reason "${DIR%/*}: no such directory"
take_lock "$DIRLOCK" || fail busy
finish_restore
# Leftovers of a run that died: an unpacking never finished, or a whole
# one whose DIR was never moved away.
gone "$PLACE.restoring"
gone "$PLACE.restored"
[ ! -L "$BDIR" ] || fail "restore link"
# The backups would move into DIR.before-restore, which the next restore
# removes.
if phys "$PLACE"; then
	DIRPHYS=${PHYS%/}
	! bdir_inside "$DIRPHYS" || fail "restore inside"
fi
archive=$BDIR/$NAME
if ! backup_name "$NAME" || [ ! -f "$archive" ] || [ -L "$archive" ] || [ ! -O "$archive" ]; then
	fail "restore missing"
fi
sum=$(sum_of "$archive.sha256")
[ -n "$sum" ] || fail "restore unsummed"
CFGDIR=$PLACE
if running || tree_in_use "$PLACE"; then
	fail "restore running"
fi
# One read of the archive for both its checksum and its members' check.
CHECK=$(mktemp -d 2>&1) || reason "$CHECK"
err=$(mkfifo "$CHECK/data" 2>&1) || { rm -rf "$CHECK"; reason "$err"; }
sha256sum <"$CHECK/data" >"$CHECK/sum" &
hasher=$!
# Opened without waiting: a pipe put at its name meanwhile ends the read.
read_archive | tee -p "$CHECK/data" | outside
unsafe=$?
# A tee that never opened the pipe would leave the hasher waiting for a
# writer: this open is one, and never waits itself.
: <>"$CHECK/data"
wait $hasher
real=$(cat "$CHECK/sum")
rm -rf "$CHECK"
[ "${real%% *}" = "$sum" ] || fail "restore damaged"
[ $unsafe -ne 0 ] || fail "restore outside"
err=$(mkdir "$PLACE.restoring" 2>&1) || reason "${err#mkdir: }"
if ! err=$(read_archive | LC_ALL=C tar -xzpf - -C "$PLACE.restoring" 2>&1); then
	gone "$PLACE.restoring"
	reason "$(printf '%s\n' "$err" | sed -n '/^$/d;/Child returned status/d;/not recoverable/d
		s/^tar: //;s/^gzip: stdout: //;p;q')"
fi
mv -T "$PLACE.restoring" "$PLACE.restored" || reason "$PLACE.restored: cannot rename"
if [ -e "$PLACE" ] || [ -L "$PLACE" ]; then
	gone "$PLACE.before-restore"
	if ! err=$(mv -T "$PLACE" "$PLACE.before-restore" 2>&1); then
		gone "$PLACE.restored"
		reason "${err#mv: }"
	fi
fi
mv -T "$PLACE.restored" "$PLACE" || fail restore
unlock

# shellcheck shell=sh
# The two ends of an upload to $TO.  It goes to a fresh private directory
# beside the target, on the same file system, and is renamed over the target
# only once the remote side has the whole file: the target is always the
# old or the whole new file, and a symlink or pipe at its name is replaced,
# never written through.

# Removes the upload directories beside the target whose upload is gone (a
# copy-file killed midway leaves its own behind).  One goes only when
# nothing in it changed for 10 minutes and no process of the account names
# it in its arguments: a live upload's scp receiver does, a run between
# making its directory and starting scp, or between scp and the rename, has
# changed it just before, so no live upload of another copy-file is ever
# removed.  Another account's processes do not count: any neighbour could
# name every directory and keep it.
remove_stale_uploads() {
	for dir in "$BESIDE"/.bf2ctl-upload.??????; do
		if [ ! -d "$dir" ] || [ -L "$dir" ]; then continue; fi
		# A find that fails keeps the directory too.
		if ! recent=$(find "$dir" -mmin -10 -print -quit 2>/dev/null) || [ -n "$recent" ]; then
			continue
		fi
		set --
		for proc in /proc/[0-9]*; do
			[ ! -O "$proc" ] || set -- "$@" "$proc/cmdline"
		done
		# By its name alone, whatever the spelling of the path; the
		# pattern comes on standard input, so grep never finds itself.
		if printf '%s\n' "/${dir##*/}/" | grep -q -s -F -f - "$@"; then
			continue
		fi
		rm -rf -- "$dir"
	done
}

# The target's directory in BESIDE.  The x keeps the line breaks that its
# name may end with, which a command substitution would drop: another
# directory.
upload_beside() {
	BESIDE=$(dirname -- "$TO" && echo x) || return 1
	BESIDE=${BESIDE%?x}
}

# Prints the new upload directory.  A directory at the target is refused; a
# symlink there, even to a directory, is replaced like any other file.
make_upload_dir() {
	if [ -d "$TO" ] && [ ! -L "$TO" ]; then
		echo "$TO: Is a directory" >&2
		fail target
	fi
	upload_beside || fail target
	remove_stale_uploads
	mktemp -d "$BESIDE/.bf2ctl-upload.XXXXXX" || fail target
}

# The whole upload: the file comes in the SCP protocol on standard input,
# for scp's receiver, whose verdicts go back on standard output.
upload_file() {
	UPLOAD=$(make_upload_dir) || fail target
	scp -t -- "$UPLOAD/file" || { rm -rf "$UPLOAD"; fail scp; }
	replace_target
}

# Moves $UPLOAD/file over the target.  -T: a symlink to a directory planted
# at the target is replaced, not followed, as the rename replaces whatever
# else stands there.  The upload directory goes whatever the outcome.
replace_target() {
	mv -f -T "$UPLOAD/file" "$TO" || { rm -rf "$UPLOAD"; fail rename; }
	rmdir "$UPLOAD"
}

# write_range FILE OFFSET COUNT: exactly COUNT bytes of standard input into
# the existing FILE at OFFSET, then the line "whole", which only a range
# sent to its end is followed by: input cut short fails.  dd asks for no
# more than the rest of its count, so the line stays for read.  FILE is
# opened as it is, never made, followed or waited on.
write_range() {
	dd of="$1" conv=notrunc,nocreat oflag=seek_bytes,nofollow,nonblock seek="$2" \
		bs=256K iflag=fullblock,count_bytes count="$3" status=none || return 1
	IFS= read -r end && [ "$end" = whole ]
}

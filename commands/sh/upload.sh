# shellcheck shell=sh
# The two ends of an upload to $TO.  It goes to a fresh private directory
# beside the target, on the same file system, and is renamed over the target
# only once the remote side has the whole file: the target is always the
# old or the whole new file, and a symlink or pipe at its name is replaced,
# never written through.

# Prints the new upload directory.
make_upload_dir() {
	if [ -d "$TO" ]; then
		echo "$TO: Is a directory" >&2
		fail target
	fi
	mktemp -d "$(dirname -- "$TO")/.bf2ctl-upload.XXXXXX" || fail target
}

# Moves $UPLOAD/file over the target.  -T: a symlink to a directory planted
# at the target is replaced, not followed, as the rename replaces whatever
# else stands there.  The upload directory goes whatever the outcome.
replace_target() {
	mv -f -T "$UPLOAD/file" "$TO" || { rm -rf "$UPLOAD"; fail rename; }
	rmdir "$UPLOAD"
}

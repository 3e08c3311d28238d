# shellcheck shell=sh
# The first of an upload's channels when the file goes as several byte
# ranges at once: it makes the upload directory and the empty file, names
# the directory to the others by its last six characters, writes the first
# COUNT bytes, and renames the file over the target once bf2ctl follows them
# with "whole": it does so only when every other range's channel has said
# its range is whole.  Anything less removes the upload directory.
UPLOAD=$(make_upload_dir) || fail target
if ! : >"$UPLOAD/file" || ! chmod 0640 "$UPLOAD/file"; then
	rm -rf "$UPLOAD"
	fail target
fi
echo "upload ${UPLOAD##*.}"
if ! write_range "$UPLOAD/file" 0 "$COUNT" ||
	[ ! -f "$UPLOAD/file" ] || [ -L "$UPLOAD/file" ] ||
	[ "$(stat -c %s "$UPLOAD/file")" != "$SIZE" ]; then
	rm -rf "$UPLOAD"
	fail scp
fi
replace_target

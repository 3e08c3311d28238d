# shellcheck shell=sh
# Another channel of an upload in byte ranges: the first line of its input
# names the upload directory beside the target (upload_lead.sh's), the rest
# is its range.  It makes nothing: a directory gone meanwhile fails it.
IFS= read -r name || fail scp
case $name in
"upload "[A-Za-z0-9][A-Za-z0-9][A-Za-z0-9][A-Za-z0-9][A-Za-z0-9][A-Za-z0-9]) ;;
*) fail scp ;;
esac
upload_beside || fail scp
write_range "$BESIDE/.bf2ctl-upload.${name#upload }/file" "$OFFSET" "$COUNT" || fail scp

# shellcheck shell=sh
# set_option KEY VALUE: every line of KEY in the settings file $SETTINGS
# gets VALUE in place; a file without one gets the line appended.  A setting
# line is blanks, the key, one blank and the value.  In the key "." stands
# for any character, as keys have always matched; keyed() gives the length
# of a line's key part with its separator, 0 for another line.  KEY and
# VALUE reach awk through its environment, as data, never as a pattern.
# LC_ALL=C: bytes that are not valid in the host's locale still count as
# characters of the old value, which goes whole.
#
# The file is backed up before the rewrite and put back should the rewrite
# fail, so that no line is ever lost; the setting is then appended, as it is
# when no backup can be made.  The rewrite keeps a missing last line break
# missing.  The append runs in a shell of its own so that its complaint
# reads "sh: 1: cannot create FILE: ...".
KEYED='function keyed(s,   k, n, i, j, c) {
	k = ENVIRON["BF2_KEY"]; n = length(k); i = 1
	while (substr(s, i, 1) ~ /^[[:space:]]$/) i++
	for (j = 1; j <= n; j++) {
		c = substr(s, i + j - 1, 1)
		if (c == "" || (substr(k, j, 1) != "." && c != substr(k, j, 1))) return 0
	}
	return substr(s, i + n, 1) ~ /^[[:space:]]$/ ? i + n : 0
}'

append_option() {
	printf '\n%s %s\n' "$1" "$2" | sh -c 'cat >>"$1"' sh "$SETTINGS"
}

set_option() {
	if [ -e "$SETTINGS" ] && [ ! -f "$SETTINGS" ]; then
		echo "$SETTINGS is not a regular file" >&2
		return 1
	fi
	if [ -f "$SETTINGS" ] &&
		BF2_KEY=$1 LC_ALL=C awk "$KEYED"' keyed($0) { found = 1; exit } END { exit !found }' "$SETTINGS" &&
		write_new "$SETTINGS.pre" <"$SETTINGS" 2>/dev/null; then
		NOEOL=
		[ -n "$(tail -c 1 "$SETTINGS.pre")" ] && NOEOL=1
		if BF2_KEY=$1 BF2_VALUE=$2 BF2_NOEOL=$NOEOL LC_ALL=C awk "$KEYED"'
			{ p = keyed($0); printf "%s%s", (NR > 1 ? "\n" : ""), (p ? substr($0, 1, p) ENVIRON["BF2_VALUE"] : $0) }
			END { if (NR && !ENVIRON["BF2_NOEOL"]) printf "\n" }' "$SETTINGS.pre" >"$SETTINGS"; then
			rm -f "$SETTINGS.pre"
		else
			cat "$SETTINGS.pre" >"$SETTINGS" && append_option "$1" "$2"
		fi
	else
		append_option "$1" "$2"
	fi
}

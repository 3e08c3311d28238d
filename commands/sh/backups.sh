# shellcheck shell=sh
# What the backup programs share.  A backup is BDIR/NAME, NAME being
# BASENAME-YYYYmmddTHHMMSSZ.tar.gz or, for a name already taken,
# BASENAME-YYYYmmddTHHMMSSZ-K.tar.gz (K from 2), and beside it
# NAME.sha256: "SHA256  NAME" (as sha256sum prints it, so that
# "sha256sum -c" checks it in BDIR) and "dir: DIR", the directory it holds.

# backup_name NAME: whether NAME is a backup's, its time in STAMP
# (YYYYmmddTHHMMSSZ) and its suffix in SUFFIX (1 for none).
backup_name() {
	case $1 in
	*/* | *"
"*) return 1 ;;
	esac
	STAMP=${1%.tar.gz} SUFFIX=1
	[ "$STAMP" != "$1" ] || return 1
	case $STAMP in
	*Z-[2-9] | *Z-[1-9][0-9] | *Z-[1-9][0-9][0-9] | *Z-[1-9][0-9][0-9][0-9])
		SUFFIX=${STAMP##*-}
		STAMP=${STAMP%-*}
		;;
	esac
	STAMP=${STAMP##*-}
	case $STAMP in
	[0-9][0-9][0-9][0-9][0-9][0-9][0-9][0-9]T[0-9][0-9][0-9][0-9][0-9][0-9]Z)
		[ "${1%-"$STAMP"*}" != "$1" ] && [ -n "${1%-"$STAMP"*}" ]
		;;
	*) return 1 ;;
	esac
}

# backups BDIR: BDIR's backups, oldest first, one "STAMP SUFFIX NAME" line
# each.  Only the account's own files count: in a BDIR others may write to,
# theirs could pose as backups of DIR.
backups() {
	for archive in "$1"/*.tar.gz; do
		name=${archive##*/}
		if [ -f "$archive" ] && [ ! -L "$archive" ] && [ -O "$archive" ] && backup_name "$name"; then
			printf '%s %s %s\n' "$STAMP" "$SUFFIX" "$name"
		fi
	done | LC_ALL=C sort -k1,1 -k2,2n
}

# sum_of FILE: the checksum a .sha256 file begins with, or nothing.
sum_of() {
	[ -f "$1" ] && [ ! -L "$1" ] && [ -O "$1" ] || return 0
	first_line "$1" | sed -n 's/^\([0-9a-f]\{64\}\)\( .*\)\{0,1\}$/\1/p'
}

# dir_of FILE: the directory a .sha256 file records, or nothing.
dir_of() {
	[ -f "$1" ] && [ ! -L "$1" ] && [ -O "$1" ] || return 0
	dd if="$1" bs=8k count=1 iflag=nonblock status=none 2>/dev/null | sed -n '2{s/^dir: //p;q;}'
}

# bdir_inside PHYS: whether BDIR lies in the directory whose physical path
# is PHYS, by physical paths; a BDIR not made yet is judged by its nearest
# existing ancestor.
bdir_inside() {
	dir=$BDIR rest=
	until phys "${dir:-/}"; do
		rest=/${dir##*/}$rest
		dir=${dir%/*}
	done
	case ${PHYS%/}$rest/ in
	"${1%/}"/*) return 0 ;;
	esac
	return 1
}

# shellcheck shell=sh
# list_backups: BDIR's backups, newest first, each as "name: NAME",
# "stamp: YYYYmmddTHHMMSSZ", "size: BYTES", "sha256: HEX" and "dir: DIR"
# (the last two empty without a .sha256 file).  A missing BDIR holds none.
# The 1000 newest at most: the account's files may be countless, and the
# output a panel reads is not.
[ ! -L "$BDIR" ] || fail list
[ -d "$BDIR" ] || exit 0
backups "$BDIR" | LC_ALL=C sort -k1,1r -k2,2nr | head -n 1000 | while IFS= read -r line; do
	name=${line#* * }
	backup_name "$name"
	printf 'name: %s\nstamp: %s\nsize: %s\nsha256: %s\ndir: %s\n' "$name" "$STAMP" \
		"$(stat -c %s "$BDIR/$name")" "$(sum_of "$BDIR/$name.sha256")" \
		"$(dir_of "$BDIR/$name.sha256")"
done

# shellcheck shell=sh
# The install script, written to a temporary directory after the line that
# sets DIR (that directory), the shared functions and the lines that set URL
# and SHA256 (or nothing), and run there detached: it downloads the server package,
# checks its digest when given, unpacks whichever kind it is (and removes
# the package) and runs its fixinstall.sh, leaving STAGE_ok.ret or
# STAGE_err.ret (the stage's status) and STAGE.log for download, verify,
# extract and install.  A tree already installed is swapped out whole, kept
# as bf2.previous.  It lets go of the install lock of the directory above
# when it ends.  $DIR and $URL are quoted: a directory with a blank must not
# send the clean-up and the download into whatever directory the script is
# in, and pattern characters of a URL must reach wget as they are.  The
# URL, which may hold a token, reaches wget on its standard input (printf
# is built in), never on a command line every user of the host can read,
# and the download log that names it is made the account's alone; a URL
# that begins with "-" is no option there either.
cd "$DIR" || exit 1
rm -f ./*.ret ./*.log
LOCK=$DIR/../.bf2_install.lock
release() {
	read -r OWNER <"$LOCK/temp" 2>/dev/null && [ "$OWNER" = "$DIR" ] && rm -rf "$LOCK"
}
trap release EXIT
# finish FILE STATUS: the final status file, after the lock goes, so that
# whoever reads the outcome finds the directory free, for a start of the
# new tree too; then the swap's claim on $DIR/fate (below) goes, as a cancel
# now finds the install ended.
finish() {
	release
	echo "$2" >"$1"
	[ -z "${SWAPPING:-}" ] || rmdir "$DIR/fate"
	exit
}

# Download.

MASK=$(umask)
umask 077
# shellcheck disable=SC2094 # wget's log and its error output go to one file, both appended
printf '%s\n' "$URL" | wget -O bf2_server -a download.log -i - 2>>download.log
RET=$?
umask "$MASK"
if [ $RET -ne 0 ]; then
	finish download_err.ret $RET
fi
echo $RET >download_ok.ret

# Verify.

if [ -n "$SHA256" ]; then
	GOT=$({ sha256sum bf2_server 2>/dev/null || sha256 -q bf2_server; } | cut -d ' ' -f 1)
	if [ "$GOT" != "$SHA256" ]; then
		printf 'expected sha256 %s\ngot sha256 %s\n' "$SHA256" "$GOT" >verify.log
		finish verify_err.ret 1
	fi
	echo 0 >verify_ok.ret
fi

# Extract.

FILE=bf2_server

extract() {
	"$@" >>extract.log 2>&1
	RET=$?
	if [ $RET -ne 0 ]; then
		finish extract_err.ret $RET
	fi
	echo $RET >extract_ok.ret
	rm -f "$FILE"
}

if bzip2 -t "$FILE" >/dev/null 2>&1; then
	extract tar -xjf "$FILE"
elif gzip -t "$FILE" >/dev/null 2>&1; then
	extract tar -xzf "$FILE"
elif unzip -t "$FILE" >/dev/null 2>&1; then
	extract unzip -o "$FILE"
elif head -n 10 "$FILE" | grep Makeself >/dev/null 2>&1; then
	# A self-extracting package, with the command its header would run
	# after unpacking taken out.
	{
		mv -f "$FILE" "$FILE.orig" >>extract.log 2>&1 &&
			sed -e 's/\(script=\).*/\1/' <"$FILE.orig" >"$FILE" 2>>extract.log &&
			rm -f "$FILE.orig" >>extract.log 2>&1 &&
			chmod a+rx "$FILE" >>extract.log 2>&1 &&
			"./$FILE" --target "./bf2" >>extract.log 2>&1
	} || {
		RET=$?
		rm -f "$FILE.orig" >/dev/null 2>&1
		finish extract_err.ret $RET
	}
	echo 0 >extract_ok.ret
	rm -f "$FILE"
else
	echo 'Unknown archive type' >extract.log
	finish extract_err.ret -1
fi

# Install.

cd bf2 2>install.log >&2 &&
	chmod 750 bf2_lnxded.dynamic bf2_lnxded.static fixinstall.sh start.sh &&
	./fixinstall.sh
RET=$?
cd "$DIR" || exit 1
if [ $RET -ne 0 ]; then
	finish install_err.ret $RET
fi

# From here on the install cannot be cancelled: the cancel and the swap
# race for $DIR/fate, and a cancel that has it ends this script.
mkdir "$DIR/fate" 2>/dev/null || exit 1
SWAPPING=1

# An update keeps the old tree whole as bf2.previous (the one before it
# goes); whatever fails leaves bf2 as it was.  Neither tree moves while a
# process works in it: a server started since the download began would
# have its files swapped or removed under it.  The look comes under the
# install lock, which a start of the tree respects.
TOP=$DIR/..
in_use() {
	tree_in_use "$TOP/$1" || return 1
	printf 'Server running from %s/%s\n' "${DIR%/*}" "$1"
}
swap() {
	if [ -e "$TOP/bf2.previous" ] || [ -L "$TOP/bf2.previous" ]; then
		mv -T "$TOP/bf2.previous" "$DIR/older" || return
	fi
	if mv -T "$TOP/bf2" "$TOP/bf2.previous"; then
		mv -T "$DIR/bf2" "$TOP/bf2" && return
		RET=$?
		mv -T "$TOP/bf2.previous" "$TOP/bf2"
	else
		RET=$?
	fi
	[ ! -e "$DIR/older" ] || mv -T "$DIR/older" "$TOP/bf2.previous"
	return $RET
}
if [ -e "$TOP/bf2" ] || [ -L "$TOP/bf2" ]; then
	! in_use bf2 && ! in_use bf2.previous && swap
else
	mv -T "$DIR/bf2" "$TOP/bf2"
fi >>install.log 2>&1
RET=$?
if [ $RET -ne 0 ]; then
	finish install_err.ret $RET
fi
rm -rf "$DIR/older"
finish install_ok.ret $RET

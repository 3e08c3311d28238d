# shellcheck shell=sh
# The install script, written to a temporary directory after the lines that
# set URL and DIR (that directory) and run there detached: it downloads the
# server package, unpacks whichever kind it is and runs its fixinstall.sh,
# leaving STAGE_ok.ret or STAGE_err.ret (the stage's status) and STAGE.log
# for download, extract and install.  $DIR and $URL are quoted: a directory
# with a blank must not send the clean-up and the download into whatever
# directory the script is in, and pattern characters of a URL must reach
# wget as they are.  The URL, which may hold a token, reaches wget on its
# standard input (printf is built in), never on a command line every user
# of the host can read, and the download log that names it is made the
# account's alone; a URL that begins with "-" is no option there either.
cd "$DIR" || exit 1
rm -f ./*.ret ./*.log

# Download.

MASK=$(umask)
umask 077
# shellcheck disable=SC2094 # wget's log and its error output go to one file, both appended
printf '%s\n' "$URL" | wget -O bf2_server -a download.log -i - 2>>download.log
RET=$?
umask "$MASK"
if [ $RET -ne 0 ]; then
	echo $RET >download_err.ret
	exit 1
fi
echo $RET >download_ok.ret

# Extract.

FILE=bf2_server

extract() {
	"$@" >>extract.log 2>&1
	RET=$?
	if [ $RET -ne 0 ]; then
		echo $RET >extract_err.ret
		exit 1
	fi
	echo $RET >extract_ok.ret
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
		echo $RET >extract_err.ret
		exit 1
	}
	echo 0 >extract_ok.ret
else
	echo 'Unknown archive type' >extract.log
	echo -1 >extract_err.ret
	exit 1
fi

# Install.

cd bf2 2>install.log >&2 &&
	chmod 750 bf2_lnxded.dynamic bf2_lnxded.static fixinstall.sh start.sh &&
	./fixinstall.sh
RET=$?
cd "$DIR" || exit 1
if [ $RET -ne 0 ]; then
	echo $RET >install_err.ret
	exit 1
fi

mv "$DIR/bf2" "$DIR/.." >>install.log 2>&1
RET=$?
if [ $RET -ne 0 ]; then
	echo $RET >install_err.ret
	exit 1
fi
echo $RET >install_ok.ret

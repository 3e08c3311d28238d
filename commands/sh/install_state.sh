# shellcheck shell=sh
# How far the install in the temporary directory $T got.  The status files
# say how far the script got; a running script that has written none is
# still downloading.  A script that neither ended with a final status file
# nor still runs was killed (or the host rebooted); it is looked for once
# more after the files, as it may just have ended.
# The last ten lines of a stage's log but blank ones at its end, each cut
# to 4 KiB, from its last 40 KiB only: a huge log costs no more.
log_tail() {
	[ -f "$T/$1.log" ] && tail -c 40960 "$T/$1.log" |
		awk '/^[[:space:]]*$/ { blank = blank $0 "\n"; next } { printf "%s%s\n", blank, $0; blank = "" }' |
		tail -n 10 | cut -b -4096 | sed 's/^/log: /'
}
state() {
	[ -f "$T/install_ok.ret" ] && { echo ok; return; }
	[ -f "$T/cancelled.ret" ] && { echo cancelled; return; }
	for stage in download verify extract install; do
		if [ -f "$T/${stage}_err.ret" ]; then
			RET=$(first_line "$T/${stage}_err.ret")
			printf 'failed\nstage: %s\nstatus: %s\n' $stage "$RET"
			log_tail $stage
			return 0
		fi
	done
	running_script || return 1
	if [ -f "$T/extract_ok.ret" ]; then echo installing
	elif [ -f "$T/download_ok.ret" ]; then echo extracting
	else
		BYTES=0
		[ -f "$T/bf2_server" ] && BYTES=$(($(wc -c <"$T/bf2_server")))
		printf 'downloading\nbytes: %s\n' $BYTES
		# The length the server announced, as wget logs it (after any
		# redirect: the last), from the log's head only.
		[ -f "$T/download.log" ] && head -c 65536 "$T/download.log" |
			sed -n 's/^Length: \([0-9]\{1,18\}\)\([^0-9].*\)\{0,1\}$/total: \1/p' | tail -n 1
	fi
	return 0
}
# running_script: whether the install script of $T runs; its pid in SCRIPT.
running_script() {
	# shellcheck disable=SC2013 # the names are /proc/PID/cmdline, one word each
	for cmdline in $(grep -l -s -F install.sh /proc/[0-9]*/cmdline); do
		SCRIPT=${cmdline#/proc/}
		SCRIPT=${SCRIPT%/cmdline}
		ours "$SCRIPT" "$T/install.sh" && return 0
	done
	SCRIPT=
	return 1
}
install_state() {
	state || state || echo interrupted
}

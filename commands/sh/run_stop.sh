# shellcheck shell=sh
# run_stop KIND: takes the configuration's lock for a run of KIND (lock),
# unless the run holds it already, writes the stop script ($STOP_SCRIPT) to
# $CFGDIR/stop.sh and runs it.  It runs from the text just
# written, not from the file, which the account could change in between.
run_stop() {
	[ -n "$KEEPER" ] || lock "$1" || fail busy
	printf '#!/bin/sh\n%s' "$STOP_SCRIPT" | write_new "$CFGDIR/stop.sh" || fail copy-stop
	chmod 750 "$CFGDIR/stop.sh"
	(eval "$STOP_SCRIPT") || fail stop
}

# shellcheck shell=sh
# running: whether server.pid names the configuration's game server (the
# stop script's rule, with server.start), with its pid in SRVPID.  A pid file that is not a
# regular file is no pid file.
running() {
	SRVPID=$(first_line "$CFGDIR/server.pid")
	ours "$SRVPID" "$CFGDIR/settings/serversettings.con" "$CFGDIR/server.start"
}

#include "commands/stop.h"

#include "driver/tuerror.h"
#include "remote/exec.h"
#include "remote/shell.h"

// A pid file can outlive its process (a start script killed from outside)
// and by now name another process of the account, so a pid is signalled
// only while its command line still holds a file of this directory: the
// settings path for the server, the start script's path for the start
// script.  Anything but digits (an empty file, "-1") is no pid at all.
std::string get_stop_script(const std::string& cfg_dir)
{
    return "#!/bin/sh\nCFGDIR=" + shell_str(cfg_dir) + R"sh(
ours() {
	case $1 in
	''|*[!0-9]*) return 1 ;;
	esac
	case "
$(tr '\000' '\n' 2>/dev/null <"/proc/$1/cmdline")
" in
	*"
$2
"*) return 0 ;;
	esac
	return 1
}

if [ -p "$CFGDIR/server-stdin" -a -r "$CFGDIR/server-stdin" ]; then
	{ sleep 1000 <"$CFGDIR/server-stdin" & } && FSLEEPPID=$!
	echo 'quit
' >"$CFGDIR/server-stdin"
	kill $FSLEEPPID 2>/dev/null
	for i in 1 2 3 4 5; do
		sleep 1
		[ ! -p "$CFGDIR/server-stdin" ] && break
	done
fi

rm -f "$CFGDIR/server-stdin"

if [ -f "$CFGDIR/server.pid" ]; then
	SRVPID=`cat "$CFGDIR/server.pid"`
	if ours "$SRVPID" "$CFGDIR/settings/serversettings.con"; then
		kill $SRVPID 2>/dev/null
		sleep 1
		ours "$SRVPID" "$CFGDIR/settings/serversettings.con" && kill -9 $SRVPID 2>/dev/null
	fi
fi

rm -f "$CFGDIR/server.pid"

if [ -f "$CFGDIR/start.pid" ]; then
	sleep 1
	STARTPID=`cat "$CFGDIR/start.pid"`
	if ours "$STARTPID" "$CFGDIR/start.sh"; then
		kill $STARTPID 2>/dev/null
		sleep 1
		ours "$STARTPID" "$CFGDIR/start.sh" && kill -9 $STARTPID 2>/dev/null
	fi
fi

rm -f "$CFGDIR/start.pid" 2>/dev/null
)sh";
}

void stop_srv(const std::string& cfg_dir)
{
    const std::string q = shell_str(cfg_dir);
    TExecResult r = ssh_exec("cat >" + q + "/stop.sh", get_stop_script(cfg_dir), false);
    if (r.status != 0)
        throw TUError("Copy stop script failed: " + r.err);
    // What the script did is no error: a stop leaves no run files whatever
    // state it found.
    ssh_exec("chmod 750 " + q + "/stop.sh && " + q + "/stop.sh", "", false);
}

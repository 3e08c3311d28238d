#include "commands/stop.h"

#include "remote/error.h"
#include "opt/lookup.h"
#include "remote/session.h"
#include "remote/shell.h"

namespace {

// The console pipe is opened read-write, so the quit goes in at once even
// when nobody reads it, and a full pipe holds up only the writer, which is
// killed when the wait is over.  The start script removes the pipe once the
// server has ended.
const char* const stop_body = R"sh(
if [ -p "$CFGDIR/server-stdin" ]; then
	echo 'quit
' 1<>"$CFGDIR/server-stdin" &
	QUITPID=$!
	for i in 1 2 3 4 5; do
		sleep 1
		[ ! -p "$CFGDIR/server-stdin" ] && break
	done
	kill $QUITPID 2>/dev/null
fi

stop_pid() {
	PID=
	[ -f "$1" ] && read -r PID <"$1"
	if ours "$PID" "$2"; then
		kill $PID 2>/dev/null
		sleep 1
		ours "$PID" "$2" && kill -9 $PID 2>/dev/null && sleep 1
		if ours "$PID" "$2"; then
			echo "process $PID survives signal 9" >&2
			return 1
		fi
	fi
	rm -f "$1"
}

stop_pid "$CFGDIR/server.pid" "$CFGDIR/settings/serversettings.con" || exit 1
[ -f "$CFGDIR/start.pid" ] && sleep 1
stop_pid "$CFGDIR/start.pid" "$CFGDIR/start.sh" || exit 1
rm -f "$CFGDIR/server-stdin"
)sh";

// The stop script runs from the text just written, not from the file,
// which the account could have changed in between.
const char* const run_stop = R"sh(
lock || fail busy
printf '%s' "$STOP_SCRIPT" | write_new "$CFGDIR/stop.sh" || fail copy-stop
chmod 750 "$CFGDIR/stop.sh"
(eval "$STOP_SCRIPT") || fail stop
)sh";

}  // namespace

std::string get_stop_script(const std::string& cfg_dir)
{
    return "#!/bin/sh\nCFGDIR=" + shell_str(cfg_dir) + ours_function + stop_body;
}

std::string stop_steps(const std::string& cfg_dir)
{
    return sh_var("STOP_SCRIPT", get_stop_script(cfg_dir)) + run_stop;
}

void raise_stop_failure(const TScriptResult& r)
{
    if (r.step == "busy")
        throw TUError("Configuration directory busy: another start or stop of it still runs "
                      "after 40 s");
    if (r.step == "copy-stop")
        throw TUError("Copy stop script failed: " + r.err);
    if (r.step == "stop")
        throw TUError("Stop server failed: " + r.err);
}

bool stop(zelto::opt::TOParsing parsing)
{
    const std::string cfg_dir = zelto::opt::value_of(parsing, "cfg-dir");
    parsing.end();
    chk_abs_path(cfg_dir);
    init_ssh_session();
    TScriptResult r =
        run_script(sh_var("CFGDIR", cfg_dir) + stop_steps(cfg_dir) + "unlock\n", true);
    if (r.status != 0) {
        raise_stop_failure(r);
        script_broke(r);
    }
    return true;
}

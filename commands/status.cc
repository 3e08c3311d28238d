#include "commands/status.h"

#include "commands/output.h"
#include "commands/remote_script.h"
#include "driver/address.h"
#include "remote/error.h"
#include "opt/lookup.h"
#include "remote/session.h"
#include "remote/shell.h"

using zelto::opt::TOParsing;

namespace {

// SRVPID is set, and running() true, while server.pid names the
// configuration's game server (the stop script's rule).  A pid file that is
// not a regular file is no pid file.
const char* const running_function = R"sh(
running() {
	SRVPID=
	[ -f "$CFGDIR/server.pid" ] && read -r SRVPID <"$CFGDIR/server.pid"
	ours "$SRVPID" "$CFGDIR/settings/serversettings.con"
}
)sh";

// Uptime from the process's start in clock ticks after boot (field 22 of
// its stat, counted after the command name, which may hold blanks); memory
// from its resident set.  A process that ends while this reads is stopped.
const char* const status_body = R"sh(
running && BF2_PID=$SRVPID BF2_HZ=$(getconf CLK_TCK 2>/dev/null || echo 100) awk '
	FILENAME == "/proc/uptime" { up = $1 }
	FILENAME ~ /\/stat$/ { s = $0; sub(/.*\) /, "", s); split(s, f, " "); start = f[20] }
	FILENAME ~ /\/status$/ && $1 == "VmRSS:" { kb = $2 }
	END {
		if (start == "" || kb == "") exit 1
		printf "running\npid: %s\nuptime: %d\nmemory-kb: %s\n", ENVIRON["BF2_PID"], up - start / ENVIRON["BF2_HZ"], kb
	}' /proc/uptime "/proc/$SRVPID/stat" "/proc/$SRVPID/status" 2>/dev/null || echo stopped
)sh";

// The writer waits in its open until the server reads the pipe, and in its
// write while the pipe is full: after three seconds of that it is killed.
const char* const console_body = R"sh(
running || fail stopped
[ -p "$CFGDIR/server-stdin" ] || fail no-pipe
printf '%s\n' "$LINE" 2>/dev/null >"$CFGDIR/server-stdin" &
WRITER=$!
TRIES=0
while kill -0 $WRITER 2>/dev/null; do
	TRIES=$((TRIES + 1))
	[ $TRIES -le 30 ] || { kill $WRITER 2>/dev/null; fail unread; }
	sleep 0.1
done
wait $WRITER || fail unread
)sh";

const char* const log_body = R"sh(
[ -e "$CFGDIR/srderr.log" ] || exit 0
[ -f "$CFGDIR/srderr.log" ] || fail not-file
tail -n "$LINES" "$CFGDIR/srderr.log"
)sh";

}  // namespace

bool status(TOParsing parsing)
{
    const std::string cfg_dir = zelto::opt::value_of(parsing, "cfg-dir");
    parsing.end();
    chk_abs_path(cfg_dir);
    init_ssh_session();
    TScriptResult r = run_script(sh_var("CFGDIR", cfg_dir) + running_function + status_body, false);
    if (r.status != 0)
        script_broke(r);
    print(r.out);
    return true;
}

bool console(TOParsing parsing)
{
    const std::string cfg_dir = zelto::opt::value_of(parsing, "cfg-dir");
    const std::string line = zelto::opt::value_of(parsing, "line");
    parsing.end();
    chk_abs_path(cfg_dir);
    // One line reaches the console, or none.
    if (line.find_first_of("\n\r") != std::string::npos)
        throw TUError("Console line holds a line break");
    init_ssh_session();
    TScriptResult r = run_script(
        sh_var("CFGDIR", cfg_dir) + sh_var("LINE", line) + running_function + console_body, true);
    if (r.step == "stopped")
        throw TUError("Server is not running");
    if (r.step == "no-pipe")
        throw TUError("Server has no console pipe: " + cfg_dir + "/server-stdin");
    if (r.step == "unread")
        throw TUError("Server does not read its console: " + cfg_dir + "/server-stdin");
    if (r.status != 0)
        script_broke(r);
    return true;
}

bool show_log(TOParsing parsing)
{
    const std::string cfg_dir = zelto::opt::value_of(parsing, "cfg-dir");
    // Optional, so looked up without a report; an empty or bad value is
    // reported as the option library reports one.
    std::string lines = "50";
    auto given = parsing["lines"];
    if (given.found)
        lines = given.entry->second.value;
    parsing.end();
    if (whole_number(lines, 10000) == 0)
        throw TOParsing::TBadLOpt(given.entry);
    chk_abs_path(cfg_dir);
    init_ssh_session();
    // As root, a log the account made a symlink would print any file of the host.
    TScriptResult r =
        run_script(sh_var("CFGDIR", cfg_dir) + sh_var("LINES", lines) + log_body, true);
    if (r.step == "not-file")
        throw TUError("Not a regular file: " + cfg_dir + "/srderr.log");
    if (r.status != 0)
        script_broke(r);
    print(r.out);
    return true;
}

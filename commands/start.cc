#include "commands/start.h"

#include "commands/ports.h"
#include "commands/remote_script.h"
#include "commands/settings.h"
#include "commands/stop.h"
#include "remote/error.h"
#include "opt/lookup.h"
#include "remote/exec.h"
#include "remote/session.h"
#include "remote/shell.h"

#include <string>
#include <utility>
#include <vector>

using zelto::opt::flag;
using zelto::opt::no_arg;
using zelto::opt::opt_arg;
using zelto::opt::req_arg;
using zelto::opt::TOParsing;
using zelto::opt::value_of;

namespace {

// The run files go only with the script's own start.pid: by the time the
// server ends, another start may own them.
const char* const start_body = R"sh(
echo $$ > "$CFGDIR/start.pid" && cd "$SRVDIR" && rm -f "$CFGDIR/server-stdin" && mkfifo "$CFGDIR/server-stdin" && { cat >"$CFGDIR/server-stdin" & } && FCATPID=$! && { ./start.sh +statusMonitor 1 +config "$CFGDIR/settings/serversettings.con" +mapList "$CFGDIR/settings/maplist.con" <"$CFGDIR/server-stdin" >/dev/null 2>>"$CFGDIR/srderr.log" & } && SRVPID=$! && trap "kill $SRVPID" 1 2 15 && echo $SRVPID > "$CFGDIR/server.pid" && wait $SRVPID

kill $FCATPID 2>/dev/null
OWNER=
[ -f "$CFGDIR/start.pid" ] && read -r OWNER <"$CFGDIR/start.pid"
[ "$OWNER" = $$ ] && rm -f "$CFGDIR/server.pid" "$CFGDIR/server-stdin" "$CFGDIR/start.pid" 2>/dev/null
)sh";

// Everything before the launch, in one script: its lines after this are
// the settings and port checks of the run.  An error log that is not a
// regular file (a pipe left there) would hold the server's start for ever.
const char* const prepare_head = R"sh(
SETTINGS=$CFGDIR/settings/serversettings.con
[ ! "$CFGDIR" -ef "$SRVDIR" ] || fail same-dir
)sh";

const char* const prepare_tail = R"sh(
[ ! -e "$CFGDIR/srderr.log" ] || [ -f "$CFGDIR/srderr.log" ] || rm -f "$CFGDIR/srderr.log"
printf '%s' "$START_SCRIPT" | write_new "$CFGDIR/start.sh" || fail copy-start
echo $KEEPER
)sh";

// Run under a terminal, which sends a hang-up when it closes: the launcher
// ignores it before nohup starts, so nohup inherits that from its very
// start.  The start counts as done once the game server named by server.pid
// has lived for two seconds; otherwise the reason is the last line the
// server wrote to its error log during this start, or the launcher's own.
// The launcher lets go of the lock the preparing script took.
const char* const launcher_body = R"sh(
chmod 750 "$CFGDIR/start.sh" || { unlock; exit 1; }
trap '' 1
LOGSIZE=0
[ -f "$CFGDIR/srderr.log" ] && LOGSIZE=$(wc -c <"$CFGDIR/srderr.log")
nohup "$CFGDIR/start.sh" </dev/null >/dev/null 2>&1 &
PID=$!
gave_up() {
	LAST=
	[ -f "$CFGDIR/srderr.log" ] &&
		LAST=$(tail -c +$((LOGSIZE + 1)) "$CFGDIR/srderr.log" | awk 'NF { l = $0 } END { print l }')
	printf '%s\n' "${LAST:-$1}" >&2
	unlock
	exit 1
}
TRIES=0
until [ -f "$CFGDIR/server.pid" ] && read -r SRVPID <"$CFGDIR/server.pid" &&
	ours "$SRVPID" "$CFGDIR/settings/serversettings.con"; do
	[ -d /proc/$PID ] || gave_up 'Process dead'
	TRIES=$((TRIES + 1))
	[ $TRIES -le 80 ] || gave_up 'Timeout end'
	sleep 0.2
done
sleep 2
ours "$SRVPID" "$CFGDIR/settings/serversettings.con" || gave_up 'Process dead'
unlock
)sh";

std::string quoted(const std::string& value)
{
    return "\"" + value + "\"";
}

void raise_start_failure(const TScriptResult& r, const std::string& settings_file)
{
    raise_stop_failure(r);
    const std::string& step = r.step;
    if (step == "same-dir")
        throw TUError("Configuration directory must not be the server directory");
    if (step.starts_with("set "))
        throw TUError("Set option '" + step.substr(4) + "' failed in " + settings_file + ": " +
                      r.err);
    if (step == "test")
        throw TUError("Test on exec server failed");
    if (step.starts_with("port "))
        throw TUError("Port " + step.substr(5) + " using already other proces");
    if (step == "copy-start")
        throw TUError("Copy start script failed: " + r.err);
    script_broke(r);
}

void launch(const std::string& cfg_dir, const std::string& keeper)
{
    const std::string launcher = script_text(
        sh_var("CFGDIR", cfg_dir) + sh_var("KEEPER", keeper) + launcher_body, false);
    TExecResult r = ssh_exec(launcher, "", true);
    if (r.status != 0) {
        // Under the terminal the reason lines arrive in the output, ending in
        // "\r\n", and the error text stays empty.
        std::string reason = r.err;
        if (reason.empty()) {
            reason = r.out;
            std::erase(reason, '\r');
        }
        throw TUError("Start server failed: " + reason);
    }
}

}  // namespace

std::string get_start_script(const std::string& srv_dir, const std::string& cfg_dir)
{
    return "#!/bin/sh\nSRVDIR=" + shell_str(srv_dir) + "\nCFGDIR=" + shell_str(cfg_dir) +
           start_body;
}

bool start(TOParsing parsing)
{
    const std::string srv_dir = value_of(parsing, "srv-dir", req_arg);
    const std::string cfg_dir = value_of(parsing, "cfg-dir", req_arg);
    const std::string name = value_of(parsing, "name", req_arg);
    const std::string max_players = value_of(parsing, "max-players", req_arg);
    const bool internet = flag(parsing, "server-internet");
    const std::string srv_bandwidth = value_of(parsing, "srv-bandwidth", req_arg);
    const std::string cl_bandwidth = value_of(parsing, "cl-bandwidth", req_arg);
    const std::string ip = value_of(parsing, "ip", req_arg);
    const std::string port = value_of(parsing, "port", req_arg);
    const std::string spy_lan_port = value_of(parsing, "spy-lan-port", req_arg);
    const std::string spy_port = value_of(parsing, "spy-port", req_arg);
    const std::string game_time = value_of(parsing, "game-time", req_arg);
    const std::string score_lim = value_of(parsing, "score-lim", req_arg);
    const std::string round_num = value_of(parsing, "round-num", req_arg);
    const bool punk_buster = flag(parsing, "punk-buster");
    const std::string srv_passwd = value_of(parsing, "srv-passwd", opt_arg);
    // The admin and rcon values are required but stored nowhere: read and
    // checked only.  Each later lookup replaces the session's state, so
    // only the first missing one of a chain is reported.
    {
        auto no_admin = parsing("no-remote-admin", no_arg);
        if (!no_admin.found) {
            auto passwd = parsing("remote-admin-passwd", req_arg);
        }
    }
    bool no_rcon;
    std::string rcon_port;
    {
        auto no = parsing("no-rcon", no_arg);
        no_rcon = no.found;
        if (!no_rcon) {
            auto user = parsing("rcon-username", req_arg);
            if (user.found) {
                auto passwd = parsing("rcon-password", req_arg);
                if (passwd.found)
                    rcon_port = value_of(parsing, "rcon-port", req_arg);
            }
        }
    }
    parsing.end();
    chk_abs_path(srv_dir);
    chk_abs_path(cfg_dir);

    const std::string settings_file = cfg_dir + "/settings/serversettings.con";
    const std::pair<const char*, std::string> settings[] = {
        {"sv.serverName", quoted(name)},
        {"sv.maxPlayers", max_players},
        {"sv.internet", internet ? "1" : "0"},
        {"sv.bandwidthChoke", srv_bandwidth},
        {"sv.maxConnectionType", cl_bandwidth},
        {"sv.serverIP", ip},
        {"sv.serverPort", port},
        {"sv.gameSpyPort", spy_port},
        {"sv.timeLimit", game_time},
        {"sv.scoreLimit", score_lim},
        {"sv.roundsPerMap", round_num},
        {"sv.svPunkBuster", punk_buster ? "1" : "0"},
        {"sv.password", quoted(srv_passwd)},
    };
    std::vector<std::string> ports{port, spy_lan_port, spy_port};
    if (!no_rcon)
        ports.push_back(rcon_port);

    // Whatever can be refused is refused before anything changes, the
    // running server included.
    for (const auto& [key, value] : settings)
        refuse_line_break(settings_file, key, value);
    for (const std::string& p : ports)
        if (!is_port_number(p))
            throw TUError("Port '" + p + "' is not a number from 0 to 65535");

    std::string script = sh_var("SRVDIR", srv_dir) + sh_var("CFGDIR", cfg_dir) +
                         sh_var("START_SCRIPT", get_start_script(srv_dir, cfg_dir)) +
                         settings_functions + ports_functions + prepare_head + stop_steps(cfg_dir);
    for (const auto& [key, value] : settings)
        script +=
            "set_option " + shell_str(key) + " " + shell_str(value) + " || fail set " + key + "\n";
    script += "test -x \"$SRVDIR/start.sh\" || fail test\n";
    // "0" lets the server choose; anything else, even "00", is checked.
    for (const std::string& p : ports)
        if (p != "0")
            script += "! port_in_use " + shell_str(p) + " || fail port " + shell_str(p) + "\n";
    script += prepare_tail;

    init_ssh_session();
    TScriptResult r = run_script(script, true);
    if (r.status != 0)
        raise_start_failure(r, settings_file);
    launch(cfg_dir, r.out.substr(0, r.out.find('\n')));
    return true;
}

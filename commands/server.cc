#include "commands/server.h"

#include "commands/launcher.h"
#include "commands/ports.h"
#include "commands/settings.h"
#include "commands/stop.h"
#include "driver/tuerror.h"
#include "opt/lookup.h"
#include "remote/exec.h"
#include "remote/session.h"
#include "remote/shell.h"

#include <string>
#include <vector>

using zelto::opt::no_arg;
using zelto::opt::opt_arg;
using zelto::opt::req_arg;
using zelto::opt::flag;
using zelto::opt::TOParsing;
using zelto::opt::value_of;

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
    init_ssh_session();

    // Every start is a restart.
    stop_srv(cfg_dir);

    const std::string settings = cfg_dir + "/settings/serversettings.con";
    set_cfg_option(settings, "sv.serverName", name, true);
    set_cfg_option(settings, "sv.maxPlayers", max_players, false);
    set_cfg_option(settings, "sv.internet", internet ? "1" : "0", false);
    set_cfg_option(settings, "sv.bandwidthChoke", srv_bandwidth, false);
    set_cfg_option(settings, "sv.maxConnectionType", cl_bandwidth, false);
    set_cfg_option(settings, "sv.serverIP", ip, false);
    set_cfg_option(settings, "sv.serverPort", port, false);
    set_cfg_option(settings, "sv.gameSpyPort", spy_port, false);
    set_cfg_option(settings, "sv.timeLimit", game_time, false);
    set_cfg_option(settings, "sv.scoreLimit", score_lim, false);
    set_cfg_option(settings, "sv.roundsPerMap", round_num, false);
    set_cfg_option(settings, "sv.svPunkBuster", punk_buster ? "1" : "0", false);
    set_cfg_option(settings, "sv.password", srv_passwd, true);

    if (ssh_exec("test -x " + shell_str(srv_dir) + "/start.sh", "", false).status != 0)
        throw TUError("Test on exec server failed");

    // "0" lets the server choose; anything else, even "00", is checked.
    std::vector<std::string> ports{port, spy_lan_port, spy_port};
    if (!no_rcon)
        ports.push_back(rcon_port);
    for (const std::string& p : ports)
        if (p != "0" && port_using(p))
            throw TUError("Port " + p + " using already other proces");

    start_srv(srv_dir, cfg_dir);
    return true;
}

bool stop(TOParsing parsing)
{
    const std::string cfg_dir = value_of(parsing, "cfg-dir", req_arg);
    parsing.end();
    chk_abs_path(cfg_dir);
    init_ssh_session();
    stop_srv(cfg_dir);
    return true;
}

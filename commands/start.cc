#include "commands/start.h"

#include "commands/checks.h"
#include "commands/programs.h"
#include "commands/secrets.h"
#include "opt/lookup.h"
#include "remote/error.h"
#include "remote/exec.h"
#include "remote/session.h"

#include <string>
#include <utility>
#include <vector>

using zelto::opt::flag;
using zelto::opt::no_arg;
using zelto::opt::opt_arg;
using zelto::opt::req_arg;
using zelto::opt::TOParsing;
using zelto::opt::value_of;
using zelto::opt::value_or;

namespace {

std::string quoted(const std::string& value) { return "\"" + value + "\""; }

// A value as one line of start.params, and back: a backslash and a line
// break escaped (\\, \n); any other backslash stands for itself.
std::string escaped(const std::string& value)
{
    std::string line;
    for (char c : value)
        line += c == '\\' ? "\\\\" : c == '\n' ? "\\n" : std::string(1, c);
    return line;
}

std::string unescaped(const std::string& line)
{
    std::string value;
    for (size_t i = 0; i < line.size(); ++i) {
        const char next = i + 1 < line.size() ? line[i + 1] : 0;
        if (line[i] == '\\' && (next == 'n' || next == '\\')) {
            value += next == 'n' ? '\n' : '\\';
            ++i;
        } else {
            value += line[i];
        }
    }
    return value;
}

std::string levels(const std::string& srv_dir, const std::string& mod)
{
    return srv_dir + "/mods/" + (mod.empty() ? "bf2" : mod) + "/levels";
}

// An optional option's value, "" when absent; given, it may not be empty.
std::string optional(TOParsing& parsing, const std::string& name)
{
    auto given = parsing[name];
    if (given.found && given.entry->second.value.empty())
        throw TOParsing::TBadLOpt(given.entry);
    return given.found ? given.entry->second.value : "";
}

// Under the terminal the launcher's reason lines arrive in the output,
// ending in "\r\n", and the error text stays empty.  The start script
// that could not give the console its settings says so as its reason.
void launch(const std::string& srv_dir, const std::string& cfg_dir)
{
    TExecResult r = run_program_result(programs::launch_start, {{"CFGDIR", cfg_dir}});
    if (r.status != 0) {
        std::string reason = r.err;
        if (reason.empty()) {
            reason = r.out.substr(0, kErrCap);
            std::erase(reason, '\r');
        }
        const std::string file = srv_dir + "/admin/default.cfg",
                          rcon = "Set rcon settings failed in " + file + ": ";
        if (reason.starts_with(rcon))
            throw_step(programs::launch_start, "rcon-config", {{"file", file}},
                       reason.substr(rcon.size()));
        throw_step(programs::launch_start, "launch", {}, reason);
    }
}

}  // namespace

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
    const bool restart_on_crash = flag(parsing, "restart-on-crash");
    const std::string mod = optional(parsing, "mod");
    const std::string maps = optional(parsing, "maps");
    const std::string srv_passwd =
        value_or(parsing, "srv-passwd", opt_arg, secret("BF2_SRV_PASSWD"));
    // The admin values and the rcon user name are required but stored
    // nowhere: read and checked only (the game's console knows no user
    // names).  Each later lookup replaces the session's state, so only the
    // first missing one of a chain is reported.
    {
        auto no_admin = parsing("no-remote-admin", no_arg);
        if (!no_admin.found)
            value_or(parsing, "remote-admin-passwd", req_arg, secret("BF2_REMOTE_ADMIN_PASSWD"));
    }
    bool no_rcon;
    std::string rcon_port, rcon_password;
    {
        auto no = parsing("no-rcon", no_arg);
        no_rcon = no.found;
        if (!no_rcon) {
            auto user = parsing("rcon-username", req_arg);
            if (user.found) {
                rcon_password =
                    value_or(parsing, "rcon-password", req_arg, secret("BF2_RCON_PASSWORD"));
                rcon_port = value_of(parsing, "rcon-port", req_arg);
            }
        }
    }
    parsing.end();
    chk_abs_path(srv_dir, "srv-dir");
    chk_abs_path(cfg_dir, "cfg-dir");

    const std::string settings_file = cfg_dir + "/settings/serversettings.con";
    using K = TSettingKind;
    const struct {
        const char* key;
        std::string value;
        TSettingKind kind;
        const char* option;
    } settings[] = {
        {"sv.serverName", name, K::text, "name"},
        {"sv.maxPlayers", max_players, K::number, "max-players"},
        {"sv.internet", internet ? "1" : "0", K::flag, "server-internet"},
        {"sv.bandwidthChoke", srv_bandwidth, K::number, "srv-bandwidth"},
        {"sv.maxConnectionType", cl_bandwidth, K::number, "cl-bandwidth"},
        {"sv.serverIP", ip, K::bare, "ip"},
        {"sv.serverPort", port, K::port, "port"},
        {"sv.gameSpyPort", spy_port, K::port, "spy-port"},
        {"sv.timeLimit", game_time, K::number, "game-time"},
        {"sv.scoreLimit", score_lim, K::number, "score-lim"},
        {"sv.roundsPerMap", round_num, K::number, "round-num"},
        {"sv.svPunkBuster", punk_buster ? "1" : "0", K::flag, "punk-buster"},
        {"sv.password", srv_passwd, K::text, "srv-passwd"},
    };
    // Each with its option, which a refusal names.
    std::vector<std::pair<std::string, const char*>> ports{
        {port, "port"}, {spy_lan_port, "spy-lan-port"}, {spy_port, "spy-port"}};
    if (!no_rcon)
        ports.emplace_back(rcon_port, "rcon-port");

    // Whatever can be refused is refused before anything changes, the
    // running server included.
    for (const auto& [key, value, kind, option] : settings)
        refuse_setting(settings_file, key, value, kind, option);
    if (!no_rcon) {
        refuse_rcon_password(rcon_password);
        if (is_port_number(rcon_port) && zelto::opt::whole_number(rcon_port, 65535) == 0)
            throw TUError(TCode::usage, "Rcon port must not be 0 when the console is on")
                .about("rcon-port");
    }
    if (!mod.empty())
        chk_mod_name(mod);
    const std::string map_file = maps.empty() ? "" : map_list(maps);
    for (const auto& [p, option] : ports)
        if (!is_port_number(p))
            throw TUError(TCode::usage, "Port '" + p + "' is not a number from 0 to 65535")
                .about(option);

    std::string options;
    for (const auto& [key, value, kind, option] : settings)
        options += (options.empty() ? "" : "\n") + std::string(key) + " " +
                   (kind == K::text ? quoted(value) : value);
    std::string port_list;
    for (const auto& [p, option] : ports)
        port_list += p + " ";

    // What a restart needs and the settings files do not hold.
    const std::string params = "srv-dir=" + escaped(srv_dir) + "\nports=" + port_list +
                               "\nrestart-on-crash=" + (restart_on_crash ? "yes" : "") +
                               "\nmod=" + mod + "\nmaps=" + maps + "\nip=" + ip + "\n";

    init_ssh_session();
    run_program(programs::prepare_start,
                {{"SRVDIR", srv_dir},
                 {"CFGDIR", cfg_dir},
                 {"OPTIONS", options},
                 {"RCON", no_rcon ? "port=0\npassword=\n"
                                  : "port=" + rcon_port + "\npassword=" + rcon_password + "\n"},
                 {"MOD", mod},
                 {"LEVELS", levels(srv_dir, mod)},
                 {"MAPS", map_file},
                 {"PORTS", port_list},
                 {"RESTART_ON_CRASH", restart_on_crash ? "yes" : ""},
                 {"START_PARAMS", params},
                 {"START_SCRIPT", program_text(programs::start_script, {{"CFGDIR", cfg_dir}})},
                 {"STOP_SCRIPT", program_text(programs::stop_script, {{"CFGDIR", cfg_dir}})}});
    launch(srv_dir, cfg_dir);
    return true;
}

bool restart(TOParsing parsing)
{
    const std::string cfg_dir = value_of(parsing, "cfg-dir");
    parsing.end();
    chk_abs_path(cfg_dir, "cfg-dir");
    init_ssh_session();
    TValues values{{"CFGDIR", cfg_dir},
                   {"START_SCRIPT", program_text(programs::start_script, {{"CFGDIR", cfg_dir}})},
                   {"STOP_SCRIPT", program_text(programs::stop_script, {{"CFGDIR", cfg_dir}})}};
    TExecResult r = run_program_result(programs::prepare_restart, values);
    // Once it has read the parameters, the program's first two lines are
    // "srv-dir=..." and "mod=...", which later steps' messages name.
    const size_t cut = r.out.find('\n'), end = r.out.find('\n', cut + 1);
    const bool read = r.out.starts_with("srv-dir=") && end != std::string::npos &&
                      r.out.compare(cut + 1, 4, "mod=") == 0;
    const std::string srv_dir = read ? unescaped(r.out.substr(8, cut - 8)) : "",
                      mod = read ? r.out.substr(cut + 5, end - cut - 5) : "";
    if (r.status != 0) {
        values.insert({{"SRVDIR", srv_dir}, {"MOD", mod}, {"LEVELS", levels(srv_dir, mod)}});
        throw_step_failure(programs::prepare_restart, r, values);
    }
    launch(srv_dir, cfg_dir);
    return true;
}

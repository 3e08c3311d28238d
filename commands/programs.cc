#include "commands/programs.h"

#include "commands/sh_scripts.h"
#include "remote/error.h"
#include "remote/exec.h"

#include <algorithm>
#include <initializer_list>

namespace {

using TSteps = std::vector<TStep>;

TSteps joined(std::initializer_list<TSteps> lists)
{
    TSteps all;
    for (const TSteps& list : lists)
        all.insert(all.end(), list.begin(), list.end());
    return all;
}

// run_stop.sh's, in every program that stops the server first.
const TSteps stop_steps = {
    {"busy", "Configuration directory busy: another start or stop of it still runs after 40 s", "",
     false, TCode::busy},
    {"copy-stop", "Copy stop script failed", "", true},
    {"stop", "Stop server failed", "", true},
};

}  // namespace

namespace programs {

const TProgram host_kind{
    .name = "host_kind",
    .run = TRun::piped,
    .parts = {sh_host_kind},
};

const TProgram login_uid{
    .name = "login_uid",
    .run = TRun::piped,
    .parts = {sh_login_uid},
    .steps = {{.step = "id", .text = "Execute 'id' failed", .with_err = true, .by = TBy::cxx}},
};

const TProgram check_install{
    .name = "check_install",
    .run = TRun::piped,
    .parts = {sh_check_install},
    .vars = {{"DIR"}},
    .steps = {{.step = "check-install",
               .text = "BF2 files check failed",
               .with_err = true,
               .by = TBy::cxx}},
};

const TProgram create_user{
    .name = "create_user",
    .run = TRun::piped,
    .parts = {sh_create_user},
    .vars = {{"NUMBERS"}, {"HASH"}},
    .steps =
        {
            {"system", "Unknown system: "},
            {"full", "No free user name: bf2, bf, battlefield, battlefield2 and ",
             " tried names bf2_NNNN are taken"},
            {"useradd", "Create system user '", "' failed", true},
            {.step = "chmod",
             .text = "Make home of system user '",
             .after = "' private failed",
             .with_err = true,
             .by = TBy::computed},
            {.step = "chpasswd",
             .text = "Set password of system user '",
             .after = "' failed",
             .with_err = true,
             .by = TBy::computed},
        },
};

const TProgram status{
    .name = "status",
    .run = TRun::piped,
    .parts = {sh_running, sh_status},
    .vars = {{"CFGDIR"}},
};

const TProgram console{
    .name = "console",
    .run = TRun::piped,
    .parts = {sh_running, sh_console},
    .vars = {{"CFGDIR"}, {"LINE", TNeed::may_be_empty}},
    .refuse_root = true,
    .steps =
        {
            {"stopped", "Server is not running", "", false, TCode::not_running},
            {"no-pipe", "Server has no console pipe: {CFGDIR}/server-stdin", "", false,
             TCode::not_running},
            {"unread", "Server does not read its console: {CFGDIR}/server-stdin", "", false,
             TCode::not_reading},
        },
};

// Run before bf2ctl opens the console's port: the port must be the server's.
const TProgram rcon_check{
    .name = "rcon_check",
    .run = TRun::piped,
    .parts = {sh_running, sh_descendants, sh_rcon_check},
    .vars = {{"CFGDIR"}, {"PORT"}},
    .refuse_root = true,
    .steps =
        {
            {"stopped", "Server is not running", "", false, TCode::not_running},
            {"no-listener", "No rcon listener of the server on port {PORT}", "", false,
             TCode::not_running},
        },
};

const TProgram log{
    .name = "log",
    .run = TRun::piped,
    .parts = {sh_log},
    .vars = {{"LOG"}, {"LINES"}},
    .refuse_root = true,
    .steps = {{"not-file", "Not a regular file: {LOG}"}},
};

const TProgram install_state{
    .name = "install_state",
    .run = TRun::piped,
    .parts = {sh_install_state, "[ -f \"$T/install.sh\" ] || fail no-install\ninstall_state\n"},
    .vars = {{"T"}},
    .refuse_root = true,
    .steps = {{"no-install", "Not an install directory (no install.sh): {T}"}},
};

const TProgram install_cancel{
    .name = "install_cancel",
    .run = TRun::piped,
    .parts = {sh_descendants, sh_install_state, sh_install_cancel},
    .vars = {{"T"}},
    .refuse_root = true,
    .steps =
        {
            {"cancel missing", "No install in {T}"},
            {"cancel swapping", "Install in {T} is swapping the tree in: it cannot be cancelled"},
            {"cancel", "Install in {T} already ended: "},
        },
};

const TProgram launch_install{
    .name = "launch_install",
    .run = TRun::piped,
    .parts = {sh_launch_install},
    .vars = {{"DIR"}, {"SCRIPT"}},
    .refuse_root = true,
    .steps =
        {
            {"running", "Server running from {DIR}/bf2: stop it first", "", false,
             TCode::server_running},
            {"busy", "Install already running in {DIR}", "", false, TCode::install_running},
            {.step = "mktemp",
             .text = "Make temporary directory in '{DIR}' failed",
             .with_err = true,
             .by = TBy::computed},
            {.step = "copy",
             .text = "Copy install script failed",
             .with_err = true,
             .by = TBy::computed},
            {.step = "start",
             .text = "Run install script failed",
             .with_err = true,
             .by = TBy::computed},
        },
};

const TProgram install_script{
    .name = "install_script",
    .run = TRun::stored,
    .parts = {sh_install_script},
    .vars = {{"DIR", TNeed::from_writer}, {"URL"}, {"SHA256", TNeed::may_be_empty}},
};

// start_checks.sh's and ready_start.sh's, in a start and a restart.
const TSteps start_steps = joined({
    stop_steps,
    {
        {"same-dir", "Configuration directory must not be the server directory"},
        {"same-dir inside", "Configuration directory must not be inside the server directory"},
        {"installing", "Install already running in ", "", false, TCode::install_running},
        {"mod", "Mod {MOD} is not installed in {SRVDIR}"},
        {"maps", "Map ", " is not installed in {LEVELS}"},
        {"tree-console",
         "Server tree {SRVDIR} runs another configuration's server with other console settings", "",
         false, TCode::server_running},
        {"test", "Test on exec server failed"},
        {"port", "Port ", " using already other proces"},
        {"copy-start", "Copy start script failed", "", true},
    },
});

const TProgram prepare_start{
    .name = "prepare_start",
    .run = TRun::piped,
    .parts = {sh_settings, sh_ports, sh_run_stop, sh_start_checks, sh_prepare_start,
              sh_ready_start},
    .vars = {{"SRVDIR"},
             {"CFGDIR"},
             {"OPTIONS"},
             {"RCON"},
             {"MOD", TNeed::may_be_empty},
             {"LEVELS"},
             {"MAPS", TNeed::may_be_empty},
             {"PORTS"},
             {"RESTART_ON_CRASH", TNeed::may_be_empty},
             {"START_PARAMS"},
             {"START_SCRIPT"},
             {"STOP_SCRIPT"}},
    .refuse_root = true,
    .steps = joined({
        start_steps,
        {
            {"set", "Set option '", "' failed in {CFGDIR}/settings/serversettings.con", true},
            {"rcon-config", "Set rcon settings failed in {CFGDIR}/settings/adminsettings.con", "",
             true},
            {"maplist", "Set map list failed in {CFGDIR}/settings/maplist.con", "", true},
        },
    }),
};

// The values start.params gives are printed ahead of any later step.
const TProgram prepare_restart{
    .name = "prepare_restart",
    .run = TRun::piped,
    .parts = {sh_ports, sh_run_stop, sh_read_params, sh_start_checks, "run_stop start\n",
              sh_ready_start},
    .vars = {{"CFGDIR"},
             {"START_SCRIPT"},
             {"STOP_SCRIPT"},
             {"SRVDIR", TNeed::from_host},
             {"MOD", TNeed::from_host},
             {"LEVELS", TNeed::from_host}},
    .refuse_root = true,
    .steps = joined({
        start_steps,
        {
            {"never", "Server was never started in {CFGDIR}", "", false, TCode::not_running},
            {"params", "Malformed start parameters in {CFGDIR}/start.params: "},
        },
    }),
};

const TProgram start_script{
    .name = "start_script",
    .run = TRun::stored,
    .parts = {sh_start_script},
    .vars = {{"SRVDIR", TNeed::from_writer},
             {"CFGDIR"},
             {"RESTART_ON_CRASH", TNeed::writer_may_be_empty},
             {"MOD", TNeed::writer_may_be_empty}},
};

const TProgram launch_start{
    .name = "launch_start",
    .run = TRun::terminal,
    .parts = {sh_launch_start},
    .vars = {{"CFGDIR"}},
    .steps =
        {
            {.step = "launch", .text = "Start server failed", .with_err = true, .by = TBy::cxx},
            {.step = "rcon-config",
             .text = "Set rcon settings failed in {file}",
             .with_err = true,
             .by = TBy::cxx},
        },
};

const TProgram stop{
    .name = "stop",
    .run = TRun::piped,
    .parts = {sh_run_stop, sh_stop},
    .vars = {{"CFGDIR"}, {"STOP_SCRIPT"}},
    .refuse_root = true,
    .steps = stop_steps,
};

const TProgram stop_script{
    .name = "stop_script",
    .run = TRun::stored,
    .parts = {sh_stop_script},
    .vars = {{"CFGDIR"}},
};

// scp's row takes the words of what it cut short ({cut}): the channel
// before scp took the file, the content after.
const TSteps upload_steps = {
    {"target", "Unable to open the scp channel", "", true},
    {"scp", "{cut}", "", true},
    {"rename", "Failed to copy content", "", true},
};
const TProgram upload{
    .name = "upload",
    .run = TRun::reader,
    .parts = {sh_upload, "upload_file\n"},
    .vars = {{"TO"}},
    .refuse_root = true,
    .steps = upload_steps,
};

// A large file's byte ranges: the first, whose program makes the upload
// directory and renames the whole file, and each of the others.
const TProgram upload_lead{
    .name = "upload_lead",
    .run = TRun::reader,
    .parts = {sh_upload, sh_upload_lead},
    .vars = {{"TO"}, {"COUNT"}, {"SIZE"}},
    .refuse_root = true,
    .steps = upload_steps,
};
const TProgram upload_range{
    .name = "upload_range",
    .run = TRun::reader,
    .parts = {sh_upload, sh_upload_range},
    .vars = {{"TO"}, {"OFFSET"}, {"COUNT"}},
    .refuse_root = true,
    .steps = upload_steps,
};

const TProgram fetch_file{
    .name = "fetch_file",
    .run = TRun::reader,
    .parts = {sh_fetch_file},
    .vars = {{"FROM"}},
    .refuse_root = true,
    .steps =
        {
            {"missing", "No such remote file: {FROM}"},
            {"not-file", "Not a regular remote file: {FROM}"},
            {"unreadable", "Unable to open the remote file {FROM}", "", true},
            {"scp", "{cut}", "", true},
            {.step = "size",
             .text = "Remote file {FROM} is larger than {max} bytes",
             .by = TBy::cxx},
        },
};

// Run as sh -c with the pid of the run's shell as $1.
const TProgram watchdog{
    .name = "watchdog",
    .run = TRun::command,
    .parts = {sh_descendants, sh_watch},
};

const TProgram read_command{
    .name = "read_command",
    .run = TRun::command,
    .parts = {sh_read_command},
    .vars = {{"bf2ctl_command"}},
};

// The lock wait of backup.sh and restore.sh.
const TStep backup_busy{
    "busy", "Directory {DIR} busy: another backup or restore of it still runs after 40 s", "",
    false, TCode::busy};

const TProgram backup{
    .name = "backup",
    .run = TRun::piped,
    .parts = {sh_backups, sh_backup},
    .vars = {{"DIR"}, {"BDIR"}, {"KEEP"}, {"EXCLUDE", TNeed::may_be_empty}},
    .refuse_root = true,
    .steps =
        {
            backup_busy,
            {"backup inside", "Backup directory must not be inside {DIR}"},
            {"backup link", "Backup directory {BDIR} is a symbolic link"},
            {"backup", "Backup of {DIR} failed", "", true},
        },
};

const TProgram list_backups{
    .name = "list_backups",
    .run = TRun::piped,
    .parts = {sh_backups, sh_list_backups},
    .vars = {{"BDIR"}},
    .refuse_root = true,
    .steps = {{"list", "Backup directory {BDIR} is a symbolic link"}},
};

const TProgram restore{
    .name = "restore",
    .run = TRun::piped,
    .parts = {sh_running, sh_backups, sh_restore},
    .vars = {{"DIR"}, {"BDIR"}, {"NAME", TNeed::may_be_empty}},
    .refuse_root = true,
    .steps =
        {
            backup_busy,
            {"restore link", "Backup directory {BDIR} is a symbolic link"},
            {"restore inside", "Backup directory must not be inside {DIR}"},
            {"restore missing", "No backup {NAME} in {BDIR}"},
            {"restore unsummed", "Backup {NAME} has no checksum file"},
            {"restore running", "A process works in {DIR}: stop it first", "", false,
             TCode::server_running},
            {"restore damaged", "Backup {NAME} is damaged: checksum mismatch"},
            {"restore outside", "Backup {NAME} holds a path outside {DIR}"},
            {"restore", "Restore of {DIR} failed", "", true},
        },
};

const TProgram list_dir{
    .name = "list_dir",
    .run = TRun::piped,
    .parts = {sh_list_dir},
    .vars = {{"DIR"}},
    .refuse_root = true,
    .steps =
        {
            {"list missing", "No such directory: {DIR}"},
            {"list not-dir", "Not a directory: {DIR}"},
            {"list", "Unable to list {DIR}", "", true},
        },
};

const std::vector<const TProgram*> all = {
    &host_kind,     &login_uid,      &check_install,   &create_user,
    &status,        &console,        &rcon_check,      &log,
    &install_state, &launch_install, &install_script,  &prepare_start,
    &start_script,  &launch_start,   &prepare_restart, &stop,
    &stop_script,   &upload,         &upload_lead,     &upload_range,
    &fetch_file,    &watchdog,       &read_command,    &backup,
    &list_backups,  &restore,        &list_dir,        &install_cancel,
};

const std::vector<std::string> outside = {"session", "query", "forward", "rcon"};

}  // namespace programs

namespace {

[[noreturn]] void internal(const TProgram& program, const std::string& what)
{
    throw TUError(TCode::internal, "Remote program " + program.name + " " + what);
}

// A text without its comment lines: a command line stands in the process
// list while it runs.
std::string code_of(const std::string& text)
{
    std::string code;
    size_t begin = 0;
    while (begin < text.size()) {
        size_t end = text.find('\n', begin);
        if (end == std::string::npos)
            end = text.size();
        const std::string line = text.substr(begin, end - begin);
        const size_t first = line.find_first_not_of(" \t");
        if (first != std::string::npos && line[first] != '#')
            code += line + "\n";
        begin = end + 1;
    }
    return code;
}

// text with each {NAME} replaced by its value; a value's own braces stay
// as they are.
std::string filled(const TProgram& program, std::string text, const TValues& values)
{
    for (size_t open = 0; (open = text.find('{', open)) != std::string::npos;) {
        const size_t close = text.find('}', open);
        const std::string name = text.substr(open + 1, close - open - 1);
        const auto value = values.find(name);
        if (close == std::string::npos || value == values.end())
            internal(program, "has no value for {" + name + "} in a message");
        text.replace(open, close - open + 1, value->second);
        open += value->second.size();
    }
    return text;
}

// The command line after the watchdog that ends it, and whatever it
// started that is still its descendant, should the run's connection go.
std::string watched(const std::string& command)
{
    return "/bin/sh -c " + shell_str(program_text(programs::watchdog, {})) +
           " bf2ctl-watchdog $$ </dev/null >/dev/null 2>&1 &\n" + command;
}

// read_command.sh's command line and input for text: an x and a line break
// follow it, so that a text cut short never runs.
TCommandLine reading(const std::string& text, bool own_shell)
{
    const std::string reader =
        program_text(programs::read_command, {{"bf2ctl_command", std::to_string(text.size())}});
    return {watched(own_shell ? "/bin/sh -c " + shell_str(reader) : reader), text + "x\n"};
}

// Whether a variable gets no value from the caller.
bool unset(TNeed need)
{
    return need == TNeed::from_writer || need == TNeed::writer_may_be_empty ||
           need == TNeed::from_host;
}

const TStep* row_of(const TProgram& program, const std::string& step)
{
    for (const TStep& row : program.steps)
        if (row.step == step)
            return &row;
    return nullptr;
}

[[noreturn]] void throw_row(const TProgram& program, const TStep& row, const std::string& argument,
                            const TValues& values, const std::string& err)
{
    const std::string name = row.step.substr(0, row.step.find(' '));
    throw TUError(row.code,
                  filled(program, row.text, values) + argument +
                      filled(program, row.after, values) + (row.with_err ? ": " + err : ""),
                  row.code == TCode::remote ? name : "");
}

}  // namespace

std::string shell_str(const std::string& value)
{
    std::string quoted = "'";
    quoted.reserve(value.size() + 2);
    for (char c : value) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    quoted += '\'';
    return quoted;
}

std::string program_text(const TProgram& program, const TValues& values)
{
    std::string own;
    for (const TVar& var : program.vars) {
        const auto value = values.find(var.name);
        if (value == values.end() && !unset(var.need))
            internal(program, "lacks its variable " + var.name);
        if (value != values.end())
            own += var.name + "=" + shell_str(value->second) + "\n";
    }
    for (const auto& [name, value] : values)
        if (!std::count_if(
                program.vars.begin(), program.vars.end(),
                [&key = name](const TVar& var) { return var.name == key && !unset(var.need); }))
            internal(program, "has no variable " + name);
    for (const TVar& var : program.vars)
        if (var.need != TNeed::from_host)
            own +=
                ": \"${" + var.name +
                (var.need == TNeed::may_be_empty || var.need == TNeed::writer_may_be_empty ? "?"
                                                                                           : ":?") +
                "}\"\n";
    for (const char* part : program.parts)
        own += part;
    if (program.run == TRun::command)
        return code_of(own);
    const std::string shared = std::string(sh_ours) + sh_lib;
    if (program.run == TRun::stored)
        return shared + own;
    return shared + "{\n" + (program.refuse_root ? "[ \"$(id -u)\" != 0 ] || fail root\n" : "") +
           own + "\n}" + (program.run == TRun::reader ? "\n" : " </dev/null\n");
}

TExecResult run_program_result(const TProgram& program, const TValues& values)
{
    const std::string text = program_text(program, values);
    if (program.run == TRun::piped)
        return ssh_exec(watched("/bin/sh -s"), text, false);
    if (program.run != TRun::terminal)
        internal(program, "is not run on its own");
    return ssh_exec(watched(text), "", true, kErrCap);
}

std::string run_program(const TProgram& program, const TValues& values)
{
    TExecResult r = run_program_result(program, values);
    if (r.status == 0)
        return r.out;
    throw_step_failure(program, r, values);
}

TCommandLine program_command(const TProgram& program, const TValues& values)
{
    if (program.run != TRun::reader)
        internal(program, "reads no input");
    return reading(program_text(program, values), true);
}

TCommandLine caller_command(const std::string& command) { return reading(command, false); }

void throw_step_failure(const TProgram& program, TExecResult& r, const TValues& values)
{
    std::string& out = r.out;
    if (!out.empty() && out.back() == '\n')
        out.pop_back();
    const std::string step = out.substr(out.rfind('\n') + 1);
    if (step == "root")
        throw TUError(TCode::root_refused, "Not for root: log in as the game server's account");
    const size_t blank = step.find(' ');
    const std::string name = step.substr(0, blank);
    // A row that names the whole line ("same-dir inside") claims it before
    // the row of its step.
    if (const TStep* row = row_of(program, step))
        throw_row(program, *row, "", values, r.err);
    if (const TStep* row = row_of(program, name))
        throw_row(program, *row, blank == std::string::npos ? "" : step.substr(blank + 1), values,
                  r.err);
    throw TUError(TCode::remote,
                  "Remote script failed with status " + std::to_string(r.status) + ": " +
                      (r.err.empty() ? step : r.err),
                  name.empty() ? "script" : name);
}

void throw_step(const TProgram& program, const std::string& step, const TValues& values,
                const std::string& err)
{
    const TStep* row = row_of(program, step);
    if (!row)
        internal(program, "has no step " + step);
    throw_row(program, *row, "", values, err);
}

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

constexpr TNeed may_be_empty = TNeed::may_be_empty;

}  // namespace

namespace programs {

const TProgram host_kind{"host_kind", TRun::piped, {sh_host_kind}, {}, false, {}};

const TProgram login_uid{"login_uid", TRun::piped, {sh_login_uid}, {}, false,
                         {{"id", "Execute 'id' failed", "", true, TCode::remote, TBy::cxx}}};

const TProgram check_install{
    "check_install", TRun::piped, {sh_check_install}, {{"DIR"}}, false,
    {{"check-install", "BF2 files check failed", "", true, TCode::remote, TBy::cxx}}};

const TProgram create_user{
    "create_user", TRun::piped, {sh_create_user}, {{"NUMBERS"}, {"HASH"}}, false,
    {
        {"system", "Unknown system: ", "", false},
        {"full", "No free user name: bf2, bf, battlefield, battlefield2 and ",
         " tried names bf2_NNNN are taken", false},
        {"useradd", "Create system user '", "' failed", true},
        {"chmod", "Make home of system user '", "' private failed", true, TCode::remote, TBy::computed},
        {"chpasswd", "Set password of system user '", "' failed", true, TCode::remote, TBy::computed},
    }};

const TProgram status{"status", TRun::piped, {sh_running, sh_status}, {{"CFGDIR"}}, false, {}};

const TProgram console{
    "console", TRun::piped, {sh_running, sh_console}, {{"CFGDIR"}, {"LINE", may_be_empty}}, true,
    {
        {"stopped", "Server is not running", "", false, TCode::not_running},
        {"no-pipe", "Server has no console pipe: {CFGDIR}/server-stdin", "", false, TCode::not_running},
        {"unread", "Server does not read its console: {CFGDIR}/server-stdin", "", false,
         TCode::not_running},
    }};

const TProgram log{"log", TRun::piped, {sh_log}, {{"LOG"}, {"LINES"}}, true,
                   {{"not-file", "Not a regular file: {LOG}", "", false}}};

const TProgram install_state{
    "install_state", TRun::piped, {sh_install_state}, {{"T"}}, true,
    {{"no-install", "Not an install directory (no install.sh): {T}", "", false}}};

const TProgram launch_install{
    "launch_install", TRun::piped, {sh_launch_install}, {{"DIR"}, {"SCRIPT"}}, true,
    {
        {"running", "Server running from {DIR}/bf2: stop it first", "", false, TCode::busy},
        {"busy", "Install already running in {DIR}", "", false, TCode::busy},
        {"mktemp", "Make temporary directory in '{DIR}' failed", "", true, TCode::remote, TBy::computed},
        {"copy", "Copy install script failed", "", true, TCode::remote, TBy::computed},
        {"start", "Run install script failed", "", true, TCode::remote, TBy::computed},
    }};

const TProgram install_script{"install_script", TRun::stored, {sh_install_script},
                              {{"DIR", TNeed::from_writer}, {"URL"}, {"SHA256", may_be_empty}},
                              false, {}};

const TProgram prepare_start{
    "prepare_start", TRun::piped, {sh_settings, sh_ports, sh_run_stop, sh_prepare_start},
    {{"SRVDIR"}, {"CFGDIR"}, {"OPTIONS"}, {"PORTS"}, {"START_SCRIPT"}, {"STOP_SCRIPT"}}, true,
    joined({stop_steps,
            {
                {"same-dir", "Configuration directory must not be the server directory", "", false},
                {"same-dir inside", "Configuration directory must not be inside the server directory",
                 "", false},
                {"installing", "Install already running in ", "", false, TCode::busy},
                {"set", "Set option '", "' failed in {CFGDIR}/settings/serversettings.con", true},
                {"test", "Test on exec server failed", "", false},
                {"port", "Port ", " using already other proces", false},
                {"copy-start", "Copy start script failed", "", true},
            }})};

const TProgram start_script{"start_script", TRun::stored, {sh_start_script},
                            {{"SRVDIR"}, {"CFGDIR"}, {"RESTART_ON_CRASH", may_be_empty}}, false, {}};

const TProgram launch_start{
    "launch_start", TRun::terminal, {sh_launch_start}, {{"CFGDIR"}}, false,
    {{"launch", "Start server failed", "", true, TCode::remote, TBy::cxx}}};

const TProgram stop{"stop", TRun::piped, {sh_run_stop, sh_stop}, {{"CFGDIR"}, {"STOP_SCRIPT"}}, true,
                    stop_steps};

const TProgram stop_script{"stop_script", TRun::stored, {sh_stop_script}, {{"CFGDIR"}}, false, {}};

// scp's row takes the words of what it cut short ({cut}): the upload's
// channel before scp took the file, its content after.
const TProgram upload{"upload", TRun::reader, {sh_upload}, {{"TO"}}, true,
                      {
                          {"target", "Unable to open the scp channel", "", true},
                          {"scp", "{cut}", "", true},
                          {"rename", "Failed to copy content", "", true},
                      }};

const TProgram fetch_file{
    "fetch_file", TRun::reader, {sh_fetch_file}, {{"FROM"}}, true,
    {
        {"missing", "No such remote file: {FROM}", "", false},
        {"not-file", "Not a regular remote file: {FROM}", "", false},
        {"unreadable", "Unable to open the remote file {FROM}", "", true},
        {"scp", "{cut}", "", true},
        {"size", "Remote file {FROM} is larger than {max} bytes", "", false, TCode::remote, TBy::cxx},
    }};

const TProgram read_command{"read_command", TRun::command, {sh_read_command}, {{"bf2ctl_command"}},
                            false, {}};

const std::vector<const TProgram*> all = {
    &host_kind,      &login_uid,     &check_install, &create_user,  &status,
    &console,        &log,           &install_state, &launch_install, &install_script,
    &prepare_start,  &start_script,  &launch_start,  &stop,         &stop_script,
    &upload,         &fetch_file,    &read_command,
};

const std::vector<std::string> outside = {"session", "query"};

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

// text with each {NAME} replaced by its value.
std::string filled(const TProgram& program, std::string text, const TValues& values)
{
    for (size_t open; (open = text.find('{')) != std::string::npos;) {
        const size_t close = text.find('}', open);
        const std::string name = text.substr(open + 1, close - open - 1);
        const auto value = values.find(name);
        if (close == std::string::npos || value == values.end())
            internal(program, "has no value for {" + name + "} in a message");
        text.replace(open, close - open + 1, value->second);
    }
    return text;
}

// The command line after the watchdog that ends it, and whatever it
// started that is still its descendant, should the run's connection go.
std::string watched(const std::string& command)
{
    return "/bin/sh -c " + shell_str(code_of(sh_watch)) +
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
                  filled(program, row.text, values) + argument + filled(program, row.after, values) +
                      (row.with_err ? ": " + err : ""),
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
        if (value == values.end() && var.need != TNeed::from_writer)
            internal(program, "lacks its variable " + var.name);
        if (value != values.end())
            own += var.name + "=" + shell_str(value->second) + "\n";
    }
    for (const auto& [name, value] : values)
        if (!std::count_if(program.vars.begin(), program.vars.end(), [&](const TVar& var) {
                return var.name == name && var.need != TNeed::from_writer;
            }))
            internal(program, "has no variable " + name);
    for (const TVar& var : program.vars)
        own += ": \"${" + var.name + (var.need == TNeed::may_be_empty ? "?" : ":?") + "}\"\n";
    for (const char* part : program.parts)
        own += part;
    if (program.run == TRun::command)
        return code_of(own);
    const std::string shared = std::string(sh_ours) + sh_lib;
    if (program.run == TRun::stored)
        return shared + own;
    return shared + "{\n" + (program.refuse_root ? "[ \"$(id -u)\" != 0 ] || fail root\n" : "") + own +
           "\n}" + (program.run == TRun::reader ? "\n" : " </dev/null\n");
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

TCommandLine caller_command(const std::string& command)
{
    return reading(command, false);
}

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
        throw_row(program, *row, blank == std::string::npos ? "" : step.substr(blank + 1), values, r.err);
    throw TUError(TCode::remote, "Remote script failed with status " + std::to_string(r.status) + ": " +
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

#include "commands/remote_script.h"

#include "commands/sh_scripts.h"
#include "remote/error.h"
#include "remote/exec.h"

namespace {

// A program's text without its comment lines: it stands in the process
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

std::string sh_var(const std::string& name, const std::string& value)
{
    return name + "=" + shell_str(value) + "\n";
}

std::string script_text(const std::string& body, bool refuse_root, bool with_input)
{
    return std::string(sh_lib) + sh_ours + sh_var("WATCH", code_of(sh_watch)) + "{\nwatch_run\n" +
           (refuse_root ? "[ \"$(id -u)\" != 0 ] || fail root\n" : "") + body + "\n}" +
           (with_input ? "\n" : " </dev/null\n");
}

std::string watched(const std::string& command)
{
    return "/bin/sh -c " + shell_str(code_of(sh_watch)) +
           " bf2ctl-watchdog $$ </dev/null >/dev/null 2>&1 &\n" + command;
}

std::string command_reader(size_t size)
{
    return "bf2ctl_command=" + std::to_string(size) + "\n" + code_of(sh_read_command);
}

std::string reader_input(const std::string& command)
{
    return command + "x\n";
}

std::string run_script(const std::string& body, bool refuse_root, const TFailures& failures)
{
    TExecResult r = ssh_exec("/bin/sh -s", script_text(body, refuse_root), false);
    if (r.status == 0)
        return r.out;
    throw_step_failure(r, failures);
}

std::string script_reader(const std::string& script)
{
    return "/bin/sh -c " + shell_str(command_reader(script.size()));
}

void throw_step_failure(TExecResult& r, const TFailures& failures)
{
    std::string& out = r.out;
    if (!out.empty() && out.back() == '\n')
        out.pop_back();
    const std::string step = out.substr(out.rfind('\n') + 1);
    if (step == "root")
        throw TUError(TCode::root_refused, "Not for root: log in as the game server's account");
    const size_t blank = step.find(' ');
    const std::string name = step.substr(0, blank);
    const std::string argument = blank == std::string::npos ? "" : step.substr(blank + 1);
    // A row that names the whole line ("same-dir inside") claims it before
    // the row of its step.
    const TStepFailure* row = nullptr;
    for (const TStepFailure& each : failures)
        if (each.step == step || (!row && each.step == name))
            row = &each;
    if (row) {
        const std::string arg = row->step == step ? "" : argument;
        throw TUError(row->code, row->text + arg + row->after + (row->with_err ? ": " + r.err : ""),
                      row->code == TCode::remote ? name : "");
    }
    throw TUError(TCode::remote, "Remote script failed with status " + std::to_string(r.status) + ": " +
                  (r.err.empty() ? step : r.err),
                  name.empty() ? "script" : name);
}

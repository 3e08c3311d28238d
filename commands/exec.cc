#include "commands/exec.h"

#include "commands/output.h"
#include "commands/remote_script.h"
#include "opt/lookup.h"
#include "remote/exec.h"
#include "remote/session.h"

using zelto::opt::req_arg;

bool cmd_exec(zelto::opt::TOParsing parsing)
{
    const std::string command = zelto::opt::value_of(parsing, "cmd");
    std::string input;
    {
        auto in = parsing("input", req_arg);
        if (in.found)
            input = in.entry->second.value;
        parsing.clear();  // "input" is optional
    }
    parsing.end();
    init_ssh_session();
    // The caller wrote this command line for the remote shell: sent as is,
    // with a watchdog ahead of it.
    TExecResult r = ssh_exec(watched(command), input, false);
    print(r.out + r.err + "\n" + std::to_string(r.status) + "\n");
    return true;
}

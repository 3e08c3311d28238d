// bf2ctl: one run, one command, one result line for the control panel.
#include "commands/copy_file.h"
#include "commands/exec.h"
#include "commands/host.h"
#include "commands/install.h"
#include "commands/output.h"
#include "commands/printable.h"
#include "commands/start.h"
#include "commands/status.h"
#include "commands/stop.h"
#include "commands/user.h"
#include "remote/bound.h"
#include "remote/connection.h"
#include "driver/hosting.h"
#include "remote/error.h"
#include "opt/parsing.h"

#include <sys/prctl.h>

#include <csignal>
#include <cstdio>
#include <iterator>

using zelto::opt::TOParsing;

namespace {

// There is no usage text: help only reports success.
bool help(TOParsing)
{
    return true;
}

struct TCommand {
    const char* name;
    bool (*handler)(TOParsing);
    // The command's bound beyond the connection bound when --timeout is not
    // given: its worst honest case.  0: unbounded (the caller's own command,
    // an upload of any size).
    int work_s;
};

// Order is precedence: the first command present on the line runs.  start
// and stop may wait 40 s for the lock, stop ~10 s for a server to go and
// start ~20 s for one to come up.
const TCommand commands[] = {
    {"exec", cmd_exec, 0},
    {"copy-file", copy_file, 0},
    {"check-host", check_host, 30},
    {"check-on-root", check_on_root, 30},
    {"create-user", create_user, 30},
    {"check-install", check_install, 30},
    {"install", install, 30},
    {"start", start, 90},
    {"stop", stop, 90},
    {"status", status, 30},
    {"console", console, 30},
    {"install-status", install_status, 30},
    {"log", show_log, 30},
    {"fingerprint", fingerprint, 30},
    {"help", help, 0},
};

bool run(TOParsing parsing, const TCommand& command)
{
    const int bound = run_timeout ? run_timeout
                      : command.work_s ? ssh_connect_timeout + command.work_s
                                       : 0;
    set_run_bound(bound);
    return command.handler(parsing);
}

// Each probe result stays alive until every later row has been tried, so
// the results are released together, in reverse order, when the recursion
// unwinds.
bool dispatch(TOParsing& parsing, size_t row)
{
    if (row == std::size(commands)) {
        auto h = parsing('h');
        if (h >> help)
            return true;
        parsing.clear();  // an absent -h is no error
        parsing.end();
        return false;
    }
    auto probe = parsing(commands[row].name, zelto::opt::no_arg);
    if (probe.found && run(parsing, commands[row]))
        return true;
    return dispatch(parsing, row + 1);
}

}  // namespace

int main(int argc, char** argv)
{
    // A peer that drops the connection must end in an error line, not a
    // silent death by SIGPIPE.
    std::signal(SIGPIPE, SIG_IGN);
    // Neither a core dump nor another process of the same user may read the
    // password out of this one.
    prctl(PR_SET_DUMPABLE, 0);
    catch_interruptions();

    int status = 0;
    {
        TOParsing parsing(argv, argc);
        try {
            get_hosting(parsing);
            dispatch(parsing, 0);
        } catch (const TUError& e) {
            print(printable(one_line(e.message)) + "\n");
            status = 1;
        } catch (const zelto::TError& e) {
            print(printable(one_line(e.what())) + "\n");
            status = 1;
        } catch (...) {
            print("Undefined error\n");
            status = -1;
        }
        result_printed(status & 0xff);
        close_connection();
    }
    return status;
}

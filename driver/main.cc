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
};

// Order is precedence: the first command present on the line runs.
const TCommand commands[] = {
    {"exec", cmd_exec},
    {"copy-file", copy_file},
    {"check-host", check_host},
    {"check-on-root", check_on_root},
    {"create-user", create_user},
    {"check-install", check_install},
    {"install", install},
    {"start", start},
    {"stop", stop},
    {"status", status},
    {"console", console},
    {"install-status", install_status},
    {"log", show_log},
    {"fingerprint", fingerprint},
    {"help", help},
};

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
    if (probe >> commands[row].handler)
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
        close_connection();
    }
    return status;
}

// bf2ctl: one run, one command, one result line for the control panel.
#include "commands/backup.h"
#include "commands/copy_file.h"
#include "commands/exec.h"
#include "commands/fetch_file.h"
#include "commands/host.h"
#include "commands/install.h"
#include "commands/list_dir.h"
#include "commands/output.h"
#include "commands/query.h"
#include "commands/rcon.h"
#include "commands/secrets.h"
#include "commands/start.h"
#include "commands/status.h"
#include "commands/stop.h"
#include "commands/user.h"
#include "remote/bound.h"
#include "remote/connection.h"
#include "driver/hosting.h"
#include "remote/error.h"
#include "opt/lookup.h"
#include "opt/parsing.h"

#include <sys/prctl.h>

#include <csignal>
#include <cstdlib>
#include <iterator>

using zelto::opt::TOParsing;

namespace {

// For a panel, help only reports success; a person gets the usage text
// (see main) by asking without the connection options.
bool help(TOParsing) { return true; }

constexpr char usage_text[] =
    "Usage: BF2_PASSWD=PASSWORD bf2ctl --address=HOST[:PORT] --login=LOGIN --COMMAND [OPTIONS]\n"
    "Manages a game server on a remote account over SSH; prints one result.\n"
    "\n"
    "Commands:\n"
    "  --exec --cmd=LINE | --cmd-file=FILE [--input=TEXT | --input-file=FILE]\n"
    "         [--max-output=BYTES]   (of the error text, and with --json the output)\n"
    "  --copy-file --from=LOCAL --to=REMOTE\n"
    "  --fetch-file --from=REMOTE --to=LOCAL [--max-size=BYTES]\n"
    "  --check-host   --check-on-root   --create-user\n"
    "  --check-install --dir=DIR        --install --url=URL --dir=DIR\n"
    "  --install-status --dir=TEMPDIR   --start --srv-dir=DIR --cfg-dir=DIR ... "
    "[--restart-on-crash]\n"
    "         [--mod=NAME] [--maps=MAP:MODE:SIZE,...]   (of --start)\n"
    "  --stop --cfg-dir=DIR             --status --cfg-dir=DIR\n"
    "  --restart --cfg-dir=DIR   (stops the server and starts it with its last start's options)\n"
    "  --console --cfg-dir=DIR --line=TEXT\n"
    "  --log --cfg-dir=DIR [--lines=N] [--previous=K]\n"
    "  --query [--port=N]   (only --address needed: asks the game server over UDP)\n"
    "  --fingerprint   (only --address needed: the host key's)\n"
    "  --rcon --cfg-dir=DIR --line=TEXT   --players --cfg-dir=DIR   --say --cfg-dir=DIR "
    "--line=TEXT\n"
    "         [--rcon-port=N] --rcon-password=PASSWORD (or BF2_RCON_PASSWORD)\n"
    "  --backup --dir=DIR --backup-dir=BDIR [--keep=N] [--exclude=GLOB,...]\n"
    "  --list-backups --backup-dir=BDIR   --restore --dir=DIR --backup-dir=BDIR --archive=NAME\n"
    "  --list-dir --dir=DIR   --install-cancel --dir=TEMPDIR\n"
    "\n"
    "Options: --json --connect-timeout=S --timeout=S --host-key=SHA256:...\n"
    "         --known-hosts=FILE --identity=FILE (BF2_KEY_PASSPHRASE)\n"
    "         --secrets-file=FILE   (NAME=VALUE lines: BF2_PASSWD and the other secrets)\n"
    "         --help, -h   --version\n"
    "\n"
    "Every option, result and error: man bf2ctl, or man ./doc/bf2ctl.1 in the source tree.\n";

// Whether the run names a host to work on: without, --help is a person's.
bool has_connection_options(TOParsing& parsing)
{
    const auto& given = parsing.opts().lopts();
    return given.count("address") && given.count("login") &&
           (secret("BF2_PASSWD") || given.count("identity") || given.count("secrets-file"));
}

struct TCommand {
    const char* name;
    bool (*handler)(TOParsing);
    // The command's bound beyond the connection bound when --timeout is not
    // given: its worst honest case.  0: unbounded (the caller's own command,
    // an upload of any size).
    int work_s;
    // Whether it logs in: if not, neither a login nor a password is asked for.
    bool login = true;
};

// Order is precedence: the first command present on the line runs.  start,
// restart and stop may wait 40 s for the lock, stop ~10 s for a server to go and
// start ~20 s for one to come up.
const TCommand commands[] = {
    {"exec", cmd_exec, 0},
    {"copy-file", copy_file, 0},
    {"fetch-file", fetch_file, 0},
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
    {"fingerprint", fingerprint, 30, false},
    {"query", query, 5, false},
    {"rcon", rcon, 30},
    {"players", players, 30},
    {"say", say, 30},
    // A backup or restore of any size runs as long as it takes.
    {"backup", backup, 0},
    {"list-backups", list_backups, 30},
    {"restore", restore, 0},
    {"restart", restart, 90},
    {"list-dir", list_dir, 30},
    {"install-cancel", install_cancel, 30},
    {"help", help, 0},
};

// The row of the command that will run: the first one on the line.
const TCommand* chosen(TOParsing& parsing)
{
    for (const TCommand& command : commands)
        if (parsing.opts().lopts().count(command.name))
            return &command;
    return nullptr;
}

// The run's bound, from the moment its connection options are read.
int bound_of(const TCommand* command)
{
    return run_timeout                  ? run_timeout
           : command && command->work_s ? ssh_connect_timeout + command->work_s
                                        : 0;
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
    if (probe.found && commands[row].handler(parsing))
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
            // Read first: every line the run prints, option errors too,
            // comes in the format asked for.
            start_output(zelto::opt::flag(parsing, "json"));
            if (zelto::opt::flag(parsing, "version")) {
                report(TResult().field("version", BF2_VERSION).text({"bf2ctl " BF2_VERSION "\n"}));
            } else if ((parsing.opts().lopts().count("help") ||
                        parsing.opts().sopts().count('h')) &&
                       !has_connection_options(parsing)) {
                report(TResult().text({usage_text}));
            } else {
                const TCommand* command = chosen(parsing);
                get_hosting(parsing, !command || command->login);
                // The secrets may come from a pipe, read within the bound.
                set_run_bound(bound_of(command));
                get_credentials(parsing, !command || command->login);
                dispatch(parsing, 0);
            }
            end_output();
        } catch (const TUError& e) {
            report_error(e);
            status = 1;
        } catch (const zelto::opt::TOParsing::TPError& e) {
            report_error(TUError(TCode::usage, e.what()).about(e.about()));
            status = 1;
        } catch (const zelto::TError& e) {
            report_error(TUError(TCode::usage, e.what()));
            status = 1;
        } catch (...) {
            report_error(TUError(TCode::internal, "Undefined error"));
            status = -1;
        }
        result_printed(status & 0xff);
        close_connection();
    }
    return status;
}

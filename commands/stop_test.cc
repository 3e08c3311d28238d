// The stop script, run under the local sh on a temporary directory with
// processes that stand in for a server and a start script.
#include "commands/stop.h"

#include "process.h"
#include "remote/shell.h"
#include "standin.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <string>

using namespace fixture;

namespace {

// A process that ignores the terminate signal and whose command line holds
// the word; its pid.
long spawn_holding(const std::string& word)
{
    TProc r = sh("python3 -c 'import signal, time; signal.signal(15, signal.SIG_IGN); "
                 "time.sleep(120)' " +
                 shell_str(word) + " </dev/null >/dev/null 2>&1 & echo $!");
    long pid = std::stol(r.out);
    // Its command line shows the word once python runs.
    wait_until([&] { return proc_cmdline(pid).find(word) != std::string::npos; }, 10);
    return pid;
}

}  // namespace

TEST(StopScript, KillsWhatThePidFilesDescribeAndNothingElse)
{
    TTempDir d;
    const std::string cfg = d.path() + "/c d'x";
    must_sh("mkdir " + shell_str(cfg));
    write_file(cfg + "/stop.sh", get_stop_script(cfg));
    auto stop_with = [&](const std::string& server_pid, const std::string& start_pid) {
        write_file(cfg + "/server.pid", server_pid);
        write_file(cfg + "/start.pid", start_pid);
        TProc r = sh("sh " + shell_str(cfg + "/stop.sh"), "", 60);
        EXPECT_EQ(r.out + r.err, "");
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(must_sh("ls -A " + shell_str(cfg)), "stop.sh\n");
    };

    // Other processes of the account, one even of a neighbouring directory.
    long stranger = spawn_holding("unrelated");
    long neighbour = spawn_holding(cfg + "2/start.sh");
    stop_with(std::to_string(stranger), std::to_string(neighbour));
    // A start script about to end may have emptied its pid file: nothing to
    // signal, nothing printed.
    stop_with("", "");
    EXPECT_TRUE(process_alive(stranger) && process_alive(neighbour));
    kill(static_cast<pid_t>(stranger), SIGKILL);
    kill(static_cast<pid_t>(neighbour), SIGKILL);

    // Ours, deaf to the terminate signal, behind a console pipe nobody
    // reads: the quit is lost and the wait runs out.
    long server = spawn_holding(cfg + "/settings/serversettings.con");
    long start_script = spawn_holding(cfg + "/start.sh");
    must_sh("mkfifo " + shell_str(cfg + "/server-stdin"));
    stop_with(std::to_string(server), std::to_string(start_script));
    EXPECT_TRUE(
        wait_until([&] { return !process_alive(server) && !process_alive(start_script); }, 5));
}

// The stop script, run under the local sh on temporary directories with
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

TProc run_stop(const std::string& cfg)
{
    write_file(cfg + "/stop.sh", get_stop_script(cfg));
    return sh("sh " + shell_str(cfg + "/stop.sh"), "", 60);
}

void expect_clean(const TProc& r)
{
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
}

}  // namespace

TEST(StopScript, FindsNothingToStop)
{
    TTempDir d;
    const std::string cfg = d.path() + "/c d'x";
    must_sh("mkdir " + shell_str(cfg));
    expect_clean(run_stop(cfg));
    EXPECT_EQ(must_sh("cd " + shell_str(cfg) + " && ls -A"), "stop.sh\n");

    // A start script about to end has emptied nothing yet but its pid file
    // may already be empty: nothing to signal, nothing printed.
    write_file(cfg + "/start.pid", "");
    expect_clean(run_stop(cfg));
    EXPECT_EQ(must_sh("cd " + shell_str(cfg) + " && ls -A"), "stop.sh\n");
}

TEST(StopScript, SparesProcessesThatThePidFilesNoLongerDescribe)
{
    TTempDir d;
    const std::string cfg = d.path() + "/c";
    must_sh("mkdir " + shell_str(cfg));
    // Other processes of the account, one even of a neighbouring directory.
    long stranger = spawn_holding("unrelated");
    long neighbour = spawn_holding(cfg + "2/start.sh");
    write_file(cfg + "/server.pid", std::to_string(stranger) + "\n");
    write_file(cfg + "/start.pid", std::to_string(neighbour) + "\n");

    expect_clean(run_stop(cfg));
    EXPECT_TRUE(process_alive(stranger));
    EXPECT_TRUE(process_alive(neighbour));
    EXPECT_EQ(must_sh("cd " + shell_str(cfg) + " && ls -A"), "stop.sh\n");
    kill(static_cast<pid_t>(stranger), SIGKILL);
    kill(static_cast<pid_t>(neighbour), SIGKILL);
}

TEST(StopScript, KillsWhatIgnoresQuitAndTheTerminateSignal)
{
    TTempDir d;
    const std::string cfg = d.path() + "/c d'x";
    must_sh("mkdir " + shell_str(cfg) + " && mkfifo " + shell_str(cfg + "/server-stdin"));
    // A console pipe nobody reads: the quit is lost and the wait runs out.
    long server = spawn_holding(cfg + "/settings/serversettings.con");
    long start_script = spawn_holding(cfg + "/start.sh");
    write_file(cfg + "/server.pid", std::to_string(server) + "\n");
    write_file(cfg + "/start.pid", std::to_string(start_script) + "\n");

    expect_clean(run_stop(cfg));
    EXPECT_TRUE(
        wait_until([&] { return !process_alive(server) && !process_alive(start_script); }, 5));
    EXPECT_EQ(must_sh("cd " + shell_str(cfg) + " && ls -A"), "stop.sh\n");
}

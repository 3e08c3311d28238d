// The start script and the launcher, run under the local sh on temporary
// directories with the stand-in game server.
#include "commands/launcher.h"
#include "commands/stop.h"

#include "process.h"
#include "remote/shell.h"
#include "standin.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <cstdlib>
#include <map>

using namespace fixture;

namespace {

bool exists(const std::string& path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

bool is_fifo(const std::string& path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0 && S_ISFIFO(st.st_mode);
}

// A server and a configuration directory whose names hold a space and a
// single quote, the stand-in installed and the start script in place.
struct TDirs {
    TTempDir base;
    std::string srv = base.path() + "/srv dir'x";
    std::string cfg = base.path() + "/cfg dir'x";

    explicit TDirs(const std::string& flags = "")
    {
        install_standin(srv, "", flags);
        must_sh("mkdir -p " + shell_str(cfg + "/settings"));
        // Port 0: the kernel picks, so parallel runs never collide.
        write_file(cfg + "/settings/serversettings.con", "sv.serverPort 0\nsv.gameSpyPort 0\n");
        write_file(cfg + "/start.sh", get_start_script(srv, cfg));
    }

    // fakes: tools put first in PATH, by name, as sh script bodies.
    TProc launch(const std::map<std::string, std::string>& fakes = {})
    {
        if (fakes.empty())
            return sh(get_launcher(cfg));
        must_sh("mkdir -p " + shell_str(base.path() + "/bin"));
        for (const auto& [name, body] : fakes) {
            write_file(base.path() + "/bin/" + name, "#!/bin/sh\n" + body + "\n");
            must_sh("chmod 755 " + shell_str(base.path() + "/bin/" + name));
        }
        return run_process({"/bin/sh", "-c", get_launcher(cfg)},
                           {{"PATH", base.path() + "/bin:" + std::getenv("PATH")}}, "", 60);
    }

    bool running() const
    {
        return exists(cfg + "/server.pid") && standin_log(cfg).find("bound ") != std::string::npos;
    }

    TProc stop()
    {
        write_file(cfg + "/stop.sh", get_stop_script(cfg));
        return sh("sh " + shell_str(cfg + "/stop.sh"), "", 60);
    }
};

// Every process starts out with a command line that ends in the launched
// name, even a fake nohup, and the launcher checks at once: a grep that never
// matches the launcher's pattern makes its later checks decide.
const char* const never_sees_start_script =
    "[ \"$1\" = '.*start\\.sh.\\?$' ] && exit 1; exec /bin/grep \"$@\"";

void expect_clean(const TProc& r)
{
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
}

}  // namespace

TEST(StartScript, RunsTheServerOnItsConsoleAndTheStopScriptEndsIt)
{
    TDirs d;
    expect_clean(d.launch());
    ASSERT_TRUE(wait_until([&] { return d.running(); }, 10)) << standin_log(d.cfg);

    long start_pid = read_pid(d.cfg + "/start.pid");
    long server_pid = read_pid(d.cfg + "/server.pid");
    using namespace std::string_literals;
    EXPECT_EQ(proc_cmdline(start_pid), "/bin/sh\0"s + d.cfg + "/start.sh\0"s);
    EXPECT_EQ(proc_cmdline(server_pid),
              "/usr/bin/python3\0./standin.py\0+statusMonitor\0001\0+config\0"s + d.cfg +
                  "/settings/serversettings.con\0+mapList\0"s + d.cfg + "/settings/maplist.con\0"s);
    EXPECT_TRUE(is_fifo(d.cfg + "/server-stdin"));

    expect_clean(d.stop());
    EXPECT_EQ(standin_log(d.cfg),
              "args +statusMonitor 1 +config " + d.cfg + "/settings/serversettings.con +mapList " +
                  d.cfg + "/settings/maplist.con\nbound 0 0\nconsole quit\nexit quit\n");
    EXPECT_TRUE(
        wait_until([&] { return !process_alive(start_pid) && !process_alive(server_pid); }, 10));
    for (const char* run_file : {"/start.pid", "/server.pid", "/server-stdin"})
        EXPECT_FALSE(exists(d.cfg + run_file)) << run_file;
    EXPECT_TRUE(exists(d.cfg + "/start.sh"));
    EXPECT_EQ(read_file(d.cfg + "/srderr.log"), "standin up\n");

    // The error log grows across starts.
    expect_clean(d.launch());
    ASSERT_TRUE(wait_until([&] { return d.running(); }, 10));
    expect_clean(d.stop());
    EXPECT_EQ(read_file(d.cfg + "/srderr.log"), "standin up\nstandin up\n");
}

TEST(StartScript, RemovesItsRunFilesWhenTheServerCannotStart)
{
    TDirs d;
    must_sh("rm -r " + shell_str(d.srv));
    expect_clean(sh("sh " + shell_str(d.cfg + "/start.sh") + " 2>/dev/null", "", 30));
    for (const char* run_file : {"/start.pid", "/server.pid", "/server-stdin"})
        EXPECT_FALSE(exists(d.cfg + run_file)) << run_file;
}

TEST(Launcher, SurvivesTheHangUpOfItsTerminalRightAfterReportingSuccess)
{
    // A slow nohup: the launcher already sees ".../start.sh" at the end of
    // its command line, reports success, and the terminal's hang-up hits
    // before nohup has run.
    TDirs d;
    const std::string pid_file = d.base.path() + "/nohup.pid";
    expect_clean(d.launch(
        {{"nohup", "echo $$ >" + shell_str(pid_file) + "; sleep 2; exec /usr/bin/nohup \"$@\""}}));
    ASSERT_TRUE(wait_until([&] { return read_pid(pid_file) > 0; }, 5));
    long nohup_pid = read_pid(pid_file);
    kill(static_cast<pid_t>(nohup_pid), SIGHUP);
    EXPECT_TRUE(wait_until([&] { return d.running(); }, 10)) << standin_log(d.cfg);
    expect_clean(d.stop());
    EXPECT_TRUE(wait_until([&] { return !process_alive(nohup_pid); }, 10));
}

TEST(Launcher, ReportsAStartScriptThatIsGone)
{
    TDirs d;
    TProc r = d.launch({{"nohup", "exit 0"}, {"grep", never_sees_start_script}});
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "Process dead\n");
    EXPECT_EQ(r.status, 1);
}

TEST(Launcher, GivesUpOnAProcessThatNeverShowsTheStartScript)
{
    TDirs d;
    const std::string pid_file = d.base.path() + "/nohup.pid";
    TProc r = d.launch({{"nohup", "echo $$ >" + shell_str(pid_file) + "; exec sleep 60"},
                        {"grep", never_sees_start_script}});
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "Timeout end\n");
    EXPECT_EQ(r.status, 1);
    long pid = read_pid(pid_file);
    ASSERT_GT(pid, 0);
    EXPECT_EQ(proc_cmdline(pid), std::string("sleep\00060\0", 9));
    kill(static_cast<pid_t>(pid), SIGKILL);
}

TEST(Launcher, TextQuotesTheDirectory)
{
    EXPECT_EQ(get_launcher("/c d'e"), "chmod 750 '/c d'\\''e'/start.sh || exit 1\n"
                                      "trap '' 1\n"
                                      "nohup '/c d'\\''e'/start.sh </dev/null >/dev/null 2>&1 &\n"
                                      "PID=`echo $!`\n"
                                      "for s in 1 1 2 2 5 5; do\n"
                                      "[ ! -d /proc/$PID ] && echo 'Process dead' 1>&2 && exit 1\n"
                                      "cat /proc/$PID/cmdline 2>/dev/null | grep "
                                      "'.*start\\.sh.\\?$' >/dev/null 2>&1 && exit 0 || sleep $s\n"
                                      "done\n"
                                      "echo 'Timeout end' 1>&2\n"
                                      "exit 1\n");
    const std::string head =
        "#!/bin/sh\nSRVDIR='/s'\\'''\nCFGDIR='/c d'\necho $$ > \"$CFGDIR/start.pid\" && ";
    EXPECT_EQ(get_start_script("/s'", "/c d").substr(0, head.size()), head);
}

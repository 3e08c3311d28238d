// The life of a game server on the fixture host: start, restart and stop
// through the real binary, with the stand-in game server in a server
// directory of the test account, and the launcher called directly for
// many launches in a row.
#include "commands/launcher.h"
#include "driver/connection.h"
#include "hosts.h"
#include "remote/session.h"
#include "remote/shell.h"
#include "standin.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <map>

using namespace fixture;
using namespace std::string_literals;

namespace {

// Ports of this binary's own: below the kernel's ephemeral range, one block
// of 100 per address block.
int port_base()
{
    const std::string a = net_address(0);  // 127.0.N.0
    return 10000 + 100 * std::atoi(a.c_str() + a.find('.', 4) + 1);
}

// A socket bound to 0.0.0.0:port, and listening for TCP, that holds the
// port until closed; -1 when the port is taken.
int hold_port(int type, int port)
{
    int fd = socket(AF_INET, type | SOCK_CLOEXEC, 0);
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_port = htons(static_cast<uint16_t>(port));
    if (bind(fd, reinterpret_cast<sockaddr*>(&sin), sizeof sin) == 0 &&
        (type == SOCK_DGRAM || listen(fd, 1) == 0))
        return fd;
    close(fd);
    return -1;
}

// Pids of the processes whose command line holds text.
std::vector<long> processes_with(const std::string& text)
{
    std::vector<long> found;
    for (const auto& e : std::filesystem::directory_iterator("/proc")) {
        long pid = std::atol(e.path().filename().c_str());
        if (pid > 0 && process_alive(pid) && proc_cmdline(pid).find(text) != std::string::npos)
            found.push_back(pid);
    }
    return found;
}

// args without the option, then with --name=value unless value is null.
std::vector<std::string> with(std::vector<std::string> args, const std::string& name,
                              const char* value)
{
    std::erase_if(args, [&](const std::string& a) {
        return a == "--" + name || a.starts_with("--" + name + "=");
    });
    if (value)
        args.push_back("--" + name + "=" + value);
    return args;
}

// The settings file as start leaves it, from the values in the order of the
// settings.
std::string settings_file(const std::vector<std::string>& values)
{
    const char* keys[] = {"serverName",        "maxPlayers", "internet",     "bandwidthChoke",
                          "maxConnectionType", "serverIP",   "serverPort",   "gameSpyPort",
                          "timeLimit",         "scoreLimit", "roundsPerMap", "svPunkBuster",
                          "password"};
    std::string text;
    for (size_t i = 0; i < values.size(); ++i)
        text += "\nsv."s + keys[i] + " " + values[i] + "\n";
    return text;
}

// A server directory with the stand-in and a configuration directory with
// its settings directory, both the test account's, in its home.  The names
// hold a space and a single quote.
struct TServer {
    std::string srv, cfg;
    int port;
    std::string bound;  // the stand-in's log line once its ports are bound

    TServer(const std::string& name, int port_slot, const std::string& flags = "")
    {
        const TAccount& user = THosts::get().user;
        srv = user.home() + "/srv " + name + "'s";
        cfg = user.home() + "/cfg " + name + "'s";
        port = port_base() + 10 * port_slot;
        bound = "bound " + std::to_string(port) + " " + std::to_string(port + 1) + "\n";
        must_sh("rm -rf " + shell_str(srv) + " " + shell_str(cfg) + " && mkdir -p " +
                shell_str(cfg + "/settings") + " && chown -R " + user.name() + ": " +
                shell_str(cfg));
        install_standin(srv, user.name(), flags);
    }
    ~TServer()
    {
        // A failed test may leave the server running.
        for (long pid : processes_with(cfg))
            kill(static_cast<pid_t>(pid), SIGKILL);
        sh("rm -rf " + shell_str(srv) + " " + shell_str(cfg));
    }

    // Every option with a value, both flags, in the order of the table.
    std::vector<std::string> all_options() const
    {
        auto p = [&](int offset) { return std::to_string(port + offset); };
        // clang-format off
        return {"--start", "--srv-dir=" + srv, "--cfg-dir=" + cfg, "--name=My 'best' server",
                "--max-players=16", "--server-internet", "--srv-bandwidth=100",
                "--cl-bandwidth=200", "--ip=127.0.0.1", "--port=" + p(0), "--spy-lan-port=" + p(2),
                "--spy-port=" + p(1), "--game-time=30", "--score-lim=250", "--round-num=3",
                "--punk-buster", "--srv-passwd=se cret", "--remote-admin-passwd=admin pw",
                "--rcon-username=rcon user", "--rcon-password=rcon pw", "--rcon-port=" + p(3)};
        // clang-format on
    }

    TProc stop() const { return bf2ctl({"--stop", "--cfg-dir=" + cfg}); }

    // The pid files name the processes as the stop script recognises them,
    // the console pipe is there and the ports are bound.
    bool running() const
    {
        struct stat st;
        return proc_cmdline(read_pid(cfg + "/start.pid")) == "/bin/sh\0"s + cfg + "/start.sh\0"s &&
               proc_cmdline(read_pid(cfg + "/server.pid"))
                       .find("\0"s + cfg + "/settings/serversettings.con\0"s) !=
                   std::string::npos &&
               lstat((cfg + "/server-stdin").c_str(), &st) == 0 && S_ISFIFO(st.st_mode) &&
               standin_log(cfg).ends_with(bound);
    }

    // No process left, no run file.
    bool stopped(
        const std::string& files = "settings\nsrderr.log\nstandin.log\nstart.sh\nstop.sh\n") const
    {
        return processes_with(cfg).empty() && must_sh("ls -A " + shell_str(cfg)) == files;
    }

    std::string settings() const { return read_file(cfg + "/settings/serversettings.con"); }

    std::string log_head() const
    {
        return "args +statusMonitor 1 +config " + cfg + "/settings/serversettings.con +mapList " +
               cfg + "/settings/maplist.con\n" + bound;
    }
};

// The line of output ("" for none) with the status that goes with it, and
// nothing on standard error.
void expect_outcome(const TProc& r, const std::string& line = "")
{
    expect_output(r, line.empty() ? "" : line + "\n", line.empty() ? 0 : 1);
}

}  // namespace

TEST(Lifecycle, StartRestartStop)
{
    TServer s("life", 0);
    TSshd& host = THosts::get().password_host;
    const std::string p = std::to_string(s.port), spy = std::to_string(s.port + 1);
    int sessions = host.sessions();
    // Port "00" is checked like any other; only "0" is not (see below).
    expect_outcome(bf2ctl(with(s.all_options(), "spy-lan-port", "00")));
    const int first_start_sessions = host.sessions() - sessions;
    ASSERT_TRUE(wait_until([&] { return s.running(); }, 10)) << standin_log(s.cfg);
    EXPECT_EQ(s.settings(),
              settings_file({"\"My 'best' server\"", "16", "1", "100", "200", "127.0.0.1", p, spy,
                             "30", "250", "3", "1", "\"se cret\""}));
    long first_server = read_pid(s.cfg + "/server.pid");

    // Again, without flags, with an empty server password and neither remote
    // admin nor rcon, whose port another process holds: the first server
    // quits, a new one runs, the settings change in place.  Two port checks
    // fewer: the rcon port's, and "0" is never checked.
    int rcon_held = hold_port(SOCK_DGRAM, s.port + 3);
    ASSERT_GE(rcon_held, 0);
    sessions = host.sessions();
    expect_outcome(bf2ctl({"--start", "--srv-dir=" + s.srv, "--cfg-dir=" + s.cfg, "--name=Two",
                           "--max-players=8", "--srv-bandwidth=1", "--cl-bandwidth=2",
                           "--ip=10.0.0.1", "--port=" + p, "--spy-lan-port=0", "--spy-port=" + spy,
                           "--game-time=5", "--score-lim=6", "--round-num=7", "--srv-passwd",
                           "--no-remote-admin", "--no-rcon"}));
    EXPECT_EQ(host.sessions() - sessions, first_start_sessions - 2);
    close(rcon_held);
    ASSERT_TRUE(wait_until(
        [&] { return s.running() && read_pid(s.cfg + "/server.pid") != first_server; }, 10))
        << standin_log(s.cfg);
    EXPECT_EQ(s.settings(), settings_file({"\"Two\"", "8", "0", "1", "2", "10.0.0.1", p, spy, "5",
                                           "6", "7", "0", "\"\""}));
    EXPECT_EQ(read_file(s.cfg + "/srderr.log"), "standin up\nstandin up\n");

    // Stopped, then stopped again with nothing running.
    for (int i = 0; i < 2; ++i) {
        expect_outcome(s.stop());
        EXPECT_EQ(standin_log(s.cfg), s.log_head() + "console quit\nexit quit\n" + s.log_head() +
                                          "console quit\nexit quit\n");
        EXPECT_TRUE(wait_until([&] { return s.stopped(); }, 5));
    }
}

TEST(Lifecycle, ServerThatIgnoresQuitIsKilled)
{
    TServer s("deaf", 1, "--ignore-quit");
    expect_outcome(bf2ctl(s.all_options()));
    ASSERT_TRUE(wait_until([&] { return s.running(); }, 10)) << standin_log(s.cfg);
    expect_outcome(s.stop());
    EXPECT_EQ(standin_log(s.cfg),
              s.log_head() + "console quit\nignored quit\nconsole \nexit signal 15\n");
    EXPECT_TRUE(wait_until([&] { return s.stopped(); }, 5));
}

TEST(Lifecycle, ServerThatEndsByItselfLeavesNoRunFiles)
{
    TServer s("short", 2, "--lifetime 3");
    expect_outcome(bf2ctl(s.all_options()));
    EXPECT_TRUE(wait_until([&] { return s.running(); }, 10)) << standin_log(s.cfg);
    EXPECT_TRUE(wait_until([&] { return s.stopped(); }, 10));
    EXPECT_EQ(standin_log(s.cfg), s.log_head() + "exit lifetime\n");
}

TEST(Start, OptionErrorsComeInTableOrderBeforeAnyConnection)
{
    TServer s("opts", 4);
    TSshd& host = THosts::get().password_host;
    const int sessions = host.sessions();
    // One more option wrong at each step, from the end of the table on,
    // every other one missing or empty (srv-passwd may be empty, it falls on
    // missing): the earliest is reported, of the rcon chain too.
    std::vector<std::string> args = s.all_options();
    bool missing = false;
    for (const char* name :
         {"rcon-port", "rcon-password", "rcon-username", "remote-admin-passwd", "srv-passwd",
          "round-num", "spy-port", "port", "ip", "max-players", "name", "cfg-dir", "srv-dir"}) {
        missing = !missing;
        args = with(args, name, missing ? nullptr : "");
        expect_outcome(bf2ctl(args),
                       (missing ? "Requires"s : "Incorrect"s) + " long option '--" + name + "'");
    }
    // Then the end check (a flag with a value is no flag) and the paths.
    const std::vector<std::string> all = s.all_options();
    expect_outcome(bf2ctl(with(all, "punk-buster", "1")), "Unknown option '--punk-buster'");
    expect_outcome(bf2ctl(with(all, "colour", "red")), "Unknown option '--colour'");
    for (const char* dir : {"srv-dir", "cfg-dir"})
        expect_outcome(bf2ctl(with(all, dir, "d")), "Directry/file must be set absolute pathname");
    EXPECT_EQ(host.sessions(), sessions);
}

TEST(Start, EachFailureOnItsRealCause)
{
    TServer s("fail", 5);
    const std::vector<std::string> all = s.all_options();
    const std::string home = THosts::get().user.home();

    expect_outcome(bf2ctl(with(all, "cfg-dir", (home + "/no such").c_str())),
                   "Copy stop script failed: sh: 1: cannot create " + home +
                       "/no such/stop.sh: Directory nonexistent\n");

    must_sh("rmdir " + shell_str(s.cfg + "/settings"));
    expect_outcome(bf2ctl(all), "Set option 'sv.serverName' failed in " + s.cfg +
                                    "/settings/serversettings.con: sh: 1: cannot create " + s.cfg +
                                    "/settings/serversettings.con: Directory nonexistent\n");
    must_sh("mkdir " + shell_str(s.cfg + "/settings") + " && chown " + THosts::get().user.name() +
            ": " + shell_str(s.cfg + "/settings"));

    expect_outcome(bf2ctl(with(all, "srv-dir", s.cfg.c_str())), "Test on exec server failed");
    // The settings were written before the check.
    EXPECT_NE(s.settings().find("sv.password \"se cret\"\n"), std::string::npos);

    // Ports held by other processes, one more each time, from the last
    // checked to the first: the first one checked is reported.  A listening
    // TCP socket counts too.
    std::vector<int> held;
    for (int offset : {3, 1, 2, 0}) {
        held.push_back(hold_port(offset == 2 ? SOCK_STREAM : SOCK_DGRAM, s.port + offset));
        ASSERT_GE(held.back(), 0);
        expect_outcome(bf2ctl(all),
                       "Port " + std::to_string(s.port + offset) + " using already other proces");
    }

    for (int fd : held)
        close(fd);
    must_sh("mkdir " + shell_str(s.cfg + "/start.sh"));
    expect_outcome(bf2ctl(all), "Copy start script failed: sh: 1: cannot create " + s.cfg +
                                    "/start.sh: Is a directory\n");
}

namespace {

// Starts s through the host whose PATH begins with the fake tools, given by
// name as sh scripts.
TProc start_with_fake_tools(const TServer& s, const std::map<std::string, std::string>& tools)
{
    THosts& h = THosts::get();
    for (const auto& [name, script] : tools)
        h.fake_tool(name, script);
    TProc r = run_bf2ctl(with(with(s.all_options(), "address", h.fake_tools_host.address().c_str()),
                              "login", h.user.name().c_str()),
                         h.user.password().c_str());
    must_sh("rm " + h.fake_bin.path() + "/*");
    return r;
}

}  // namespace

TEST(Launcher, ReasonOfAFailedLaunchComesThroughTheTerminal)
{
    TServer s("dead", 6);
    // The fake nohup's own command line ends in ".../start.sh" while it
    // lives: only a grep blind to it makes "Process dead" certain.
    TProc r = start_with_fake_tools(
        s, {{"nohup", "exit 0"},
            {"grep", "[ \"$1\" = '.*start\\.sh.\\?$' ] && exit 1; exec /bin/grep \"$@\""}});
    expect_outcome(r, "Start server failed: Process dead\n");
}

TEST(Launcher, ServerSurvivesTheTerminalClosingRightAfterTheLaunch)
{
    // A slow nohup: the launcher's first check already sees ".../start.sh"
    // ending its command line, and the terminal closes before nohup runs.
    TServer s("hangup", 7);
    expect_outcome(start_with_fake_tools(s, {{"nohup", "sleep 2; exec /usr/bin/nohup \"$@\""}}));
    EXPECT_TRUE(wait_until([&] { return s.running(); }, 10)) << standin_log(s.cfg);
    expect_outcome(s.stop());
    EXPECT_TRUE(wait_until([&] { return s.stopped(); }, 5));
}

TEST(Launcher, ManyLaunchesInARowEachLeaveARunningServer)
{
    signal(SIGPIPE, SIG_IGN);
    THosts& h = THosts::get();
    TServer s("many", 8);
    // Port 0: the kernel picks, so no launch waits for the last one's ports.
    write_file(s.cfg + "/settings/serversettings.con", "sv.serverPort 0\nsv.gameSpyPort 0\n");
    s.bound = "bound 0 0\n";
    ssh_address = h.password_host.address();
    ssh_login = h.user.name();
    ssh_password = h.user.password().c_str();
    init_ssh_session();
    for (int i = 0; i < 20; ++i) {
        SCOPED_TRACE(i);
        start_srv(s.srv, s.cfg);
        // Lost launches die within moments of the terminal closing; a bound
        // server is past that.
        ASSERT_TRUE(wait_until([&] { return s.running(); }, 10));
        // Quit through the console as the stop script does, without its
        // waits.
        sh("echo quit >" + shell_str(s.cfg + "/server-stdin"), "", 10);
        ASSERT_TRUE(wait_until(
            [&] { return s.stopped("settings\nsrderr.log\nstandin.log\nstart.sh\n"); }, 10));
        must_sh("rm " + shell_str(s.cfg + "/standin.log"));
    }
    close_connection();
}

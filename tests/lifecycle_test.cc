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

#include <dirent.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <map>
#include <memory>

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

// Ports of this binary's own: below the kernel's ephemeral range, one block
// of 100 per address block.
int port_base()
{
    const std::string a = net_address(0);
    size_t dot = a.rfind('.');
    size_t before = a.rfind('.', dot - 1);
    return 10000 + 100 * std::atoi(a.substr(before + 1, dot - before - 1).c_str());
}

// A socket bound to 0.0.0.0:port, closed on destruction; fd -1 when the
// port is taken.
struct TSocket {
    int fd;
    TSocket(int type, int port)
    {
        fd = socket(AF_INET, type | SOCK_CLOEXEC, 0);
        sockaddr_in sin{};
        sin.sin_family = AF_INET;
        sin.sin_port = htons(static_cast<uint16_t>(port));
        if (bind(fd, reinterpret_cast<sockaddr*>(&sin), sizeof sin) != 0 ||
            (type == SOCK_STREAM && listen(fd, 1) != 0)) {
            close(fd);
            fd = -1;
        }
    }
    ~TSocket()
    {
        if (fd >= 0)
            close(fd);
    }
};

bool udp_port_taken(int port) { return TSocket(SOCK_DGRAM, port).fd < 0; }

// Pids of the processes whose command line holds text.
std::vector<long> processes_with(const std::string& text)
{
    std::vector<long> found;
    DIR* proc = opendir("/proc");
    while (dirent* e = readdir(proc)) {
        char* end;
        long pid = std::strtol(e->d_name, &end, 10);
        if (*end == '\0' && pid > 0 && process_alive(pid) &&
            proc_cmdline(pid).find(text) != std::string::npos)
            found.push_back(pid);
    }
    closedir(proc);
    return found;
}

double seconds_since(std::chrono::steady_clock::time_point t)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}

// A server directory with the stand-in and a configuration directory with
// its settings directory, both the test account's, in its home.  The names
// hold a space and a single quote.
struct TServer {
    std::string srv, cfg;
    int port;

    TServer(const std::string& name, int port_slot, const std::string& flags = "")
    {
        const TAccount& user = THosts::get().user;
        srv = user.home() + "/srv " + name + "'s";
        cfg = user.home() + "/cfg " + name + "'s";
        port = port_base() + 10 * port_slot;
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

    std::map<std::string, std::string> options() const
    {
        return {
            {"srv-dir", srv},
            {"cfg-dir", cfg},
            {"name", "My 'best' server"},
            {"max-players", "16"},
            {"srv-bandwidth", "100"},
            {"cl-bandwidth", "200"},
            {"ip", "127.0.0.1"},
            {"port", std::to_string(port)},
            {"spy-lan-port", std::to_string(port + 2)},
            {"spy-port", std::to_string(port + 1)},
            {"game-time", "30"},
            {"score-lim", "250"},
            {"round-num", "3"},
            {"srv-passwd", "se cret"},
            {"remote-admin-passwd", "admin pw"},
            {"rcon-username", "rcon user"},
            {"rcon-password", "rcon pw"},
            {"rcon-port", std::to_string(port + 3)},
        };
    }

    // Every option with a value, both flags, in the order of the table.
    std::vector<std::string> all_options() const
    {
        auto o = options();
        std::vector<std::string> args{"--start"};
        for (const char* name : {"srv-dir",
                                 "cfg-dir",
                                 "name",
                                 "max-players",
                                 "server-internet",
                                 "srv-bandwidth",
                                 "cl-bandwidth",
                                 "ip",
                                 "port",
                                 "spy-lan-port",
                                 "spy-port",
                                 "game-time",
                                 "score-lim",
                                 "round-num",
                                 "punk-buster",
                                 "srv-passwd",
                                 "remote-admin-passwd",
                                 "rcon-username",
                                 "rcon-password",
                                 "rcon-port"}) {
            if (o.count(name))
                args.push_back(std::string("--") + name + "=" + o[name]);
            else
                args.push_back(std::string("--") + name);
        }
        return args;
    }

    TProc stop() const { return bf2ctl({"--stop", "--cfg-dir=" + cfg}); }

    bool running() const
    {
        return exists(cfg + "/start.pid") && exists(cfg + "/server.pid") &&
               is_fifo(cfg + "/server-stdin") &&
               standin_log(cfg).ends_with("bound " + std::to_string(port) + " " +
                                          std::to_string(port + 1) + "\n");
    }

    bool stopped() const
    {
        return !exists(cfg + "/start.pid") && !exists(cfg + "/server.pid") &&
               !exists(cfg + "/server-stdin") && processes_with(cfg).empty();
    }

    std::string settings() const { return read_file(cfg + "/settings/serversettings.con"); }

    std::string log_head() const
    {
        return "args +statusMonitor 1 +config " + cfg + "/settings/serversettings.con +mapList " +
               cfg + "/settings/maplist.con\nbound " + std::to_string(port) + " " +
               std::to_string(port + 1) + "\n";
    }
};

void expect_silent_success(const TProc& r)
{
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
}

void expect_failure(const TProc& r, const std::string& line)
{
    EXPECT_EQ(r.out, line + "\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 1);
}

}  // namespace

TEST(Lifecycle, StartRestartStop)
{
    TServer s("life", 0);
    auto t = std::chrono::steady_clock::now();
    expect_silent_success(bf2ctl(s.all_options()));
    testing::Test::RecordProperty("first_start_s", std::to_string(seconds_since(t)));
    ASSERT_TRUE(wait_until([&] { return s.running(); }, 10)) << standin_log(s.cfg);
    EXPECT_TRUE(udp_port_taken(s.port));
    EXPECT_TRUE(udp_port_taken(s.port + 1));
    const std::string p = std::to_string(s.port);
    EXPECT_EQ(s.settings(), "\nsv.serverName \"My 'best' server\"\n"
                            "\nsv.maxPlayers 16\n"
                            "\nsv.internet 1\n"
                            "\nsv.bandwidthChoke 100\n"
                            "\nsv.maxConnectionType 200\n"
                            "\nsv.serverIP 127.0.0.1\n"
                            "\nsv.serverPort " +
                                p +
                                "\n"
                                "\nsv.gameSpyPort " +
                                std::to_string(s.port + 1) +
                                "\n"
                                "\nsv.timeLimit 30\n"
                                "\nsv.scoreLimit 250\n"
                                "\nsv.roundsPerMap 3\n"
                                "\nsv.svPunkBuster 1\n"
                                "\nsv.password \"se cret\"\n");
    long first_start = read_pid(s.cfg + "/start.pid");
    long first_server = read_pid(s.cfg + "/server.pid");

    // Again, with the short forms, no flags and an empty server password:
    // the first server quits, a new one runs, the settings change in place.
    t = std::chrono::steady_clock::now();
    expect_silent_success(bf2ctl(
        {"--start", "--srv-dir=" + s.srv, "--cfg-dir=" + s.cfg, "--name=Two", "--max-players=8",
         "--srv-bandwidth=1", "--cl-bandwidth=2", "--ip=10.0.0.1", "--port=" + p,
         "--spy-lan-port=0", "--spy-port=" + std::to_string(s.port + 1), "--game-time=5",
         "--score-lim=6", "--round-num=7", "--srv-passwd", "--no-remote-admin", "--no-rcon"}));
    testing::Test::RecordProperty("restart_s", std::to_string(seconds_since(t)));
    EXPECT_FALSE(process_alive(first_server));
    EXPECT_TRUE(wait_until([&] { return !process_alive(first_start); }, 5));
    ASSERT_TRUE(wait_until(
        [&] { return s.running() && read_pid(s.cfg + "/server.pid") != first_server; }, 10))
        << standin_log(s.cfg);
    EXPECT_EQ(standin_log(s.cfg), s.log_head() + "console quit\nexit quit\n" + s.log_head());
    EXPECT_EQ(s.settings(), "\nsv.serverName \"Two\"\n"
                            "\nsv.maxPlayers 8\n"
                            "\nsv.internet 0\n"
                            "\nsv.bandwidthChoke 1\n"
                            "\nsv.maxConnectionType 2\n"
                            "\nsv.serverIP 10.0.0.1\n"
                            "\nsv.serverPort " +
                                p +
                                "\n"
                                "\nsv.gameSpyPort " +
                                std::to_string(s.port + 1) +
                                "\n"
                                "\nsv.timeLimit 5\n"
                                "\nsv.scoreLimit 6\n"
                                "\nsv.roundsPerMap 7\n"
                                "\nsv.svPunkBuster 0\n"
                                "\nsv.password \"\"\n");
    EXPECT_EQ(read_file(s.cfg + "/srderr.log"), "standin up\nstandin up\n");

    t = std::chrono::steady_clock::now();
    expect_silent_success(s.stop());
    testing::Test::RecordProperty("stop_quitting_s", std::to_string(seconds_since(t)));
    EXPECT_EQ(standin_log(s.cfg), s.log_head() + "console quit\nexit quit\n" + s.log_head() +
                                      "console quit\nexit quit\n");
    EXPECT_TRUE(wait_until([&] { return s.stopped(); }, 5));
    EXPECT_FALSE(udp_port_taken(s.port));
    EXPECT_EQ(must_sh("cd " + shell_str(s.cfg) + " && ls -A"),
              "settings\nsrderr.log\nstandin.log\nstart.sh\nstop.sh\n");

    t = std::chrono::steady_clock::now();
    expect_silent_success(s.stop());
    testing::Test::RecordProperty("stop_nothing_s", std::to_string(seconds_since(t)));
    EXPECT_TRUE(s.stopped());
}

TEST(Lifecycle, ServerThatIgnoresQuitIsKilled)
{
    TServer s("deaf", 1, "--ignore-quit");
    expect_silent_success(bf2ctl(s.all_options()));
    ASSERT_TRUE(wait_until([&] { return s.running(); }, 10)) << standin_log(s.cfg);
    auto t = std::chrono::steady_clock::now();
    expect_silent_success(s.stop());
    testing::Test::RecordProperty("stop_ignoring_quit_s", std::to_string(seconds_since(t)));
    EXPECT_EQ(standin_log(s.cfg),
              s.log_head() + "console quit\nignored quit\nconsole \nexit signal 15\n");
    EXPECT_TRUE(wait_until([&] { return s.stopped(); }, 5));
}

TEST(Lifecycle, ServerThatEndsByItselfLeavesNoRunFiles)
{
    TServer s("short", 2, "--lifetime 3");
    expect_silent_success(bf2ctl(s.all_options()));
    EXPECT_TRUE(wait_until([&] { return s.running(); }, 10)) << standin_log(s.cfg);
    EXPECT_TRUE(wait_until([&] { return s.stopped(); }, 10));
    EXPECT_EQ(standin_log(s.cfg), s.log_head() + "exit lifetime\n");
    expect_silent_success(s.stop());
    EXPECT_EQ(standin_log(s.cfg), s.log_head() + "exit lifetime\n");
}

TEST(Lifecycle, StopSparesAProcessThatAStalePidFileNames)
{
    TServer s("stale", 3);
    // Another process of the account, where a killed server's pid files
    // still point.
    TProc r = bf2ctl({"--exec", "--cmd=sleep 120 </dev/null >/dev/null 2>&1 & echo $!"});
    ASSERT_EQ(r.status, 0);
    long stranger = std::stol(r.out);
    ASSERT_TRUE(process_alive(stranger));
    write_file(s.cfg + "/server.pid", std::to_string(stranger) + "\n");
    write_file(s.cfg + "/start.pid", std::to_string(stranger) + "\n");
    expect_silent_success(s.stop());
    EXPECT_TRUE(process_alive(stranger));
    EXPECT_FALSE(exists(s.cfg + "/server.pid"));
    EXPECT_FALSE(exists(s.cfg + "/start.pid"));
    kill(static_cast<pid_t>(stranger), SIGKILL);
}

TEST(Start, OptionErrorsComeInTableOrderBeforeAnyConnection)
{
    TServer s("opts", 4);
    const std::vector<std::string> all = s.all_options();
    THosts& h = THosts::get();
    const int sessions = h.password_host.sessions();
    auto without = [&](const std::string& name) {
        std::vector<std::string> args;
        for (const std::string& a : all)
            if (a != "--" + name && !a.starts_with("--" + name + "="))
                args.push_back(a);
        return args;
    };
    for (const char* name :
         {"srv-dir", "cfg-dir", "name", "max-players", "srv-bandwidth", "cl-bandwidth", "ip",
          "port", "spy-lan-port", "spy-port", "game-time", "score-lim", "round-num", "srv-passwd",
          "remote-admin-passwd", "rcon-username", "rcon-password", "rcon-port"}) {
        SCOPED_TRACE(name);
        // Missing, and, when it needs a value, empty.
        expect_failure(bf2ctl(without(name)), std::string("Requires long option '--") + name + "'");
        if (std::string(name) != "srv-passwd") {
            std::vector<std::string> empty = without(name);
            empty.push_back(std::string("--") + name + "=");
            expect_failure(bf2ctl(empty), std::string("Incorrect long option '--") + name + "'");
        }
    }
    // Of a chain, only the first missing option is reported.
    auto two_missing = without("rcon-password");
    std::erase(two_missing, "--rcon-username=rcon user");
    expect_failure(bf2ctl(two_missing), "Requires long option '--rcon-username'");

    // A flag with a value is no flag: the end check rejects it.
    auto flag_value = all;
    std::replace(flag_value.begin(), flag_value.end(), std::string("--punk-buster"),
                 std::string("--punk-buster=1"));
    expect_failure(bf2ctl(flag_value), "Unknown option '--punk-buster'");
    auto unknown = all;
    unknown.push_back("--colour=red");
    expect_failure(bf2ctl(unknown), "Unknown option '--colour'");
    auto relative = all;
    relative[2] = "--cfg-dir=cfg";
    expect_failure(bf2ctl(relative), "Directry/file must be set absolute pathname");
    relative = all;
    relative[1] = "--srv-dir=srv";
    expect_failure(bf2ctl(relative), "Directry/file must be set absolute pathname");

    EXPECT_EQ(h.password_host.sessions(), sessions);
}

TEST(Start, EachFailureOnItsRealCause)
{
    TServer s("fail", 5);
    auto with = [&](const std::string& name, const std::string& value) {
        std::vector<std::string> args = s.all_options();
        for (std::string& a : args)
            if (a.starts_with("--" + name + "="))
                a = "--" + name + "=" + value;
        return args;
    };
    const std::string home = THosts::get().user.home();

    expect_failure(bf2ctl(with("cfg-dir", home + "/no such")),
                   "Copy stop script failed: sh: 1: cannot create " + home +
                       "/no such/stop.sh: Directory nonexistent\n");

    must_sh("rmdir " + shell_str(s.cfg + "/settings"));
    expect_failure(bf2ctl(s.all_options()),
                   "Set option 'sv.serverName' failed in " + s.cfg +
                       "/settings/serversettings.con: sh: 1: cannot create " + s.cfg +
                       "/settings/serversettings.con: Directory nonexistent\n");
    must_sh("mkdir " + shell_str(s.cfg + "/settings") + " && chown " + THosts::get().user.name() +
            ": " + shell_str(s.cfg + "/settings"));

    expect_failure(bf2ctl(with("srv-dir", s.cfg)), "Test on exec server failed");
    // The settings were written before the check.
    EXPECT_NE(s.settings().find("sv.password \"se cret\"\n"), std::string::npos);

    // Ports held by other processes, one more each time, from the last
    // checked to the first: the first one checked is reported.  A listening
    // TCP socket counts too.
    {
        std::vector<std::unique_ptr<TSocket>> held;
        for (int offset : {3, 1, 2, 0}) {
            SCOPED_TRACE(offset);
            held.push_back(
                std::make_unique<TSocket>(offset == 2 ? SOCK_STREAM : SOCK_DGRAM, s.port + offset));
            ASSERT_GE(held.back()->fd, 0);
            expect_failure(bf2ctl(s.all_options()), "Port " + std::to_string(s.port + offset) +
                                                        " using already other proces");
        }
    }
    {
        TSocket rcon_held(SOCK_DGRAM, s.port + 3);
        auto no_rcon = s.all_options();
        std::erase_if(no_rcon, [](const std::string& a) { return a.starts_with("--rcon-"); });
        no_rcon.push_back("--no-rcon");
        expect_silent_success(bf2ctl(no_rcon));
        expect_silent_success(s.stop());
    }

    // "0" is never checked, "00" is: one remote command fewer.
    THosts& h = THosts::get();
    int before = h.password_host.sessions();
    expect_silent_success(bf2ctl(with("spy-lan-port", "00")));
    int checked = h.password_host.sessions() - before;
    before = h.password_host.sessions();
    expect_silent_success(bf2ctl(with("spy-lan-port", "0")));
    EXPECT_EQ(h.password_host.sessions() - before, checked - 1);
    expect_silent_success(s.stop());

    must_sh("rm " + shell_str(s.cfg + "/start.sh") + " && mkdir " + shell_str(s.cfg + "/start.sh"));
    expect_failure(bf2ctl(s.all_options()), "Copy start script failed: sh: 1: cannot create " +
                                                s.cfg + "/start.sh: Is a directory\n");
}

namespace {

TProc start_on_fake_tools_host(const TServer& s)
{
    THosts& h = THosts::get();
    std::vector<std::string> args{"--address=" + h.fake_tools_host.address(),
                                  "--login=" + h.user.name()};
    for (const std::string& a : s.all_options())
        args.push_back(a);
    return run_bf2ctl(args, h.user.password().c_str());
}

}  // namespace

TEST(Launcher, ReasonOfAFailedLaunchComesThroughTheTerminal)
{
    THosts& h = THosts::get();
    TServer s("dead", 6);
    h.fake_tool("nohup", "exit 0");
    // The fake nohup's own command line ends in ".../start.sh" while it
    // lives: only a grep blind to it makes "Process dead" certain.
    h.fake_tool("grep", "[ \"$1\" = '.*start\\.sh.\\?$' ] && exit 1; exec /bin/grep \"$@\"");
    TProc r = start_on_fake_tools_host(s);
    must_sh("rm " + h.fake_bin.path() + "/nohup " + h.fake_bin.path() + "/grep");
    expect_failure(r, "Start server failed: Process dead\n");
}

TEST(Launcher, ServerSurvivesTheTerminalClosingRightAfterTheLaunch)
{
    // A slow nohup: the launcher's first check already sees ".../start.sh"
    // ending its command line, and the terminal closes before nohup runs.
    THosts& h = THosts::get();
    TServer s("hangup", 7);
    h.fake_tool("nohup", "sleep 2; exec /usr/bin/nohup \"$@\"");
    TProc r = start_on_fake_tools_host(s);
    must_sh("rm " + h.fake_bin.path() + "/nohup");
    expect_silent_success(r);
    EXPECT_TRUE(wait_until([&] { return s.running(); }, 10)) << standin_log(s.cfg);
    expect_silent_success(s.stop());
    EXPECT_TRUE(wait_until([&] { return s.stopped(); }, 5));
}

TEST(Launcher, ManyLaunchesInARowEachLeaveARunningServer)
{
    signal(SIGPIPE, SIG_IGN);
    THosts& h = THosts::get();
    TServer s("many", 8);
    // Port 0: the kernel picks, so no launch waits for the last one's ports.
    write_file(s.cfg + "/settings/serversettings.con", "sv.serverPort 0\nsv.gameSpyPort 0\n");
    ssh_address = h.password_host.address();
    ssh_login = h.user.name();
    ssh_password = h.user.password().c_str();
    init_ssh_session();
    const int launches = 40;
    int running = 0;
    for (int i = 0; i < launches; ++i) {
        start_srv(s.srv, s.cfg);
        // Lost launches die within moments of the terminal closing; a bound
        // server is past that.
        if (wait_until(
                [&] {
                    return exists(s.cfg + "/server.pid") &&
                           standin_log(s.cfg).ends_with("bound 0 0\n");
                },
                10))
            ++running;
        long server = read_pid(s.cfg + "/server.pid");
        // Quit through the console as the stop script does, without its
        // waits.
        sh("echo quit >" + shell_str(s.cfg + "/server-stdin"), "", 10);
        wait_until([&] { return s.stopped() && !process_alive(server); }, 10);
        ASSERT_TRUE(s.stopped()) << "launch " << i;
        must_sh("rm -f " + shell_str(s.cfg + "/standin.log"));
    }
    close_connection();
    EXPECT_EQ(running, launches);
}

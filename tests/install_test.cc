// install and check-install through the real binary against the real
// OpenSSH fixture: the detached script runs as the test account with the
// host's own wget, bzip2, gzip, unzip, tar and sh, and downloads packages
// built here from a local HTTP server.
#include "hosts.h"
#include "packages.h"
#include "remote/shell.h"

#include <gtest/gtest.h>

#include <cstdio>

using namespace fixture;

namespace {

TPackageServer& server()
{
    static TPackageServer s(net_address(6), 8080);
    return s;
}

std::string q(const std::string& path) { return shell_str(path); }

// Output and error text of a local sh check, so a failure shows in the
// comparison.
std::string check(const std::string& script)
{
    TProc r = sh(script);
    return r.out + r.err;
}

// `ls -A` or `find .` in dir, sorted.
std::string listing(const std::string& dir, const std::string& how)
{
    return check("cd " + q(dir) + " && " + how + " | LC_ALL=C sort");
}

// The temporary directory that install printed: a fresh mktemp name inside
// dir, where the later checks find what the script left.
std::string printed_temp(const TProc& r, const std::string& dir)
{
    const std::string prefix = "temp dir: '" + dir + "/.bf2_install_";
    std::string temp = r.out.size() == prefix.size() + 8 ? r.out.substr(11, prefix.size() - 5) : "";
    expect_line(r, "temp dir: '" + temp + "'", 0);
    EXPECT_TRUE(r.out.starts_with(prefix)) << r.out;
    return temp;
}

std::string start_install(const std::string& url, const std::string& dir)
{
    return printed_temp(bf2ctl({"--install", "--url=" + url, "--dir=" + dir}), dir);
}

// Once a status file that ends the script is written (60 s at most): the
// files in temp, then every line of the status files and the install log
// as "NAME:LINE".
std::string final_state(const std::string& temp)
{
    return check("cd " + q(temp) + " && for i in $(seq 600); do grep -s '' install_ok.ret " +
                 "download_err.ret extract_err.ret install_err.ret | grep -q . && break; sleep " +
                 "0.1; done; ls -A | LC_ALL=C sort; grep -s '' *.ret install.log");
}

const std::string installed_state =
    "bf2_server\ndownload.log\ndownload_ok.ret\nextract.log\nextract_ok.ret\ninstall.log\n"
    "install.sh\ninstall_ok.ret\ndownload_ok.ret:0\nextract_ok.ret:0\ninstall_ok.ret:0\n";

// The tree in dir/bf2, made runnable, and fixinstall.trace in it shows
// that fixinstall.sh ran.
void expect_tree(const std::string& dir)
{
    EXPECT_EQ(listing(dir + "/bf2", "find ."), installed_tree_listing);
    EXPECT_EQ(check("cd " + q(dir + "/bf2") + " && stat -c %a bf2_lnxded.* fixinstall.sh start.sh"),
              "750\n750\n750\n750\n");
}

// A directory in the account's home, removed again by the test.
struct TRemoteDir {
    std::string path;
    explicit TRemoteDir(const std::string& name) : path(THosts::get().user.home() + "/" + name)
    {
        sh("rm -rf " + q(path));
    }
    ~TRemoteDir() { sh("rm -rf " + q(path)); }
};

}  // namespace

TEST(Install, EachArchiveKindInstallsAndInstallReturnsAtOnce)
{
    TRemoteDir base("kinds");
    // All four run at once: install only starts the script.  The .tar.gz
    // download is held; the Makeself one goes into a directory with a
    // blank, a quote and a newline, under a URL with pattern characters
    // (the header's own command must not run: the tree is exact).
    const std::string run = "server.run?x=*[ab]&y=?";
    const std::pair<std::string, std::string> kinds[] = {{"server.tar.bz2", base.path + "/bz2"},
                                                         {"hold/server.tar.gz", base.path + "/gz"},
                                                         {"server.zip", base.path + "/zip"},
                                                         {run, base.path + "/it's a\nrun dir"}};
    std::vector<std::string> temps;
    for (const auto& [path, dir] : kinds)
        temps.push_back(start_install(server().url(path), dir));
    ASSERT_TRUE(server().wait_held("server.tar.gz"));
    EXPECT_EQ(listing(temps[1], "ls -A"), "bf2_server\ndownload.log\ninstall.sh\n");
    server().release("server.tar.gz");
    for (size_t i = 0; i < temps.size(); ++i) {
        SCOPED_TRACE(kinds[i].first);
        EXPECT_EQ(final_state(temps[i]), installed_state);
        expect_tree(kinds[i].second);
        expect_line(bf2ctl({"--check-install", "--dir=" + kinds[i].second + "/bf2"}), "ok", 0);
    }
    EXPECT_NE(server().requests().find("\"GET /" + run + " HTTP/1.1\" 200"), std::string::npos)
        << server().requests();
    // check-install wants both start.sh and mods/bf2/init.con.
    must_sh("rm " + q(kinds[0].second + "/bf2/start.sh") + " " +
            q(kinds[3].second + "/bf2/mods/bf2/init.con"));
    for (int i : {0, 3})
        expect_line(bf2ctl({"--check-install", "--dir=" + kinds[i].second + "/bf2"}), "failed", 0);
}

TEST(Install, FailuresStopAtTheirStage)
{
    TRemoteDir base("failures");
    const std::string twice = base.path + "/twice", nostatic = base.path + "/nostatic";
    const std::string t_first = start_install(server().url("server.tar.bz2"), twice);
    const std::string t_unknown = start_install(server().url("unknown.bin"), base.path + "/u");
    const std::string t_missing = start_install(server().url("no-such.tar.gz"), base.path + "/m");
    const std::string t_nostatic = start_install(server().url("nostatic.tar.gz"), nostatic);

    EXPECT_EQ(final_state(t_unknown), "bf2_server\ndownload.log\ndownload_ok.ret\nextract.log\n"
                                      "extract_err.ret\ninstall.sh\ndownload_ok.ret:0\n"
                                      "extract_err.ret:-1\n");
    EXPECT_EQ(read_file(t_unknown + "/extract.log"), "Unknown archive type\n");
    // wget's own status for a server error answer.
    EXPECT_EQ(final_state(t_missing),
              "bf2_server\ndownload.log\ndownload_err.ret\ninstall.sh\ndownload_err.ret:8\n");

    // The chmod names a file the package lacks: fixinstall.sh never runs
    // and nothing is moved.
    EXPECT_EQ(final_state(t_nostatic),
              "bf2\nbf2_server\ndownload.log\ndownload_ok.ret\nextract.log\nextract_ok.ret\n"
              "install.log\ninstall.sh\ninstall_err.ret\ndownload_ok.ret:0\nextract_ok.ret:0\n"
              "install_err.ret:1\n");
    EXPECT_EQ(listing(t_nostatic + "/bf2", "ls -A"),
              "bf2_lnxded.dynamic\nfixinstall.sh\nmods\nstart.sh\n");
    expect_line(bf2ctl({"--check-install", "--dir=" + nostatic + "/bf2"}), "failed", 0);

    // A second installation into a directory that holds one fails at the
    // move and leaves its tree where it is.
    EXPECT_EQ(final_state(t_first), installed_state);
    const std::string t_second = start_install(server().url("server.zip"), twice);
    EXPECT_EQ(final_state(t_second),
              "bf2\nbf2_server\ndownload.log\ndownload_ok.ret\nextract.log\nextract_ok.ret\n"
              "install.log\ninstall.sh\ninstall_err.ret\ndownload_ok.ret:0\nextract_ok.ret:0\n"
              "install_err.ret:1\ninstall.log:mv: cannot move '" +
                  t_second + "/bf2' to '" + t_second + "/../bf2': Directory not empty\n");
    expect_tree(t_second);
}

TEST(Install, OptionAndPathErrorsComeInOrder)
{
    THosts& h = THosts::get();
    const std::string url = "--url=" + server().url("server.tar.gz");
    const int sessions = h.password_host.sessions();
    // A missing url comes before anything; a relative path is reported
    // only after the connection (below), but before any remote command.
    const std::pair<std::vector<std::string>, std::string> errors[] = {
        {{"--install"}, "Requires long option '--url'"},
        {{"--install", "--dir=relative"}, "Requires long option '--url'"},
        {{"--install", url}, "Requires long option '--dir'"},
        {{"--install", "--url=", "--dir=/tmp"}, "Incorrect long option '--url'"},
        {{"--install", url, "--dir=/tmp", "--bogus"}, "Unknown option '--bogus'"},
        {{"--install", url, "--dir=relative"}, "Directry/file must be set absolute pathname"},
        {{"--check-install", "--dir=bf2"}, "Directry/file must be set absolute pathname"},
        {{"--check-install"}, "Requires long option '--dir'"},
    };
    for (const auto& [args, line] : errors)
        expect_line(bf2ctl(args), line, 1);
    EXPECT_EQ(h.password_host.sessions(), sessions);
    expect_line(run_bf2ctl({"--address=" + h.dead_address, "--login=" + h.user.name(), "--install",
                            url, "--dir=relative"},
                           h.user.password().c_str()),
                "Failed to connect", 1);
    expect_line(bf2ctl({"--install", url, "--dir=/proc/bf2"}),
                "Make temporary directory in '/proc/bf2' failed: mktemp: failed to create"
                " directory via template '/proc/bf2/.bf2_install_XXXXXX': No such file or"
                " directory\n",
                1);
}

TEST(Install, UnterminatedTempNameAndScriptCopyFailure)
{
    THosts& h = THosts::get();
    TRemoteDir dir("fake tools");
    auto install_with = [&](const std::string& tool, const std::string& script) {
        h.fake_tool(tool, script);
        TProc r =
            run_bf2ctl({"--address=" + h.fake_tools_host.address(), "--login=" + h.user.name(),
                        "--install", "--url=" + server().url("server.tar.gz"), "--dir=" + dir.path},
                       h.user.password().c_str());
        std::remove((h.fake_bin.path() + "/" + tool).c_str());
        return r;
    };
    // Only a newline that ends mktemp's output is cut.
    TProc r = install_with("mktemp", "T=`/usr/bin/mktemp \"$@\"` || exit; printf %s \"$T\"");
    EXPECT_EQ(final_state(printed_temp(r, dir.path)), installed_state);
    expect_line(install_with("cat", "echo 'cat: write error: No space left on device' >&2; exit 1"),
                "Copy install script failed: cat: write error: No space left on device\n", 1);
}

// install and check-install through the real binary against the real
// OpenSSH fixture: the detached script runs as the test account with the
// host's own wget, bzip2, gzip, unzip, tar and sh, and downloads packages
// built here from a local HTTP server.
#include "commands/install.h"
#include "hosts.h"
#include "packages.h"
#include "remote/shell.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <thread>

using namespace fixture;

namespace {

TPackageServer& server()
{
    static TPackageServer s(net_address(6), 8080);
    return s;
}

std::string home() { return THosts::get().user.home(); }

std::string q(const std::string& path) { return shell_str(path); }

bool exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

// Output and error text of a local sh check, so a failure shows in the
// comparison.
std::string check(const std::string& script)
{
    TProc r = sh(script);
    return r.out + r.err;
}

std::string ls(const std::string& dir)
{
    return check("cd " + q(dir) + " && ls -A | LC_ALL=C sort");
}

std::string tree(const std::string& dir)
{
    return check("cd " + q(dir) + " && find . | LC_ALL=C sort");
}

// Runs install and returns the temporary directory it printed, which must
// be a fresh mktemp directory inside dir.
std::string start_install(const std::string& url, const std::string& dir)
{
    TProc r = bf2ctl({"--install", "--url=" + url, "--dir=" + dir});
    const std::string prefix = "temp dir: '" + dir + "/.bf2_install_";
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out.size(), prefix.size() + 6 + 2) << r.out;
    EXPECT_EQ(r.out.substr(0, prefix.size()), prefix) << r.out;
    EXPECT_EQ(r.out.substr(r.out.size() < 2 ? 0 : r.out.size() - 2), "'\n");
    if (r.out.size() < prefix.size() + 2)
        return dir + "/(none)";
    std::string temp = r.out.substr(11, r.out.size() - 13);
    EXPECT_EQ(check("test -d " + q(temp) + " && stat -c %U " + q(temp)),
              THosts::get().user.name() + "\n");
    return temp;
}

// Polls for the status file that ends the script; "" if none within 60 s.
std::string wait_final(const std::string& temp)
{
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < until) {
        for (const char* name :
             {"install_ok.ret", "install_err.ret", "extract_err.ret", "download_err.ret"}) {
            std::string content = read_file(temp + "/" + name);
            if (!content.empty() && content.back() == '\n')
                return name;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ADD_FAILURE() << "the install script in " << temp << " did not finish: " << ls(temp);
    return "";
}

// Expects a finished successful installation of a package from
// make_packages: T in its final state and the tree in dir/bf2.
void expect_installed(const std::string& temp, const std::string& dir)
{
    EXPECT_EQ(wait_final(temp), "install_ok.ret");
    EXPECT_EQ(ls(temp), "bf2_server\ndownload.log\ndownload_ok.ret\nextract.log\nextract_ok.ret\n"
                        "install.log\ninstall.sh\ninstall_ok.ret\n");
    for (const char* name : {"download_ok.ret", "extract_ok.ret", "install_ok.ret"})
        EXPECT_EQ(read_file(temp + "/" + name), "0\n") << name;
    EXPECT_EQ(read_file(temp + "/install.log"), "");
    EXPECT_EQ(tree(dir + "/bf2"), installed_tree_listing);
    EXPECT_EQ(read_file(dir + "/bf2/fixinstall.trace"), "fixinstall ran\n");
    EXPECT_EQ(check("cd " + q(dir + "/bf2") +
                      " && stat -c '%a %U %n' bf2_lnxded.dynamic bf2_lnxded.static fixinstall.sh"
                      " start.sh"),
              "750 " + THosts::get().user.name() + " bf2_lnxded.dynamic\n750 " +
                  THosts::get().user.name() + " bf2_lnxded.static\n750 " +
                  THosts::get().user.name() + " fixinstall.sh\n750 " +
                  THosts::get().user.name() + " start.sh\n");
}

void expect_line(const TProc& r, const std::string& line, int status)
{
    EXPECT_EQ(r.out, line + "\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, status);
}

// A directory in the account's home, removed again by the test.
struct TRemoteDir {
    std::string path;
    explicit TRemoteDir(const std::string& name) : path(home() + "/" + name)
    {
        sh("rm -rf " + q(path));
    }
    ~TRemoteDir() { sh("rm -rf " + q(path)); }
};

}  // namespace

TEST(Install, EachArchiveKindInstallsTheTree)
{
    // All four run at once: install only starts the script.
    const char* packages[] = {"server.tar.bz2", "server.tar.gz", "server.zip", "server.run"};
    std::vector<std::unique_ptr<TRemoteDir>> dirs;
    std::vector<std::string> temps;
    for (const char* package : packages) {
        dirs.push_back(std::make_unique<TRemoteDir>(std::string("kind ") + package));
        temps.push_back(start_install(server().url(package), dirs.back()->path));
    }
    for (size_t i = 0; i < temps.size(); ++i) {
        SCOPED_TRACE(packages[i]);
        expect_installed(temps[i], dirs[i]->path);
        EXPECT_EQ(read_file(temps[i] + "/install.sh"),
                  get_install_script(server().url(packages[i]), temps[i]));
        expect_line(bf2ctl({"--check-install", "--dir=" + dirs[i]->path + "/bf2"}), "ok", 0);
    }
    // The Makeself header's command was cut before the archive ran.
    EXPECT_FALSE(exists(dirs[3]->path + "/bf2/makeself_script_ran"));
}

TEST(Install, ReturnsWhileTheDownloadIsStillRunning)
{
    TRemoteDir dir("held");
    const std::string temp = start_install(server().url("hold/server.tar.gz"), dir.path);
    ASSERT_TRUE(server().wait_held("server.tar.gz"));
    // wget is waiting for the answer: no status file yet.
    EXPECT_EQ(ls(temp), "bf2_server\ndownload.log\ninstall.sh\n");
    EXPECT_EQ(check("stat -c %a " + q(temp + "/install.sh")), "750\n");
    server().release("server.tar.gz");
    expect_installed(temp, dir.path);
}

TEST(Install, BlankQuoteNewlineInDirAndPatternsInUrl)
{
    TRemoteDir dir("it's a\ngame dir");
    const std::string path = "server.run?x=*[ab]&y=?";
    const std::string temp = start_install(server().url(path), dir.path);
    expect_installed(temp, dir.path);
    EXPECT_NE(server().requests().find("GET /" + path + " HTTP/1.1 200\n"), std::string::npos)
        << server().requests();
    expect_line(bf2ctl({"--check-install", "--dir=" + dir.path + "/bf2"}), "ok", 0);
}

TEST(Install, FailuresStopAtTheirStage)
{
    TRemoteDir unknown("unknown"), missing("missing"), nostatic("nostatic"), twice("twice");
    const std::string t_unknown = start_install(server().url("unknown.bin"), unknown.path);
    const std::string t_missing = start_install(server().url("no-such.tar.gz"), missing.path);
    const std::string t_nostatic = start_install(server().url("nostatic.tar.gz"), nostatic.path);
    const std::string t_first = start_install(server().url("server.tar.bz2"), twice.path);

    EXPECT_EQ(wait_final(t_unknown), "extract_err.ret");
    EXPECT_EQ(read_file(t_unknown + "/extract_err.ret"), "-1\n");
    EXPECT_EQ(read_file(t_unknown + "/extract.log"), "Unknown archive type\n");
    EXPECT_EQ(ls(t_unknown),
              "bf2_server\ndownload.log\ndownload_ok.ret\nextract.log\nextract_err.ret\ninstall.sh\n");

    // wget's own status for a server error answer.
    EXPECT_EQ(wait_final(t_missing), "download_err.ret");
    EXPECT_EQ(read_file(t_missing + "/download_err.ret"), "8\n");
    EXPECT_EQ(ls(t_missing), "bf2_server\ndownload.log\ndownload_err.ret\ninstall.sh\n");

    // The chmod names a file the package lacks; fixinstall.sh never runs.
    EXPECT_EQ(wait_final(t_nostatic), "install_err.ret");
    EXPECT_EQ(read_file(t_nostatic + "/install_err.ret"), "1\n");
    EXPECT_EQ(ls(t_nostatic), "bf2\nbf2_server\ndownload.log\ndownload_ok.ret\nextract.log\n"
                              "extract_ok.ret\ninstall.log\ninstall.sh\ninstall_err.ret\n");
    EXPECT_FALSE(exists(t_nostatic + "/bf2/fixinstall.trace"));
    EXPECT_FALSE(exists(nostatic.path + "/bf2"));
    expect_line(bf2ctl({"--check-install", "--dir=" + nostatic.path + "/bf2"}), "failed", 0);

    // A second installation into a directory that holds one fails at the
    // move and leaves both trees where they are.
    expect_installed(t_first, twice.path);
    must_sh("rm " + q(twice.path + "/bf2/fixinstall.trace"));
    const std::string t_second = start_install(server().url("server.zip"), twice.path);
    EXPECT_EQ(wait_final(t_second), "install_err.ret");
    EXPECT_EQ(read_file(t_second + "/install_err.ret"), "1\n");
    EXPECT_EQ(read_file(t_second + "/install.log"),
              "mv: cannot move '" + t_second + "/bf2' to '" + t_second +
                  "/../bf2': Directory not empty\n");
    EXPECT_EQ(tree(t_second + "/bf2"), installed_tree_listing);
    EXPECT_FALSE(exists(twice.path + "/bf2/fixinstall.trace"));
}

TEST(Install, OptionAndPathErrorsComeInOrder)
{
    THosts& h = THosts::get();
    const std::string url = server().url("server.tar.gz");
    expect_line(bf2ctl({"--install"}), "Requires long option '--url'", 1);
    expect_line(bf2ctl({"--install", "--dir=relative"}), "Requires long option '--url'", 1);
    expect_line(bf2ctl({"--install", "--url=" + url}), "Requires long option '--dir'", 1);
    expect_line(bf2ctl({"--install", "--url=", "--dir=/tmp"}), "Incorrect long option '--url'", 1);
    expect_line(bf2ctl({"--install", "--url=" + url, "--dir=/tmp", "--bogus"}),
                "Unknown option '--bogus'", 1);
    // The connection comes before the path check.
    expect_line(run_bf2ctl({"--address=" + h.dead_address, "--login=" + h.user.name(),
                            "--install", "--url=" + url, "--dir=relative"},
                           h.user.password().c_str()),
                "Failed to connect", 1);
    const int sessions = h.password_host.sessions();
    expect_line(bf2ctl({"--install", "--url=" + url, "--dir=relative"}),
                "Directry/file must be set absolute pathname", 1);
    expect_line(bf2ctl({"--check-install", "--dir=bf2"}),
                "Directry/file must be set absolute pathname", 1);
    EXPECT_EQ(h.password_host.sessions(), sessions);  // no remote command ran
    expect_line(bf2ctl({"--check-install"}), "Requires long option '--dir'", 1);

    expect_line(bf2ctl({"--install", "--url=" + url, "--dir=/proc/bf2"}),
                "Make temporary directory in '/proc/bf2' failed: mktemp: failed to create"
                " directory via template '/proc/bf2/.bf2_install_XXXXXX': No such file or"
                " directory\n",
                1);
}

TEST(Install, ScriptCopyFailureAndUnterminatedTempName)
{
    THosts& h = THosts::get();
    TRemoteDir dir("fake tools");
    auto fake = [&](std::vector<std::string> args) {
        args.insert(args.begin(),
                    {"--address=" + h.fake_tools_host.address(), "--login=" + h.user.name()});
        return run_bf2ctl(args, h.user.password().c_str());
    };
    const std::string url = server().url("server.tar.gz");

    h.fake_tool("mktemp", "T=`/usr/bin/mktemp \"$@\"` || exit; printf %s \"$T\"");
    const std::string fake_mktemp = h.fake_bin.path() + "/mktemp";
    TProc r = fake({"--install", "--url=" + url, "--dir=" + dir.path});
    std::remove(fake_mktemp.c_str());
    const std::string prefix = "temp dir: '" + dir.path + "/.bf2_install_";
    ASSERT_EQ(r.out.substr(0, prefix.size()), prefix) << r.out;
    const std::string temp = r.out.substr(11, r.out.size() - 13);
    expect_installed(temp, dir.path);

    h.fake_tool("cat", "echo 'cat: write error: No space left on device' >&2; exit 1");
    r = fake({"--install", "--url=" + url, "--dir=" + dir.path});
    std::remove((h.fake_bin.path() + "/cat").c_str());
    expect_line(r, "Copy install script failed: cat: write error: No space left on device\n", 1);
}

TEST(CheckInstall, OkOnlyWithBothMarkerFiles)
{
    TRemoteDir base("check 'it'");
    const std::string both = base.path + "/both", start = base.path + "/start",
                      init = base.path + "/init";
    must_sh("mkdir -p " + q(both + "/mods/bf2") + " " + q(start) + " " + q(init + "/mods/bf2") +
            " && touch " + q(both + "/start.sh") + " " + q(both + "/mods/bf2/init.con") + " " +
            q(start + "/start.sh") + " " + q(init + "/mods/bf2/init.con") +
            " && chown -R " + THosts::get().user.name() + " " + q(base.path));
    expect_line(bf2ctl({"--check-install", "--dir=" + both}), "ok", 0);
    expect_line(bf2ctl({"--check-install", "--dir=" + start}), "failed", 0);
    expect_line(bf2ctl({"--check-install", "--dir=" + init}), "failed", 0);
    expect_line(bf2ctl({"--check-install", "--dir=" + base.path + "/none"}), "failed", 0);
}

// The SSH layer and the commands built directly on it, run through the
// real binary against real OpenSSH servers.
#include "hosts.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>


using namespace fixture;

namespace {

const char* password() { return THosts::get().user.password().c_str(); }

TProc as_user_at(const std::string& address, std::vector<std::string> args,
                 const char* pw = password())
{
    args.insert(args.begin(), {"--address=" + address, "--login=" + THosts::get().user.name()});
    return run_bf2ctl(args, pw);
}

}  // namespace

TEST(Session, EachFailureIsReportedOnItsRealCause)
{
    THosts& h = THosts::get();
    expect_line(as_user_at("no-such-host.invalid", {"--check-host"}),
                "Failed to get network host entry", 1);
    expect_line(as_user_at(h.dead_address, {"--check-host"}), "Failed to connect", 1);
    expect_line(as_user_at(h.not_ssh_address, {"--check-host"}),
                "Failure establishing SSH session", 1);
    expect_line(as_user_at(h.pubkey_host.address(), {"--check-host"}),
                "Unable to connect to " + h.pubkey_host.address() +
                    ". The server does not support password authentication method. You should"
                    " ask your game hosting account provider to enable password authentication"
                    " method.",
                1);
    expect_line(as_user_at(h.password_host.address(), {"--check-host"}, "wrong password"),
                "Authentication failed", 1);
    expect_line(as_user_at(h.password_host.address(), {"--check-host"}, ""),
                "Authentication failed", 1);
}

TEST(Session, PasswordWithSpaceAndQuoteLogsIn)
{
    TProc r = bf2ctl({"--exec", "--cmd=id -un"});
    expect_output(r, THosts::get().user.name() + "\n\n0\n", 0);
}

TEST(Exec, OutputAndStatusComeBackExactly)
{
    struct Case {
        std::string cmd, printed;
    } cases[] = {
        {"printf abc", "abc\n0\n"},
        {"printf 'abc\\n'; exit 3", "abc\n\n3\n"},
        {"printf 12", "12\n0\n"},
        {"true", "\n0\n"},
        {"exit 255", "\n255\n"},
        {"echo out; echo err >&2; exit 2", "out\nerr\n\n2\n"},
        {"echo 5 >&2", "5\n\n0\n"},  // standard error is never searched for a status
        {"printf 'a\\000b\\n'", std::string("a\0b\n\n0\n", 7)},
        // The shell that would print the status is killed: nothing to read.
        {"echo abc; kill -9 $$", "\n-1\n"},
        {"echo 'it'\\''s $HOME'", "it's $HOME\n\n0\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.cmd);
        TProc r = bf2ctl({"--exec", "--cmd=" + c.cmd});
        expect_output(r, c.printed, 0);
    }
}

TEST(Exec, InputOfAnySizeReachesTheCommandWhole)
{
    // Far above the ~32 KB that one libssh2 write call takes.
    std::string big(100000, 'x');
    for (size_t i = 0; i < big.size(); i += 71)
        big[i] = '\n';
    TProc r = bf2ctl({"--exec", "--cmd=wc -c; echo done", "--input=" + big});
    EXPECT_EQ(r.out, "100000\ndone\n\n0\n");
    TProc echo = bf2ctl({"--exec", "--cmd=cat", "--input=" + big});
    EXPECT_EQ(echo.out, big + "\n0\n");
}

TEST(Exec, LargeStandardErrorBeforeOutputDoesNotHang)
{
    // Reading one stream to its end first would deadlock once the other
    // fills the shared window: the run would hit the harness's time-out.
    TProc r = bf2ctl({"--exec", "--cmd=head -c 200000 /dev/zero | tr '\\000' e >&2; echo done"},
                     60);
    ASSERT_FALSE(r.timed_out) << r.err;
    EXPECT_EQ(r.out, "done\n" + std::string(200000, 'e') + "\n0\n");
    TProc out = bf2ctl({"--exec", "--cmd=head -c 3000000 /dev/zero | tr '\\000' o"});
    EXPECT_EQ(out.out, std::string(3000000, 'o') + "\n0\n");
}

TEST(Exec, OptionErrorsComeBeforeAnyConnection)
{
    THosts& h = THosts::get();
    // The dead address proves it: a connection attempt would print its own error.
    expect_line(as_user_at(h.dead_address, {"--exec"}), "Requires long option '--cmd'", 1);
    expect_line(as_user_at(h.dead_address, {"--exec", "--cmd="}),
                "Incorrect long option '--cmd'", 1);
    expect_line(as_user_at(h.dead_address, {"--exec", "--cmd=true", "--input="}),
                "Unknown option '--input'", 1);
    expect_line(as_user_at(h.dead_address, {"--exec", "--cmd=true"}), "Failed to connect", 1);
}

TEST(HostChecks, VerdictsFollowUname)
{
    THosts& h = THosts::get();
    const std::string host = h.fake_tools_host.address();
    struct Case {
        std::string uname_script, printed;
    } cases[] = {
        {"echo 'Linux box 6.1.0 #1 SMP x86_64 GNU/Linux'", "suitable\n"},
        {"echo 'Linux box 2.6.32 i686 GNU/Linux'", "suitable\n"},
        {"echo 'Linux pi 6.1.0 aarch64 GNU/Linux'",
         "unsuitable\nuname: Linux pi 6.1.0 aarch64 GNU/Linux\n"},
        {"echo 'FreeBSD bsd 13.2-RELEASE i686'", "unsuitable\nuname: FreeBSD bsd 13.2-RELEASE i686\n"},
        {"echo 'uname: not found' >&2; exit 127", "unsuitable\nuname: "},
        {"echo 'Linux box x86_64'; exit 1", "unsuitable\nuname: Linux box x86_64\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.uname_script);
        h.fake_tool("uname", c.uname_script);
        TProc r = as_user_at(host, {"--check-host"});
        expect_output(r, c.printed, 0);
    }
    // And the real host this runs on.
    expect_line(bf2ctl({"--check-host"}), "suitable", 0);
}

TEST(HostChecks, RootIsOnlyAnExactZero)
{
    THosts& h = THosts::get();
    const std::string host = h.fake_tools_host.address();
    expect_line(bf2ctl({"--check-on-root"}), "not root", 0);
    h.fake_tool("id", "echo 0");
    expect_line(as_user_at(host, {"--check-on-root"}), "root", 0);
    h.fake_tool("id", "printf 0");
    expect_line(as_user_at(host, {"--check-on-root"}), "root", 0);
    h.fake_tool("id", "printf '0\\r\\n'");
    expect_line(as_user_at(host, {"--check-on-root"}), "not root", 0);
    h.fake_tool("id", "echo 'id: cannot find name' >&2; exit 1");
    TProc r = as_user_at(host, {"--check-on-root"});
    EXPECT_EQ(r.out, "Execute 'id' failed: id: cannot find name\n\n");
    EXPECT_EQ(r.status, 1);
}

class CopyFile : public testing::Test {
protected:
    TTempDir local;
    std::string remote_dir = THosts::get().user.home() + "/uploads";

    void SetUp() override
    {
        must_sh("rm -rf " + remote_dir + " && mkdir " + remote_dir + " && chown " +
                THosts::get().user.name() + " " + remote_dir);
    }

    // Uploads a file of size bytes and checks it arrives identical, mode 0640.
    void round_trip(size_t size, const std::string& name)
    {
        SCOPED_TRACE(size);
        const std::string from = local.path() + "/src";
        must_sh("head -c " + std::to_string(size) + " /dev/urandom > " + from +
                " && chmod 755 " + from);
        const std::string to = remote_dir + "/" + name;
        TProc r = bf2ctl({"--copy-file", "--from=" + from, "--to=" + to}, 300);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "");
        ASSERT_EQ(r.status, 0);
        EXPECT_TRUE(read_file(from) == read_file(to)) << "contents differ";
        struct stat st;
        ASSERT_EQ(stat(to.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0640u);
        EXPECT_EQ(static_cast<size_t>(st.st_size), size);
    }
};

TEST_F(CopyFile, FilesOfEverySizeArriveIdentical)
{
    for (size_t size : {size_t{0}, size_t{2000}, size_t{2001}, size_t{1048577}})
        round_trip(size, "f");
    round_trip(64 << 20, "big file with 'quote'");
}

TEST_F(CopyFile, RemoteFailuresAreReportedNotLost)
{
    must_sh("echo data > " + local.path() + "/src");
    TProc missing_dir = bf2ctl({"--copy-file", "--from=" + local.path() + "/src",
                                "--to=" + remote_dir + "/no/such/dir/f"});
    EXPECT_EQ(missing_dir.status, 1);
    EXPECT_EQ(missing_dir.out, "Unable to open the scp channel\n");
    EXPECT_EQ(missing_dir.err, "");

    must_sh("head -c 100000 /dev/zero > " + local.path() + "/src");
    TProc full = bf2ctl({"--copy-file", "--from=" + local.path() + "/src", "--to=/dev/full"});
    EXPECT_EQ(full.status, 1);
    EXPECT_EQ(full.out, "Failed to copy content: scp: /dev/full: No space left on device\n");
    EXPECT_EQ(full.err, "");
}

TEST_F(CopyFile, LocalProblemsAndOptionErrors)
{
    THosts& h = THosts::get();
    expect_line(bf2ctl({"--copy-file", "--from=" + local.path() + "/none", "--to=/tmp/x"}),
                "Unable to define file size", 1);
    expect_line(bf2ctl({"--copy-file", "--from=" + local.path(), "--to=" + remote_dir + "/d"}),
                "Failed to read from the file " + local.path(), 1);
    expect_line(as_user_at(h.dead_address, {"--copy-file", "--to=/x"}),
                "Requires long option '--from'", 1);
    expect_line(as_user_at(h.dead_address, {"--copy-file", "--from=/x"}),
                "Requires long option '--to'", 1);
}

TEST(Exec, NoLeakOnSuccessOrFailure)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "this build runs every test under LeakSanitizer instead of valgrind";
#else
    ASSERT_EQ(access("/usr/bin/valgrind", X_OK), 0) << "valgrind is missing: run scripts/test";
    THosts& h = THosts::get();
    const std::vector<std::pair<std::vector<std::string>, std::string>> runs = {
        {{"--address=" + h.password_host.address(), "--exec", "--cmd=echo hi; exit 4"},
         "hi\n\n4\n"},
        {{"--address=" + h.password_host.address(), "--exec", "--cmd=true", "--bogus"},
         "Unknown option '--bogus'\n"},
        {{"--address=" + h.dead_address, "--exec", "--cmd=true"}, "Failed to connect\n"},
        {{"--address=" + h.password_host.address(), "--copy-file", "--from=/etc/hostname",
          "--to=/no/such/dir/x"},
         "Unable to open the scp channel\n"},
    };
    for (const auto& [args, printed] : runs) {
        SCOPED_TRACE(printed);
        std::vector<std::string> argv{"/usr/bin/valgrind", "--quiet", "--leak-check=full",
                                      "--errors-for-leak-kinds=definite,indirect",
                                      "--error-exitcode=99", BF2CTL_PATH,
                                      "--login=" + h.user.name()};
        argv.insert(argv.end(), args.begin(), args.end());
        TProc r = run_process(argv, {{"BF2_PASSWD", h.user.password()}}, "", 300);
        EXPECT_NE(r.status, 99) << r.err;
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.out, printed);
    }
#endif
}

TEST(Exec, AnUnexpectedFailureIsUndefinedErrorWithStatus255)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer reserves more address space than the limit this test sets";
#else
    // Output larger than the address space left makes the text buffer's
    // allocation fail: neither the tool's own error nor an option error.
    THosts& h = THosts::get();
    TProc r = run_process({"/bin/sh", "-c",
                           "ulimit -v 90000; exec \"$0\" \"$@\"", BF2CTL_PATH,
                           "--address=" + h.password_host.address(), "--login=" + h.user.name(),
                           "--exec", "--cmd=head -c 200000000 /dev/zero"},
                          {{"BF2_PASSWD", h.user.password()}});
    expect_output(r, "Undefined error\n", 255);
#endif
}

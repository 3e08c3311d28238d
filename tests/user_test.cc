// create-user against real accounts on this machine.  A uid-0 login of the
// test run's own creates them through the fixture sshd; every account and
// group under the candidate names is removed before and after each test,
// also when it fails.
#include "commands/user.h"
#include "driver/connection.h"
#include "driver/tuerror.h"
#include "hosts.h"
#include "remote/session.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>

#include <cstdio>
#include <map>
#include <regex>

using namespace fixture;

namespace {

// Only these exact names and bf2_ with four digits; never an account of
// uid 0 (pkill -U 0 would hit every root process).
const char* const remove_candidates_sh = R"sh(
names() { getent "$1" | sed -n 's/^\(bf2\|bf\|battlefield2\?\|bf2_[0-9]\{4\}\):.*/\1/p'; }
for name in $(names passwd); do
    uid=$(id -u "$name") || exit
    if [ "$uid" = 0 ]; then echo "refusing to remove $name: uid 0" >&2; exit 1; fi
    pkill -KILL -U "$uid"; userdel -f -r "$name" >/dev/null 2>&1
done
for group in $(names group); do groupdel "$group" || exit; done
test -z "$(names passwd)$(names group)"
)sh";

// A second name for uid 0 with a password drawn per run, so the machine's
// own root account is never touched and a leftover of a crashed run
// cannot be logged into.
TAccount& superuser()
{
    const std::string net = net_address(0);
    static TAccount account("bf2su" + net.substr(6, net.size() - 8), random_password() + " '",
                            true);
    return account;
}

TProc run_as(const std::string& address, const std::string& login, const std::string& password,
             std::vector<std::string> args)
{
    args.insert(args.begin(), {"--address=" + address, "--login=" + login});
    return run_bf2ctl(args, password.c_str());
}

// Standard output, standard error and exit status, to compare at once.
std::string outcome(const TProc& r) { return r.out + "|" + r.err + "|" + std::to_string(r.status); }

// The two lines, byte for byte; returns the login and the password.
std::pair<std::string, std::string> printed(const TProc& r)
{
    std::smatch m;
    const std::string all = outcome(r);
    EXPECT_TRUE(std::regex_match(
        all, m, std::regex("login: \"([^\"\n]*)\"\npassword: \"([0-9A-Za-z]{10})\"\n\\|\\|0")))
        << all;
    return {m[1], m[2]};
}

class CreateUser : public testing::Test {
protected:
    void SetUp() override
    {
        // The candidate names belong to the whole machine: a run of this
        // binary from another build tree waits for ours.
        static const int lock =
            open("/tmp/bf2-create-user-test.lock", O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        ASSERT_EQ(flock(lock, LOCK_EX), 0);
        superuser();
        ASSERT_EQ(remove_candidates(), "");
        ran(h.password_host);
        ran(h.fake_tools_host);
    }
    void TearDown() override
    {
        for (const std::string& tool : fake_tools_)
            std::remove((h.fake_bin.path() + "/" + tool).c_str());
        EXPECT_EQ(remove_candidates(), "");
    }

    static std::string remove_candidates()
    {
        TProc r = sh(remove_candidates_sh);
        return r.status == 0 ? "" : "removing the candidate accounts failed: " + r.out + r.err;
    }

    // Stands in for a tool on the fake-tools host for this test only.
    void fake_tool(const std::string& name, const std::string& script)
    {
        h.fake_tool(name, script);
        fake_tools_.push_back(name);
    }

    // Remote commands run on a host since the last call.
    int ran(const TSshd& host)
    {
        int now = host.sessions(), since = now - seen_[&host];
        seen_[&host] = now;
        return since;
    }

    TProc create_user_as_root()
    {
        return run_as(h.password_host.address(), superuser().name(), superuser().password(),
                      {"--create-user"});
    }

    TProc create_user_on_fake_host()
    {
        return run_as(h.fake_tools_host.address(), h.user.name(), h.user.password(),
                      {"--create-user"});
    }

    THosts& h = THosts::get();

private:
    std::vector<std::string> fake_tools_;
    std::map<const TSshd*, int> seen_;
};

}  // namespace

TEST_F(CreateUser, FreeHostGivesAWorkingBf2Account)
{
    auto [login, password] = printed(create_user_as_root());
    ASSERT_EQ(login, "bf2");
    EXPECT_EQ(ran(h.password_host), 4);  // id, uname -s, groupmod, useradd
    EXPECT_EQ(sh("getent passwd bf2 | cut -d: -f5,6; stat -c %F:%U /home/bf2").out,
              "Zelto's BF2 module:/home/bf2\ndirectory:bf2\n");
    std::string hash = sh("getent shadow bf2 | cut -d: -f2").out;
    EXPECT_TRUE(
        std::regex_match(hash, std::regex(R"(\$6\$[./0-9A-Za-z]{16}\$[./0-9A-Za-z]{86}\n)")))
        << hash;
    // A real login with the printed password.
    TProc r = run_as(h.password_host.address(), login, password, {"--exec", "--cmd=id -un; pwd"});
    EXPECT_EQ(outcome(r), "bf2\n/home/bf2\n\n0\n||0");
}

TEST_F(CreateUser, TakenNamesAreSkippedThenANumberedNameIsTaken)
{
    must_sh("useradd -M bf2 && groupadd bf");
    EXPECT_EQ(printed(create_user_as_root()).first, "battlefield");
    // bf2: id; bf: id, uname -s, groupmod; battlefield: the same; useradd.
    EXPECT_EQ(ran(h.password_host), 8);

    ASSERT_EQ(remove_candidates(), "");
    must_sh("for n in bf2 bf battlefield battlefield2; do useradd -M $n || exit; done");
    std::string login = printed(create_user_as_root()).first;
    EXPECT_TRUE(std::regex_match(login, std::regex("bf2_[1-9][0-9]{3}"))) << login;
    EXPECT_EQ(ran(h.password_host), 4 + 3 + 1);
    EXPECT_EQ(sh("id -un " + login).out, login + "\n");
}

TEST_F(CreateUser, LoginThatMayNotAddUsersGetsUseraddsError)
{
    // An ordinary login has no /usr/sbin in its PATH.
    TProc r = bf2ctl({"--create-user"});
    EXPECT_EQ(outcome(r), "Create system user 'bf2' failed: sh: 1: useradd: not found\n\n||1");
    EXPECT_EQ(ran(h.password_host), 4);
}

TEST_F(CreateUser, UnknownSystemIsReportedOnlyOnceAUserIsFree)
{
    fake_tool("uname", "echo Plan9");
    TProc r = create_user_on_fake_host();
    // The output comes as received, newline and all.
    EXPECT_EQ(outcome(r), "Unknown system: Plan9\n\n||1");
    EXPECT_EQ(ran(h.fake_tools_host), 2);  // id bf2, uname -s

    must_sh("useradd -M bf2");
    fake_tool("uname", "printf Darwin");
    r = create_user_on_fake_host();
    EXPECT_EQ(outcome(r), "Unknown system: Darwin\n||1");
    EXPECT_EQ(ran(h.fake_tools_host), 3);  // id bf2, id bf, uname -s
}

TEST_F(CreateUser, FreeBsdGroupsAreAskedWithPw)
{
    TTempDir logs;
    must_sh("chmod 777 " + logs.path());
    fake_tool("uname", "echo FreeBSD");
    fake_tool("pw", "printf '%s\\n' \"$@\" >>" + logs.path() + "/pw; [ \"$2\" = bf2 ]");
    fake_tool("useradd", "true");
    EXPECT_EQ(printed(create_user_on_fake_host()).first, "bf");
    EXPECT_EQ(read_file(logs.path() + "/pw"), "groupshow\nbf2\ngroupshow\nbf\n");
}

TEST_F(CreateUser, NumberedSearchGivesUpAfterItsBoundWithOneLine)
{
    fake_tool("id", "true");  // every user exists
    ssh_address = h.fake_tools_host.address();
    ssh_login = h.user.name();
    ssh_password = h.user.password().c_str();
    init_ssh_session();
    try {
        find_numbered_name(25);
        ADD_FAILURE() << "found a free name although every user exists";
    } catch (const TUError& e) {
        EXPECT_EQ(e.message, "No free user name: bf2, bf, battlefield, battlefield2 and 25 tried "
                             "names bf2_NNNN are taken");
    }
    close_connection();
    EXPECT_EQ(ran(h.fake_tools_host), 25);
}

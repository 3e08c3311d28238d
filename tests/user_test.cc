// create-user against real accounts on this machine.  A uid-0 login of the
// test run's own creates them through the fixture sshd; every account and
// group a test makes under the candidate names is removed again, also when
// the test fails, and leftovers of a crashed run are removed first.
#include "commands/user.h"
#include "driver/connection.h"
#include "driver/tuerror.h"
#include "hosts.h"
#include "remote/session.h"

#include <crypt.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <regex>
#include <set>

using namespace fixture;

namespace {

[[noreturn]] void die(const std::string& what)
{
    std::fprintf(stderr, "FIXTURE FAILURE: %s\n", what.c_str());
    std::fflush(stderr);
    std::abort();
}

// The candidate names belong to the whole machine: a run of this binary
// from another build tree waits for ours.
void lock_candidate_names()
{
    static const int fd = [] {
        int fd = open("/tmp/bf2-create-user-test.lock", O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd < 0 || flock(fd, LOCK_EX) != 0)
            die("cannot lock /tmp/bf2-create-user-test.lock");
        return fd;
    }();
    (void)fd;
}

// Only these exact names and bf2_ with four digits; never an account of
// uid 0.
const char* const remove_candidates_sh = R"sh(
numbered() { getent "$1" | sed -n 's/^\(bf2_[0-9][0-9][0-9][0-9]\):.*/\1/p'; }
for name in bf2 bf battlefield battlefield2 $(numbered passwd); do
    uid=$(id -u "$name" 2>/dev/null) || continue
    if [ "$uid" = 0 ]; then echo "refusing to remove $name: uid 0" >&2; exit 1; fi
    pkill -KILL -U "$uid" 2>/dev/null
    userdel -f -r "$name" >/dev/null 2>&1
done
for group in bf2 bf battlefield battlefield2 $(numbered group); do
    getent group "$group" >/dev/null && groupdel "$group"
done
for name in bf2 bf battlefield battlefield2; do
    if id "$name" >/dev/null 2>&1 || getent group "$name" >/dev/null; then
        echo "$name is still there" >&2; exit 1
    fi
done
test -z "$(numbered passwd)$(numbered group)"
)sh";

std::string remove_candidates()
{
    TProc r = sh(remove_candidates_sh);
    return r.status == 0 ? "" : "removing the candidate accounts failed: " + r.out + r.err;
}

// A second name for uid 0 with its own home and a password drawn per run,
// so the machine's own root account is never touched and a leftover of a
// crashed run cannot be logged into.  No pkill on removal: by user id it
// would hit every root process.
class TSuperuser {
public:
    TSuperuser()
    {
        std::string net = net_address(0).substr(std::string("127.0.").size());
        name_ = "bf2su" + net.substr(0, net.find('.'));
        password_ = random_password() + " '";
        remove();
        must_sh("useradd -l -o -u 0 -g 0 -m -d /home/" + name_ + " -s /bin/sh " + name_ +
                " 2>/dev/null");
        TProc r = run_process({"/usr/sbin/chpasswd"}, {}, name_ + ":" + password_ + "\n");
        if (r.status != 0)
            die("chpasswd for " + name_ + " failed: " + r.err);
    }
    ~TSuperuser() { remove(); }
    TSuperuser(const TSuperuser&) = delete;
    TSuperuser& operator=(const TSuperuser&) = delete;
    const std::string& name() const { return name_; }
    const std::string& password() const { return password_; }

private:
    void remove()
    {
        if (sh("id " + name_ + " >/dev/null 2>&1").status == 0)
            must_sh("userdel -f -r " + name_ + " >/dev/null 2>&1; ! id " + name_ +
                    " >/dev/null 2>&1");
    }
    std::string name_, password_;
};

TSuperuser& superuser()
{
    static TSuperuser account;
    return account;
}

TProc run_as(const std::string& address, const std::string& login, const std::string& password,
             std::vector<std::string> args)
{
    args.insert(args.begin(), {"--address=" + address, "--login=" + login});
    return run_bf2ctl(args, password.c_str());
}

TProc create_user_as_root()
{
    return run_as(THosts::get().password_host.address(), superuser().name(),
                  superuser().password(), {"--create-user"});
}

struct TNewUser {
    std::string login, password;
};

// The two lines, checked byte for byte once the values are known.
TNewUser printed(const TProc& r)
{
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
    std::smatch m;
    if (!std::regex_match(r.out, m, std::regex("login: \"([^\"\n]*)\"\npassword: \"([^\"\n]*)\"\n"))) {
        ADD_FAILURE() << "unexpected output: " << r.out;
        return {};
    }
    TNewUser user{m[1], m[2]};
    EXPECT_EQ(r.out, "login: \"" + user.login + "\"\npassword: \"" + user.password + "\"\n");
    EXPECT_TRUE(std::regex_match(user.password, std::regex("[0-9A-Za-z]{10}"))) << user.password;
    return user;
}

bool is_sha512_crypt(const std::string& hash)
{
    return std::regex_match(hash, std::regex(R"(\$6\$[./0-9A-Za-z]{16}\$[./0-9A-Za-z]{86})"));
}

// The account as useradd left it, and a real login with the printed password.
void expect_working_account(const TNewUser& user)
{
    ASSERT_FALSE(user.login.empty());
    SCOPED_TRACE("account " + user.login);
    const std::string q = "'" + user.login + "'";
    EXPECT_EQ(sh("getent passwd " + q + " | cut -d: -f5,6").out,
              "Zelto's BF2 module:/home/" + user.login + "\n");
    EXPECT_EQ(sh("stat -c %F:%U /home/" + q).out, "directory:" + user.login + "\n");

    std::string hash = sh("getent shadow " + q + " | cut -d: -f2 | tr -d '\\n'").out;
    EXPECT_TRUE(is_sha512_crypt(hash)) << hash;
    EXPECT_EQ(crypt(user.password.c_str(), hash.c_str()), hash);

    const std::string address = THosts::get().password_host.address();
    TProc r = run_as(address, user.login, user.password, {"--exec", "--cmd=id -un; pwd"});
    EXPECT_EQ(r.out, user.login + "\n/home/" + user.login + "\n\n0\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
}

class CreateUser : public testing::Test {
protected:
    CreateUser()
    {
        lock_candidate_names();
        superuser();
        std::string failure = remove_candidates();
        if (!failure.empty())
            die(failure);
        commands_run(h.password_host);
        commands_run(h.fake_tools_host);
    }
    ~CreateUser() override
    {
        for (const std::string& tool : fake_tools_)
            std::remove((THosts::get().fake_bin.path() + "/" + tool).c_str());
        std::string failure = remove_candidates();
        if (!failure.empty())
            ADD_FAILURE() << failure;
    }

    // Stands in for a tool on the fake-tools host for this test only.
    void fake_tool(const std::string& name, const std::string& script)
    {
        THosts::get().fake_tool(name, script);
        fake_tools_.push_back(name);
    }

    // Commands run on a host since the last call.
    int commands_run(const TSshd& host)
    {
        int now = host.sessions(), ran = now - seen_[&host];
        seen_[&host] = now;
        return ran;
    }

    THosts& h = THosts::get();

private:
    std::vector<std::string> fake_tools_;
    std::map<const TSshd*, int> seen_;
};

}  // namespace

TEST_F(CreateUser, FreeHostGivesBf2AfterThreeQueries)
{
    TNewUser user = printed(create_user_as_root());
    EXPECT_EQ(user.login, "bf2");
    EXPECT_EQ(commands_run(h.password_host), 4);  // id, uname -s, groupmod, useradd
    expect_working_account(user);
    // Every character of the password counts, the last two included.
    TProc r = run_as(h.password_host.address(), user.login, user.password.substr(0, 8) + "__",
                     {"--exec", "--cmd=true"});
    EXPECT_EQ(r.out, "Authentication failed\n");
    EXPECT_EQ(r.status, 1);
}

TEST_F(CreateUser, TakenUserAndTakenGroupAreBothSkipped)
{
    must_sh("useradd -M bf2 && groupadd bf");
    TNewUser user = printed(create_user_as_root());
    EXPECT_EQ(user.login, "battlefield");
    // bf2: id; bf: id, uname -s, groupmod; battlefield: the same; useradd.
    EXPECT_EQ(commands_run(h.password_host), 8);
    expect_working_account(user);
    EXPECT_EQ(sh("id -u bf").status, 1);
}

TEST_F(CreateUser, AllFixedNamesTakenGivesANumberedName)
{
    must_sh("for n in bf2 bf battlefield battlefield2; do useradd -M $n || exit; done");
    TNewUser user = printed(create_user_as_root());
    std::smatch m;
    ASSERT_TRUE(std::regex_match(user.login, m, std::regex("bf2_([0-9]{4})"))) << user.login;
    EXPECT_GE(std::stoi(m[1]), 1000);
    EXPECT_EQ(commands_run(h.password_host), 4 + 3 + 1);
    expect_working_account(user);
}

TEST_F(CreateUser, LoginThatMayNotAddUsersGetsUseraddsError)
{
    // An ordinary login has no /usr/sbin in its PATH.
    TProc r = bf2ctl({"--create-user"});
    EXPECT_EQ(r.out, "Create system user 'bf2' failed: sh: 1: useradd: not found\n\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(commands_run(h.password_host), 4);
    EXPECT_EQ(sh("id bf2").status, 1);
}

TEST_F(CreateUser, UnknownSystemIsReportedOnlyOnceAUserIsFree)
{
    const std::string address = h.fake_tools_host.address();
    fake_tool("uname", "echo Plan9");
    TProc r = run_as(address, h.user.name(), h.user.password(), {"--create-user"});
    // The output comes as received, newline and all.
    EXPECT_EQ(r.out, "Unknown system: Plan9\n\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(commands_run(h.fake_tools_host), 2);  // id bf2, uname -s

    must_sh("useradd -M bf2");
    fake_tool("uname", "printf Darwin");
    r = run_as(address, h.user.name(), h.user.password(), {"--create-user"});
    EXPECT_EQ(r.out, "Unknown system: Darwin\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(commands_run(h.fake_tools_host), 3);  // id bf2, id bf, uname -s
    EXPECT_EQ(sh("id bf").status, 1);
}

TEST_F(CreateUser, FreeBsdIsAskedWithPwAndUseraddGetsTheHash)
{
    TTempDir logs;
    must_sh("chmod 777 " + logs.path());
    fake_tool("uname", "echo FreeBSD");
    fake_tool("pw", "printf '%s\\n' \"$@\" >>" + logs.path() + "/pw; [ \"$2\" = bf2 ]");
    fake_tool("useradd", "printf '%s\\n' \"$@\" >" + logs.path() + "/useradd");
    TNewUser user = printed(run_as(h.fake_tools_host.address(), h.user.name(), h.user.password(),
                                   {"--create-user"}));
    EXPECT_EQ(user.login, "bf");
    EXPECT_EQ(read_file(logs.path() + "/pw"), "groupshow\nbf2\ngroupshow\nbf\n");

    std::string args = read_file(logs.path() + "/useradd");
    const std::string head = "-c\nZelto's BF2 module\n-m\nbf\n-p\n";
    ASSERT_EQ(args.substr(0, head.size()), head);
    std::string hash = args.substr(head.size());
    ASSERT_FALSE(hash.empty());
    EXPECT_EQ(hash.back(), '\n');
    hash.pop_back();
    EXPECT_TRUE(is_sha512_crypt(hash)) << hash;
    EXPECT_EQ(crypt(user.password.c_str(), hash.c_str()), hash);
}

// The numbered search, in-process against the fake-tools host, with a
// bound small enough to reach.
class NumberedSearch : public CreateUser {
protected:
    NumberedSearch() : logs_path(logs.path() + "/id")
    {
        must_sh("chmod 777 " + logs.path());
        ssh_address = h.fake_tools_host.address();
        ssh_login = h.user.name();
        ssh_password = h.user.password().c_str();
        init_ssh_session();
    }
    ~NumberedSearch() override { close_connection(); }

    // The names that id was asked about, checked for form and repeats.
    std::vector<std::string> asked()
    {
        std::vector<std::string> names;
        std::string text = read_file(logs_path);
        for (size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1)
            names.push_back(text.substr(at, end - at));
        std::set<std::string> distinct;
        for (const std::string& name : names) {
            EXPECT_TRUE(std::regex_match(name, std::regex("bf2_[1-9][0-9]{3}"))) << name;
            EXPECT_TRUE(distinct.insert(name).second) << name << " asked twice";
        }
        return names;
    }

    TTempDir logs;
    const std::string logs_path;
};

TEST_F(NumberedSearch, GivesUpAfterItsBoundWithOneLine)
{
    fake_tool("id", "echo \"$1\" >>" + logs_path);
    try {
        find_numbered_name(25);
        ADD_FAILURE() << "found a free name although every user exists";
    } catch (const TUError& e) {
        EXPECT_EQ(e.message,
                  "No free user name: bf2, bf, battlefield, battlefield2 and 25 tried names "
                  "bf2_NNNN are taken");
    }
    EXPECT_EQ(commands_run(h.fake_tools_host), 25);
    EXPECT_EQ(asked().size(), 25u);
}

TEST_F(NumberedSearch, TakesTheFirstFreeName)
{
    // The first three names asked exist, the fourth does not.
    fake_tool("id", "echo \"$1\" >>" + logs_path + "; [ $(wc -l <" + logs_path + ") -le 3 ]");
    fake_tool("uname", "echo Linux");
    fake_tool("groupmod", "exit 6");
    std::string name = find_numbered_name(9000);
    std::vector<std::string> names = asked();
    ASSERT_EQ(names.size(), 4u);
    EXPECT_EQ(name, names[3]);
    EXPECT_EQ(commands_run(h.fake_tools_host), 4 + 2);  // four id, uname -s, groupmod
}

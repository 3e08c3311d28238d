#include "hosts.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace fixture {

namespace {

[[noreturn]] void die(const std::string& what, const std::string& log = "")
{
    std::fprintf(stderr, "FIXTURE FAILURE: %s\n", what.c_str());
    if (!log.empty())
        std::fprintf(stderr, "---- sshd log ----\n%s\n------------------\n", log.c_str());
    std::fflush(stderr);
    std::abort();
}

int test_net()
{
    if (const char* net = std::getenv("BF2_TEST_NET"))
        return std::atoi(net);
    // Run by hand: a block of its own from the binary's name.
    unsigned hash = 5381;
    for (const char* c = program_invocation_short_name; *c; ++c)
        hash = hash * 33 + static_cast<unsigned char>(*c);
    return static_cast<int>(hash % 200 + 20);
}

std::vector<const TSshd*>& live_sshds()
{
    static std::vector<const TSshd*> all;
    return all;
}

bool sees_ssh_banner(const std::string& address)
{
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_port = htons(22);
    inet_pton(AF_INET, address.c_str(), &sin.sin_addr);
    bool ok = false;
    if (connect(fd, reinterpret_cast<sockaddr*>(&sin), sizeof sin) == 0) {
        char banner[4];
        ok = recv(fd, banner, 4, MSG_WAITALL) == 4 && std::memcmp(banner, "SSH-", 4) == 0;
    }
    close(fd);
    return ok;
}

class TLogPrinter : public testing::EmptyTestEventListener {
    void OnTestEnd(const testing::TestInfo& info) override
    {
        if (!info.result()->Failed())
            return;
        for (const TSshd* sshd : live_sshds()) {
            std::string log = sshd->log();
            size_t from = log.size();
            for (int lines = 0; from > 0 && lines <= 25; --from)
                lines += log[from - 1] == '\n';
            std::fprintf(stderr, "---- end of the sshd log of %s (test %s.%s failed) ----\n%s\n",
                         sshd->address().c_str(), info.test_suite_name(), info.name(),
                         log.substr(from).c_str());
        }
    }
};

}  // namespace

std::string net_address(int host)
{
    return "127.0." + std::to_string(test_net()) + "." + std::to_string(host);
}

TAccount::TAccount(std::string name, std::string password, bool superuser)
    : name_(std::move(name)), password_(std::move(password)), home_("/home/" + name_),
      superuser_(superuser)
{
    if (sh("id " + name_ + " >/dev/null 2>&1").status == 0)
        must_sh("userdel -f -r " + name_ + " >/dev/null 2>&1 || userdel -f " + name_);
    // -l: an alias of uid 0 must not reset root's login records.
    must_sh(std::string("useradd -m -s /bin/sh ") + (superuser ? "-l -o -u 0 -g 0 " : "") + name_);
    TProc r = run_process({"/usr/sbin/chpasswd"}, {}, name_ + ":" + password_ + "\n");
    if (r.status != 0)
        die("chpasswd for " + name_ + " failed: " + r.err);
}

TAccount::~TAccount()
{
    // For an alias of uid 0, pkill -u would match every root process.
    if (!superuser_)
        sh("pkill -KILL -u " + name_ + " >/dev/null 2>&1");
    sh("userdel -f -r " + name_ + " >/dev/null 2>&1");
}

TSshd::TSshd(std::string address, bool password_auth, const std::string& extra_config)
    : address_(std::move(address))
{
    const std::string d = dir_.path();
    must_sh("ssh-keygen -q -t ed25519 -N '' -f " + d + "/host_ed25519 && "
            "ssh-keygen -q -t ecdsa -N '' -f " + d + "/host_ecdsa && mkdir -p /run/sshd");
    write_file(d + "/sshd_config",
               "ListenAddress " + address_ + ":22\n"
               "HostKey " + d + "/host_ed25519\n"
               "HostKey " + d + "/host_ecdsa\n"
               "PidFile " + d + "/sshd.pid\n"
               "UsePAM yes\n"
               "PasswordAuthentication " + (password_auth ? "yes" : "no") + "\n"
               "KbdInteractiveAuthentication no\n"
               "PubkeyAuthentication yes\n"
               "PermitRootLogin yes\n"
               "StrictModes no\n"
               "UseDNS no\n"
               "LogLevel VERBOSE\n"
               "MaxStartups 200\n"
               "MaxSessions 200\n"
               "Subsystem sftp internal-sftp\n" + extra_config);

    pid_ = fork();
    if (pid_ < 0)
        die("fork for sshd failed");
    if (pid_ == 0) {
        // Not the test's own output: a pipe held by sshd would keep whoever
        // reads the test's output waiting after the test has ended.
        // Ends with the test binary, however that ends (an abort, a kill).
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        int null = open("/dev/null", O_RDWR);
        dup2(null, 0);
        dup2(null, 1);
        dup2(null, 2);
        std::string cfg = d + "/sshd_config", log = d + "/sshd.log";
        execl("/usr/sbin/sshd", "/usr/sbin/sshd", "-D", "-f", cfg.c_str(), "-E", log.c_str(),
              static_cast<char*>(nullptr));
        _exit(127);
    }

    for (int i = 0; !sees_ssh_banner(address_); ++i) {
        int wstatus;
        if (waitpid(pid_, &wstatus, WNOHANG) == pid_) {
            pid_ = -1;
            die("sshd on " + address_ + " exited at start-up", log());
        }
        if (i == 200)
            die("sshd on " + address_ + " shows no banner after 10 s", log());
        usleep(50000);
    }
    live_sshds().push_back(this);
}

TSshd::~TSshd()
{
    std::erase(live_sshds(), this);
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
}

std::string TSshd::log() const
{
    return read_file(dir_.path() + "/sshd.log");
}

int TSshd::sessions() const
{
    std::string text = log();
    int count = 0;
    for (size_t at = 0; (at = text.find("Starting session:", at)) != std::string::npos; ++at)
        ++count;
    return count;
}

TNotSshListener::TNotSshListener(std::string address)
{
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_port = htons(22);
    inet_pton(AF_INET, address.c_str(), &sin.sin_addr);
    if (bind(fd_, reinterpret_cast<sockaddr*>(&sin), sizeof sin) != 0 || listen(fd_, 16) != 0)
        die("bind/listen on " + address + ":22 failed: " + std::strerror(errno));
    thread_ = std::thread([fd = fd_] {
        for (;;) {
            int client = accept4(fd, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0)
                return;
            static const char reply[] = "HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\n\r\n";
            send(client, reply, sizeof reply - 1, MSG_NOSIGNAL);
            close(client);
        }
    });
}

TNotSshListener::~TNotSshListener()
{
    shutdown(fd_, SHUT_RDWR);
    thread_.join();
    close(fd_);
}

THosts::THosts()
    : user("bf2t" + std::to_string(test_net()), "se cret'pw"),
      password_host(net_address(1), true),
      pubkey_host(net_address(2), false),
      not_ssh(net_address(3)),
      not_ssh_address(net_address(3)),
      dead_address(net_address(4)),
      fake_tools_host(net_address(5), true,
                      "ForceCommand PATH=" + fake_bin.path() +
                          ":$PATH; export PATH; exec /bin/sh -c \"$SSH_ORIGINAL_COMMAND\"\n")
{
    must_sh("chmod 755 " + fake_bin.path());
    testing::UnitTest::GetInstance()->listeners().Append(new TLogPrinter);
}

void THosts::fake_tool(const std::string& name, const std::string& script)
{
    const std::string path = fake_bin.path() + "/" + name;
    write_file(path, "#!/bin/sh\n" + script + "\n");
    must_sh("chmod 755 " + path);
}

THosts& THosts::get()
{
    if (geteuid() != 0)
        die("the integration tests must run as root (they start sshd on port 22 and add accounts)");
    for (const char* tool : {"/usr/sbin/sshd", "/usr/bin/ssh-keygen", "/usr/sbin/useradd",
                             "/usr/sbin/chpasswd"})
        if (access(tool, X_OK) != 0)
            die(std::string("missing prerequisite ") + tool + " (run scripts/test to install it)");
    static THosts hosts;
    return hosts;
}

void expect_output(const TProc& r, const std::string& out, int status)
{
    EXPECT_EQ(r.out, out);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, status);
}

void expect_line(const TProc& r, const std::string& line, int status)
{
    expect_output(r, line + "\n", status);
}

TProc run_bf2ctl(const std::vector<std::string>& args, const char* password, int timeout_s)
{
    std::vector<std::string> argv{BF2CTL_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    std::optional<std::string> pw;
    if (password)
        pw = password;
    return run_process(argv, {{"BF2_PASSWD", pw}}, "", timeout_s);
}

TProc bf2ctl(const std::vector<std::string>& args, int timeout_s)
{
    THosts& hosts = THosts::get();
    std::vector<std::string> full{"--address=" + hosts.password_host.address(),
                                  "--login=" + hosts.user.name()};
    full.insert(full.end(), args.begin(), args.end());
    return run_bf2ctl(full, hosts.user.password().c_str(), timeout_s);
}

}  // namespace fixture

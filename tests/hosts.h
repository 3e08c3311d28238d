// Fixture hosts for the integration tests: real OpenSSH servers on port 22
// of this binary's own loopback addresses, a real account with a password,
// a listener that is not SSH, and an address where nothing listens.
#pragma once

#include "process.h"

#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace fixture {

// 127.0.N.host, N being this test binary's own block.
std::string net_address(int host);

// A local account with a password, made for the test run and removed
// (with its home) on destruction.  A leftover of a crashed run is
// recreated.
class TAccount {
public:
    TAccount(std::string name, std::string password, bool superuser = false);
    ~TAccount();
    TAccount(const TAccount&) = delete;
    TAccount& operator=(const TAccount&) = delete;
    const std::string& name() const { return name_; }
    const std::string& password() const { return password_; }
    const std::string& home() const { return home_; }

private:
    std::string name_, password_, home_;
    bool superuser_;
};

// One sshd with generated ed25519/ECDSA host keys, its own config, pid file
// and log, bound to address:22.  Stopped by its pid.
class TSshd {
public:
    TSshd(std::string address, bool password_auth, const std::string& extra_config = "");
    ~TSshd();
    TSshd(const TSshd&) = delete;
    TSshd& operator=(const TSshd&) = delete;
    const std::string& address() const { return address_; }
    std::string log() const;
    // Number of remote commands run so far ("Starting session:" lines).
    int sessions() const;

private:
    std::string address_;
    TTempDir dir_;
    pid_t pid_ = -1;
};

// Accepts on address:22 and answers every connection with an HTTP error.
class TNotSshListener {
public:
    explicit TNotSshListener(std::string address);
    ~TNotSshListener();
    TNotSshListener(const TNotSshListener&) = delete;
    TNotSshListener& operator=(const TNotSshListener&) = delete;

private:
    int fd_ = -1;
    std::thread thread_;
};

// The hosts shared by every test of one binary, started on first use.
class THosts {
public:
    static THosts& get();
    TAccount user;            // password holds a space and a single quote
    TSshd password_host;      // password authentication
    TSshd pubkey_host;        // public-key authentication only
    TNotSshListener not_ssh;  // speaks HTTP on port 22
    std::string not_ssh_address;
    std::string dead_address;  // nothing listens here
    // Runs every command with fake_bin first in PATH, so tests can stand
    // in for uname, id and the like.
    TTempDir fake_bin;
    TSshd fake_tools_host;
    // Puts an executable sh script called name into fake_bin.
    void fake_tool(const std::string& name, const std::string& script);

private:
    THosts();
};

// Runs the tool.  password nullptr leaves BF2_PASSWD unset.
TProc run_bf2ctl(const std::vector<std::string>& args, const char* password,
                 int timeout_s = 120);

// The tool's contract with its caller: exactly out on standard output,
// nothing on standard error, and the exit status.
void expect_output(const TProc& r, const std::string& out, int status);
// The same for one line of output.
void expect_line(const TProc& r, const std::string& line, int status);

// Runs the tool as the test account against the password host.
TProc bf2ctl(const std::vector<std::string>& args, int timeout_s = 120);


}  // namespace fixture

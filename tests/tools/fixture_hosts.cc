// Brings up the test fixture hosts outside a test run, for the demo and the
// benchmarks: prints their parameters as sh assignments, then keeps them
// up until its standard input closes or it is told to stop.
#include "hosts.h"

#include <signal.h>
#include <unistd.h>

#include <cstdio>

namespace {

volatile sig_atomic_t stop_requested = 0;

void on_signal(int) { stop_requested = 1; }

std::string sh_quote(const std::string& value)
{
    std::string quoted = "'";
    for (char c : value)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

}  // namespace

int main()
{
    fixture::THosts& hosts = fixture::THosts::get();
    std::printf("BF2_HOST=%s\nBF2_LOGIN=%s\nBF2_PASSWD=%s\nBF2_HOME=%s\n",
                sh_quote(hosts.password_host.address()).c_str(),
                sh_quote(hosts.user.name()).c_str(), sh_quote(hosts.user.password()).c_str(),
                sh_quote(hosts.user.home()).c_str());
    std::fflush(stdout);

    struct sigaction action {};
    action.sa_handler = on_signal;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    char c;
    while (!stop_requested && read(0, &c, 1) > 0) {
    }
    // Returning runs the destructors that stop sshd and remove the account.
    return 0;
}

// Brings up the test fixture hosts outside a test run, for the demo and the
// benchmarks: prints their parameters as sh assignments, then keeps them
// up until its standard input closes or it is told to stop.
//   --game-package  also serve, over HTTP, a game server package whose
//                   start.sh runs the tests' stand-in game server.
#include "hosts.h"
#include "packages.h"
#include "standin.h"

#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>

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

void print_var(const char* name, const std::string& value)
{
    std::printf("%s=%s\n", name, sh_quote(value).c_str());
}

}  // namespace

int main(int argc, char** argv)
{
    bool game_package = argc > 1 && std::strcmp(argv[1], "--game-package") == 0;
    fixture::THosts& hosts = fixture::THosts::get();
    print_var("BF2_HOST", hosts.password_host.address());
    print_var("BF2_LOGIN", hosts.user.name());
    print_var("BF2_PASSWD", hosts.user.password());
    print_var("BF2_HOME", hosts.user.home());

    std::unique_ptr<fixture::TPackageServer> packages;
    fixture::TTempDir build;
    if (game_package) {
        packages = std::make_unique<fixture::TPackageServer>(fixture::net_address(6), 8080);
        fixture::make_server_tree(build.path());
        fixture::install_standin(build.path() + "/bf2", "");
        fixture::must_sh("cd " + sh_quote(build.path()) + " && tar -czf bf2-server.tar.gz bf2");
        packages->add_file("bf2-server.tar.gz", build.path() + "/bf2-server.tar.gz");
        print_var("BF2_PACKAGE_URL", packages->url("bf2-server.tar.gz"));
    }
    std::printf("BF2_FIXTURE_READY=1\n");
    std::fflush(stdout);

    struct sigaction action {};
    action.sa_handler = on_signal;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    char c;
    while (!stop_requested && read(0, &c, 1) > 0) {
    }
    // Returning runs the destructors that stop the servers and remove the account.
    return 0;
}

// The entry point as the control panel sees it: one line on standard
// output, nothing on standard error, and the exit status.
#include "hosts.h"

#include <gtest/gtest.h>

using namespace fixture;

namespace {

// Nothing may connect in these tests: the address is one where nothing
// listens, so a connection attempt would show up as "Failed to connect".
std::vector<std::string> with_host(std::vector<std::string> args)
{
    args.insert(args.begin(), {"--address=" + net_address(4), "--login=nobody"});
    return args;
}

}  // namespace

TEST(Driver, ConnectionParametersAreRequiredInOrder)
{
    expect_output(run_bf2ctl({}, "pw"), "Requires long option '--address'\n", 1);
    expect_output(run_bf2ctl({}, nullptr), "Requires long option '--address'\n", 1);
    expect_output(run_bf2ctl({"--login=x"}, "pw"), "Requires long option '--address'\n", 1);
    expect_output(run_bf2ctl({"--address=h"}, "pw"), "Requires long option '--login'\n", 1);
    expect_output(run_bf2ctl({"--address=", "--login=x"}, "pw"),
               "Incorrect long option '--address'\n", 1);
    expect_output(run_bf2ctl({"--address=h", "--login"}, "pw"),
               "Incorrect long option '--login'\n", 1);
    expect_output(run_bf2ctl(with_host({"--help"}), nullptr), "Password is not set\n", 1);
    expect_output(run_bf2ctl(with_host({}), nullptr), "Password is not set\n", 1);
    // An empty password is a password.
    expect_output(run_bf2ctl(with_host({}), ""), "", 0);
}

TEST(Driver, HelpAndNoCommandSucceedSilently)
{
    expect_output(run_bf2ctl(with_host({}), "pw"), "", 0);
    expect_output(run_bf2ctl(with_host({"--help"}), "pw"), "", 0);
    expect_output(run_bf2ctl(with_host({"-h"}), "pw"), "", 0);
    // help reads no options, so nothing else is checked.
    expect_output(run_bf2ctl(with_host({"--help", "--bogus"}), "pw"), "", 0);
    expect_output(run_bf2ctl(with_host({"-hv"}), "pw"), "", 0);
    // Plain words are no options and are never reported.
    expect_output(run_bf2ctl(with_host({"word", "--", "-1", "--a.b"}), "pw"), "", 0);
}

TEST(Driver, UnknownOptionsAreReported)
{
    expect_output(run_bf2ctl(with_host({"--strat"}), "pw"), "Unknown option '--strat'\n", 1);
    expect_output(run_bf2ctl(with_host({"--exec=1"}), "pw"), "Unknown option '--exec'\n", 1);
    expect_output(run_bf2ctl(with_host({"-v"}), "pw"), "Unknown option '-v'\n", 1);
    expect_output(run_bf2ctl(with_host({"--zzz", "-x"}), "pw"), "Unknown option '-x'\n", 1);
    expect_output(run_bf2ctl(with_host({"--beta", "--alpha"}), "pw"),
               "Unknown option '--alpha'\n", 1);
}

TEST(Driver, OnlyTheFirstCommandRunsAndRejectsTheOthers)
{
    expect_output(run_bf2ctl(with_host({"--stop", "--check-host"}), "pw"),
               "Unknown option '--stop'\n", 1);
    expect_output(run_bf2ctl(with_host({"--check-host", "--help"}), "pw"),
               "Unknown option '--help'\n", 1);
    // exec comes first in the table whatever the order on the line.
    expect_output(run_bf2ctl(with_host({"--check-host", "--exec", "--cmd=true"}), "pw"),
               "Unknown option '--check-host'\n", 1);
}

TEST(Driver, EveryRemoteCommandConnectsOnlyAfterItsOptions)
{
    for (const char* command : {"--check-host", "--check-on-root", "--create-user"}) {
        SCOPED_TRACE(command);
        expect_output(run_bf2ctl(with_host({command}), "pw"), "Failed to connect\n", 1);
        expect_output(run_bf2ctl(with_host({command, "--extra"}), "pw"),
                   "Unknown option '--extra'\n", 1);
    }
}

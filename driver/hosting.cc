#include "driver/hosting.h"

#include "driver/address.h"
#include "remote/connection.h"
#include "remote/fingerprint.h"
#include "remote/error.h"
#include "opt/lookup.h"

#include <cstdlib>

using zelto::opt::TOParsing;

namespace {

// A day: a longer bound is a mistake, not a wish.
constexpr int max_connect_timeout = 24 * 60 * 60;

}  // namespace

void get_hosting(TOParsing parsing)
{
    ssh_address = zelto::opt::value_of(parsing, "address");
    const TAddress address = parse_address(ssh_address);
    ssh_host = address.host;
    ssh_port = address.port;
    ssh_login = zelto::opt::value_of(parsing, "login");
    // Both optional, so looked up without a report; a bad value is reported
    // as the option library reports one.
    if (auto timeout = parsing["connect-timeout"]; timeout.found) {
        ssh_connect_timeout = zelto::opt::whole_number(timeout.entry->second.value, max_connect_timeout);
        if (ssh_connect_timeout == 0)
            throw TOParsing::TBadLOpt(timeout.entry);
    }
    if (auto timeout = parsing["timeout"]; timeout.found) {
        run_timeout = zelto::opt::whole_number(timeout.entry->second.value, max_connect_timeout);
        if (run_timeout == 0)
            throw TOParsing::TBadLOpt(timeout.entry);
    }
    if (auto key = parsing["host-key"]; key.found) {
        if (!is_sha256_fingerprint(key.entry->second.value))
            throw TOParsing::TBadLOpt(key.entry);
        ssh_host_key = key.entry->second.value;
    }
    ssh_password = std::getenv("BF2_PASSWD");
    if (!ssh_password)
        throw TUError("Password is not set");
}

#include "driver/hosting.h"

#include "commands/secrets.h"
#include "driver/address.h"
#include "remote/connection.h"
#include "remote/fingerprint.h"
#include "remote/error.h"
#include "opt/lookup.h"

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>

using zelto::opt::TOParsing;

namespace {

// A day: a longer bound is a mistake, not a wish.
constexpr int max_connect_timeout = 24 * 60 * 60;

}  // namespace

void get_hosting(TOParsing parsing, bool login)
{
    ssh_address = zelto::opt::value_of(parsing, "address");
    const TAddress address = parse_address(ssh_address);
    ssh_host = address.host;
    ssh_port = address.port;
    if (login || parsing.opts().lopts().count("login"))
        ssh_login = zelto::opt::value_of(parsing, "login");
    // Both optional, so looked up without a report; a bad value is reported
    // as the option library reports one.
    if (auto timeout = parsing["connect-timeout"]; timeout.found) {
        ssh_connect_timeout =
            zelto::opt::whole_number(timeout.entry->second.value, max_connect_timeout);
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
    if (auto known = parsing["known-hosts"]; known.found) {
        ssh_known_hosts = known.entry->second.value;
        // The file itself is created on first use; where it goes must exist.
        std::filesystem::path dir = std::filesystem::path(ssh_known_hosts).parent_path();
        struct stat st;
        if (stat(dir.empty() ? "." : dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
            throw TUError(TCode::usage, "No directory for the known hosts file " + ssh_known_hosts)
                .about("known-hosts");
    }
}

void get_credentials(TOParsing parsing, bool login)
{
    load_secrets(parsing);
    ssh_key_passphrase = secret("BF2_KEY_PASSPHRASE");
    if (auto identity = parsing["identity"]; identity.found)
        ssh_identity = read_identity(identity.entry->second.value, ssh_key_passphrase != nullptr);
    ssh_password = secret("BF2_PASSWD");
    if (login && !ssh_password && ssh_identity.path.empty())
        throw TUError(TCode::usage, "Password is not set");
}

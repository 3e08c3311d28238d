#include "driver/hosting.h"

#include "driver/connection.h"
#include "driver/tuerror.h"

#include <cstdlib>

using zelto::opt::req_arg;

void get_hosting(zelto::opt::TOParsing parsing)
{
    // Each result dies at the end of its block, and its sentry reports a
    // missing or empty option right there.
    {
        auto address = parsing("address", req_arg);
        if (address.found)
            ssh_address = address.entry->second.value;
    }
    {
        auto login = parsing("login", req_arg);
        if (login.found)
            ssh_login = login.entry->second.value;
    }
    ssh_password = std::getenv("BF2_PASSWD");
    if (!ssh_password)
        throw TUError("Password is not set");
}

bool help(zelto::opt::TOParsing)
{
    return true;
}

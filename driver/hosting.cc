#include "driver/hosting.h"

#include "driver/connection.h"
#include "driver/tuerror.h"
#include "opt/lookup.h"

#include <cstdlib>

void get_hosting(zelto::opt::TOParsing parsing)
{
    ssh_address = zelto::opt::value_of(parsing, "address");
    ssh_login = zelto::opt::value_of(parsing, "login");
    ssh_password = std::getenv("BF2_PASSWD");
    if (!ssh_password)
        throw TUError("Password is not set");
}

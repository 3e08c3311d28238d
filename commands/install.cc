#include "commands/install.h"

#include "driver/tuerror.h"

using zelto::opt::req_arg;

bool install(zelto::opt::TOParsing parsing)
{
    { auto r = parsing("url", req_arg); }
    { auto r = parsing("dir", req_arg); }
    parsing.end();
    throw TUError("The command 'install' is not available yet");
}

bool check_install(zelto::opt::TOParsing parsing)
{
    { auto r = parsing("dir", req_arg); }
    parsing.end();
    throw TUError("The command 'check-install' is not available yet");
}

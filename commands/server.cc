#include "commands/server.h"

#include "driver/tuerror.h"

using zelto::opt::req_arg;

bool start(zelto::opt::TOParsing parsing)
{
    parsing.end();
    throw TUError("The command 'start' is not available yet");
}

bool stop(zelto::opt::TOParsing parsing)
{
    { auto r = parsing("cfg-dir", req_arg); }
    parsing.end();
    throw TUError("The command 'stop' is not available yet");
}

#include "commands/user.h"

#include "driver/tuerror.h"

bool create_user(zelto::opt::TOParsing parsing)
{
    parsing.end();
    throw TUError("The command 'create-user' is not available yet");
}

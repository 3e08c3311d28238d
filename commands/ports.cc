#include "commands/ports.h"

#include "driver/tuerror.h"

bool port_using(const std::string&)
{
    throw TUError("port check not available yet");
}

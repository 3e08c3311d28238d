#include "commands/settings.h"

#include "driver/tuerror.h"

void set_cfg_option(const std::string& file, const std::string& key, const std::string&, bool)
{
    throw TUError("Set option '" + key + "' failed in " + file + ": not available yet");
}

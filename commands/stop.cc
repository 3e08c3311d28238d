#include "commands/stop.h"

#include "commands/checks.h"
#include "commands/programs.h"
#include "opt/lookup.h"
#include "remote/session.h"

bool stop(zelto::opt::TOParsing parsing)
{
    const std::string cfg_dir = zelto::opt::value_of(parsing, "cfg-dir");
    parsing.end();
    chk_abs_path(cfg_dir, "cfg-dir");
    init_ssh_session();
    run_program(programs::stop,
                {{"CFGDIR", cfg_dir},
                 {"STOP_SCRIPT", program_text(programs::stop_script, {{"CFGDIR", cfg_dir}})}});
    return true;
}

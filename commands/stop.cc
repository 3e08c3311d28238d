#include "commands/stop.h"

#include "commands/checks.h"
#include "commands/sh_scripts.h"
#include "opt/lookup.h"
#include "remote/session.h"

const TFailures stop_failures = {
    {"busy", "Configuration directory busy: another start or stop of it still runs after 40 s",
     "", false, TCode::busy},
    {"copy-stop", "Copy stop script failed", "", true},
    {"stop", "Stop server failed", "", true},
};

std::string get_stop_script(const std::string& cfg_dir)
{
    return "#!/bin/sh\nCFGDIR=" + shell_str(cfg_dir) + "\n" + sh_ours + sh_stop_script;
}

std::string stop_steps(const std::string& cfg_dir)
{
    return sh_var("STOP_SCRIPT", get_stop_script(cfg_dir)) + sh_run_stop;
}

bool stop(zelto::opt::TOParsing parsing)
{
    const std::string cfg_dir = zelto::opt::value_of(parsing, "cfg-dir");
    parsing.end();
    chk_abs_path(cfg_dir);
    init_ssh_session();
    run_script(sh_var("CFGDIR", cfg_dir) + stop_steps(cfg_dir) + "run_stop\nunlock\n", true,
               stop_failures);
    return true;
}

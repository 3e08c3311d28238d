#include "commands/status.h"

#include "commands/checks.h"
#include "commands/output.h"
#include "commands/programs.h"
#include "commands/secrets.h"
#include "opt/lookup.h"
#include "remote/error.h"
#include "remote/session.h"

using zelto::opt::TOParsing;

bool status(TOParsing parsing)
{
    const std::string cfg_dir = zelto::opt::value_of(parsing, "cfg-dir");
    parsing.end();
    chk_abs_path(cfg_dir, "cfg-dir");
    init_ssh_session();
    const std::string state = run_program(programs::status, {{"CFGDIR", cfg_dir}});
    report(TResult()
               .report_fields(state, {{"pid", "pid"},
                                      {"uptime", "uptime_s"},
                                      {"memory-kb", "memory_kb"},
                                      {"process-state", "process_state", TKind::text},
                                      {"exit", "exit_status"},
                                      {"signal", "signal", TKind::text},
                                      {"ended", "ended_at"},
                                      {"last-error", "last_error", TKind::text},
                                      {"restarts", "restarts"},
                                      {"gave-up", "gave_up", TKind::flag}})
               .text({TText::lines(state)}));
    return true;
}

bool console(TOParsing parsing)
{
    const std::string cfg_dir = zelto::opt::value_of(parsing, "cfg-dir");
    // A line may carry a password (an admin command): it may come from the
    // environment instead.
    const std::string line =
        zelto::opt::value_or(parsing, "line", zelto::opt::req_arg, secret("BF2_CONSOLE_LINE"));
    parsing.end();
    chk_abs_path(cfg_dir, "cfg-dir");
    // One line reaches the console, or none.
    if (holds_line_break(line))
        throw TUError(TCode::usage, "Console line holds a line break").about("line");
    init_ssh_session();
    run_program(programs::console, {{"CFGDIR", cfg_dir}, {"LINE", line}});
    return true;
}

bool show_log(TOParsing parsing)
{
    const std::string cfg_dir = zelto::opt::value_of(parsing, "cfg-dir");
    // Optional, so looked up without a report; an empty or bad value is
    // reported as the option library reports one.
    std::string lines = "50", previous;
    auto given = parsing["lines"];
    if (given.found)
        lines = given.entry->second.value;
    // An earlier run's log, kept by the starts since (1 the last).
    auto earlier = parsing["previous"];
    if (earlier.found)
        previous = earlier.entry->second.value;
    parsing.end();
    if (zelto::opt::whole_number(lines, 10000) == 0)
        throw TOParsing::TBadLOpt(given.entry);
    if (earlier.found && zelto::opt::whole_number(previous, 5) == 0)
        throw TOParsing::TBadLOpt(earlier.entry);
    chk_abs_path(cfg_dir, "cfg-dir");
    init_ssh_session();
    const std::string log = cfg_dir + "/srderr.log" + (previous.empty() ? "" : "." + previous);
    // As root, a log the account made a symlink would print any file of the host.
    const std::string text = run_program(programs::log, {{"LOG", log}, {"LINES", lines}});
    // Raw by design: a panel escapes the log for display.
    report(TResult().field("text", text).text({TText::raw(text)}));
    return true;
}

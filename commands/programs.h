// The remote programs: one row for every sh program bf2ctl runs on the host
// or leaves there to run later (its parts, the variables it reads, whether
// it refuses root, how it runs, and its steps' error lines), and the one way
// each is put together and run.  Values travel inside the program, never on
// a command line that other users of the host can read in the process list,
// and a command needs one round trip however many steps it has.  A program
// that fails a step ends with a non-zero status and names the step on its
// last line of output (lib.sh's fail); the step's own complaint is its
// standard error.
#pragma once

#include "remote/error.h"
#include "remote/exec.h"

#include <map>
#include <string>
#include <vector>

// The value as one single-quoted sh word; ' becomes '\''.
std::string shell_str(const std::string& value);

// A call's values by variable name.  A row's message takes them as {NAME};
// a lower-case {name} is a value of the message alone, given where the
// step's error is raised.
using TValues = std::map<std::string, std::string>;

// A variable a program reads.  Each is guarded at the program's head, so
// that one missing fails the program before it acts on "/" instead of
// "$CFGDIR/".
enum class TNeed {
    non_empty,            // : "${NAME:?}"
    may_be_empty,         // : "${NAME?}"
    from_writer,          // non-empty, set by the program that writes this one to the host
    writer_may_be_empty,  // the same, may be empty
    from_host,  // set by the program itself from the host's files, so unguarded; messages name it
};
struct TVar {
    std::string name;
    TNeed need = TNeed::non_empty;
};

// Who raises a step.
enum class TBy {
    sh,        // a "fail STEP ..." of the parts, or the whole line ("same-dir inside")
    computed,  // a function of the parts that fails with its argument ("release mktemp")
    cxx,       // bf2ctl itself, through throw_step
};

// The error line of a failed step.  A step may carry an argument after a
// blank ("port 8080"): the row of its first word then takes it, between
// text and after, unless a row names the whole line, which then claims it;
// the step is the first word either way.  with_err appends ": " and the
// step's standard error.
struct TStep {
    std::string step;
    std::string text;
    std::string after{};
    bool with_err = false;
    TCode code = TCode::remote;
    TBy by = TBy::sh;
};

enum class TRun {
    piped,     // the text on the standard input of "/bin/sh -s"
    terminal,  // the text as the command line, under a pseudo-terminal
    reader,    // the text read off standard input by read_command.sh, then the rest is its input
    stored,    // the text as a value of the program that writes it to the host, to run later
    command,   // a command line of its own, without the shared functions or comment lines
};

struct TProgram {
    std::string name;
    TRun run;
    // Joined in this order after the shared functions (ours.sh, then
    // lib.sh), which every program but a command has.
    std::vector<const char*> parts{};
    std::vector<TVar> vars{};
    // A root login is refused before the parts run: the account's own files
    // are not root's to write or print.
    bool refuse_root = false;
    std::vector<TStep> steps{};
};

namespace programs {
extern const TProgram host_kind, login_uid, check_install, create_user, status, console, rcon_check,
    log, install_state, launch_install, install_script, prepare_start, start_script, launch_start,
    prepare_restart, stop, stop_script, upload, upload_lead, upload_range, fetch_file, watchdog,
    read_command, backup, list_backups, restore, list_dir, install_cancel;
extern const std::vector<const TProgram*> all;
// Steps that belong to no program: the SSH layer's for any channel and a
// forwarded port, the game query's and the game console's.
extern const std::vector<std::string> outside;
}  // namespace programs

// The program's text: the shared functions, then the values, their guards
// and the parts.  A piped, terminal or reader program runs the latter as
// one group, read whole before it runs, after the root refusal, and with
// no input unless it is a reader.  A stored program's first line
// ("#!/bin/sh") and the values only the host knows are its writer's.  A
// declared variable without a value, or a value no variable takes, throws
// an internal TUError naming it.
std::string program_text(const TProgram& program, const TValues& values);

// Runs a piped or terminal program under the run's watchdog (sh/watch.sh),
// which ends it should the run's connection go, and returns its output.  A
// failure throws the error of its step (throw_step_failure).
std::string run_program(const TProgram& program, const TValues& values);

// The same, returning the result for the caller to judge.  Under the
// terminal the error text comes with the output, and both are capped as
// an error text.
TExecResult run_program_result(const TProgram& program, const TValues& values);

// A command line after the watchdog, and what its standard input begins
// with: for a reader program, its text; for a caller's command (exec), the
// command, run as a command line of its own would be.  The rest of the
// input is the program's.  No command line shows the text, and its size
// has no bound.
struct TCommandLine {
    std::string line;
    std::string input;
};
TCommandLine program_command(const TProgram& program, const TValues& values);
TCommandLine caller_command(const std::string& command);

// Throws the TUError of the failed program's step (r.status is not 0):
// the row that claims it, "Not for root: ..." for a refused root login, or
// "Remote script failed with status N: ..." for a step no row claims.
[[noreturn]] void throw_step_failure(const TProgram& program, TExecResult& r,
                                     const TValues& values);

// Throws the TUError of a step bf2ctl raises, by its row; err is the
// complaint a with_err row appends.
[[noreturn]] void throw_step(const TProgram& program, const std::string& step,
                             const TValues& values, const std::string& err = "");

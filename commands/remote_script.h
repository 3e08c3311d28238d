// Remote scripts: the sh programs of commands/sh/, with their values, sent
// whole on the standard input of one remote "sh -s".  Every value travels
// inside the script, never on a command line that other users of the host
// can read in the process list, and a command needs one round trip however
// many steps it has.  A script that fails a step ends with a non-zero status
// and names the step on its last line of output (lib.sh's fail); the step's
// own complaint is its standard error.  Each command maps its steps to its
// error lines with one table of TStepFailure rows.
#pragma once

#include "remote/error.h"
#include "remote/exec.h"

#include <cstddef>

#include <string>
#include <vector>

// The value as one single-quoted sh word; ' becomes '\''.
std::string shell_str(const std::string& value);

// "NAME=" + the value quoted for sh, and a line break.
std::string sh_var(const std::string& name, const std::string& value);

// The error line of a failed step.  A step may carry an argument after a
// blank ("port 8080"): the row of its first word then takes it, between
// text and after, unless a row names the whole line ("same-dir inside"),
// which then claims it; the step is the first word either way.  with_err
// appends ": " and the step's standard error.
struct TStepFailure {
    std::string step;
    std::string text;
    std::string after;
    bool with_err;
    TCode code = TCode::remote;
};
using TFailures = std::vector<TStepFailure>;

// The whole script text for body: the shared functions (lib.sh, ours.sh),
// then body as one group, read whole before it runs and given no input, so
// nothing in it can read the rest of the script as its input.  refuse_root:
// a root login is refused before the body runs (the account's own files are
// not root's to write).  with_input: the body reads what follows the script
// on standard input, which only a script_reader's script may.
std::string script_text(const std::string& body, bool refuse_root, bool with_input = false);

// A command line of the caller's own, after the watchdog (sh/watch.sh) that
// ends it should the run's connection go.
std::string watched(const std::string& command);

// A command line that reads a command of size bytes off its standard input
// (sh/read_command.sh) and runs it as a command line of its own, with the
// rest of the input as its input; what it must first read is
// reader_input(command).  No command line shows the command, and its size
// has no bound.
std::string command_reader(size_t size);
std::string reader_input(const std::string& command);

// A command line that runs a script in sh read whole off its standard
// input (by command_reader: what it must first read is
// reader_input(script)), the rest of the input being the script's.
std::string script_reader(const std::string& script);

// Throws the TUError of the failed script's step (r.status is not 0): the
// row of failures that names it, "Not for root: ..." for a refused root
// login, or "Remote script failed with status N: ..." for a step no row
// claims.
[[noreturn]] void throw_step_failure(TExecResult& r, const TFailures& failures);

// Runs the script and returns its output.  A failure throws the TUError of
// its step's row, "Not for root: ..." for a refused root login, or
// "Remote script failed with status N: ..." for a failure no row claims.
std::string run_script(const std::string& body, bool refuse_root, const TFailures& failures);

// Generated sh scripts, each sent whole on the standard input of one remote
// "sh -s": every value travels inside the script, never on a command line
// that other users of the host can read in the process list, and a command
// needs one round trip however many steps it has.  A script that refuses or
// fails a step ends with a non-zero status and names the step on its last
// line of output; the failed step's own complaint is its standard error.
#pragma once

#include <string>

// The sh function "ours PID FILE": whether PID is a live process whose
// command line names FILE.  Every script has it; the stop script, written
// out on its own, includes it too.
extern const char* const ours_function;

// "NAME=" + the value quoted for sh, and a line break.
std::string sh_var(const std::string& name, const std::string& value);

struct TScriptResult {
    int status;
    std::string out;   // the output, without the failed step's line
    std::string step;  // the failed step's line, "" when the script succeeded
    std::string err;
};

// Runs the script body, which may call, besides ours:
//   write_new FILE   FILE made anew from standard input, never through
//                    whatever someone left at its name
//   lock, unlock     one start or stop at a time per $CFGDIR; lock fails
//                    when another run holds it for 40 s
//   fail STEP        lets go of the lock and ends the script naming STEP
// refuse_root: a root login is refused before the body runs (the account's
// own files are not root's to write), with "Not for root: ..." thrown here.
TScriptResult run_script(const std::string& body, bool refuse_root);

// The whole text run_script sends, for a script that must run as a command
// line instead (under a terminal, where standard input is the terminal).
std::string script_text(const std::string& body, bool refuse_root);

// The TUError for a failure no step of the script claims.
[[noreturn]] void script_broke(const TScriptResult& r);

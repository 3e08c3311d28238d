// Runs one command line on the remote account and returns its output,
// error text and exit status.  The status is printed by the remote shell
// itself after the command, as the last line of standard output, and is
// believed only when that shell ended normally.
#pragma once

#include <string>

struct TExecResult {
    int status;       // -1 when no status could be read
    std::string out;  // standard output without the status line
    std::string err;  // standard error, untouched
};

// Requires an open session.  Throws TUError when the channel cannot be set
// up or the connection fails; a failing remote command is reported through
// status.
TExecResult ssh_exec(std::string command, std::string input, bool want_pty);

// The status of a finished command from its output: out ends with the
// status line unless a signal killed the shell that prints it (killed) or
// something else kept it from printing.  Then -1, and out stays whole;
// otherwise extr_ret_code's cut.  pty: the output came through a terminal.
int wrapper_status(std::string& out, bool killed, bool pty);

// Cuts the trailing "\n<status>\n" off text and returns the status.
int extr_ret_code(std::string& text);

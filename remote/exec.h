// Runs one command line on the remote account and returns its output,
// error text and exit status.  The status is printed by the remote shell
// itself after the command, as the last line of standard output.
#pragma once

#include <string>

struct TExecResult {
    int status;       // -1 when no status could be read
    std::string out;  // standard output without the status line
    std::string err;  // standard error, untouched
};

// Requires an open session.  Throws TUError only when the channel cannot be
// set up; a failing remote command is reported through status.
TExecResult ssh_exec(std::string command, std::string input, bool want_pty);

// Cuts the trailing "\n<status>\n" off text and returns the status.
int extr_ret_code(std::string& text);

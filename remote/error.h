// The tool's own error: one message that is the complete line to print, and
// the kind of failure it is, which a caller reading JSON branches on.
// Deliberately not derived from std::exception or zelto::TError, so main
// tells it apart from option-library errors by its own catch clause.
#pragma once

#include <string>

// The closed set of error codes; code_name gives each its JSON name.
enum class TCode {
    usage,            // the command line or environment, found before connecting
    resolve,          // the host name does not resolve
    connect,          // nothing accepts the connection
    not_ssh,          // the peer does not speak SSH
    timeout,          // a bound passed
    host_key,         // the host's key is refused
    auth,             // the login is refused
    connection_lost,  // the connection failed once up
    root_refused,     // a root login for a command that refuses it
    busy,             // another run holds the directory's lock: a retry later may pass
    server_running,   // a running server (or a process in the tree) forbids it: stop it first
    install_running,  // an install of the tree runs: wait for it
    not_running,      // the server is not running, or was never started
    not_reading,      // the server runs but does not read its console
    rcon_auth,        // the game's console refuses the login
    local_file,       // a file of the caller's cannot be read or kept
    remote,           // a remote step failed; step names it
    interrupted,      // a signal ended the run
    internal,         // nothing else fits
};

const char* code_name(TCode code);

class TUError {
public:
    TUError(TCode code, std::string message, std::string step = "")
        : code(code), message(std::move(message)), step(std::move(step))
    {
    }
    // The option a usage error is about (its name without dashes).
    TUError& about(std::string name)
    {
        option = std::move(name);
        return *this;
    }
    // Which wait a timeout passed in: "connect", "run" or "query".
    TUError& in(std::string name)
    {
        phase = std::move(name);
        return *this;
    }
    TCode code;
    std::string message;
    std::string step;  // the remote step that failed, for TCode::remote
    std::string option;
    std::string phase;
};

// An error message as the one line the caller reads: line breaks at its end
// (remote error text brings its own) are cut, and each run of line breaks
// inside becomes "; ".
std::string one_line(const std::string& message);

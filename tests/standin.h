// The stand-in game server (standin/standin.py) for the lifecycle tests,
// installed into a server directory as the executable start.sh that the
// start script runs.
#pragma once

#include <functional>
#include <string>

namespace fixture {

// flags: the stand-in's own options ("--ignore-quit", "--lifetime S"), put
// before the game's arguments.  The files are made owner's (an account
// name, or "" to leave them root's).
void install_standin(const std::string& srv_dir, const std::string& owner,
                     const std::string& flags = "");

// The stand-in's log in the configuration directory, "" while it has none.
std::string standin_log(const std::string& cfg_dir);

// Watching the processes of a running server from this machine.
// A zombie counts as ended: only its parent's wait is missing.
bool process_alive(long pid);
// /proc/PID/cmdline with its NUL separators; "" once the process is gone.
std::string proc_cmdline(long pid);
// The number in a pid file; -1 when there is none.
long read_pid(const std::string& path);
// Polls every 20 ms until done() or seconds have passed; done()'s result.
bool wait_until(const std::function<bool()>& done, double seconds);

}  // namespace fixture

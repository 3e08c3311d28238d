#include "standin.h"

#include "process.h"
#include "remote/shell.h"

#include <unistd.h>

#include <chrono>
#include <cstdlib>

namespace fixture {

void install_standin(const std::string& srv_dir, const std::string& owner, const std::string& flags)
{
    const std::string q = shell_str(srv_dir);
    // Not whatever python3 root's PATH finds: the account must run it too.
    must_sh("test -x /usr/bin/python3 && install -D -m 644 " +
            shell_str(BF2_TESTS_DIR "/standin/standin.py") + " " + q + "/standin.py");
    // exec: the game server's pid is the stand-in's own, as the stop script
    // signals that pid.
    write_file(srv_dir + "/start.sh",
               "#!/bin/sh\nexec /usr/bin/python3 \"${0%/*}/standin.py\" " + flags + " \"$@\"\n");
    must_sh("chmod 755 " + q + "/start.sh" +
            (owner.empty() ? "" : " && chown -R " + owner + ": " + q));
}

std::string standin_log(const std::string& cfg_dir) { return read_file(cfg_dir + "/standin.log"); }

bool process_alive(long pid)
{
    const std::string stat = read_file("/proc/" + std::to_string(pid) + "/stat");
    size_t paren = stat.rfind(')');
    return paren != std::string::npos && paren + 2 < stat.size() && stat[paren + 2] != 'Z';
}

std::string proc_cmdline(long pid)
{
    return read_file("/proc/" + std::to_string(pid) + "/cmdline");
}

long read_pid(const std::string& path)
{
    long pid = std::atol(read_file(path).c_str());
    return pid > 0 ? pid : -1;
}

bool wait_until(const std::function<bool()>& done, double seconds)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    for (; std::chrono::steady_clock::now() < deadline; usleep(20000))
        if (done())
            return true;
    return done();
}

}  // namespace fixture

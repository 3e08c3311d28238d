#include "standin.h"

#include "process.h"
#include "remote/shell.h"

#include <unistd.h>

#include <chrono>
#include <cstdlib>

namespace fixture {

void install_standin(const std::string& srv_dir, const std::string& owner, const std::string& flags)
{
    const std::string program = read_file(std::string(BF2_TESTS_DIR) + "/standin/standin.py");
    if (program.empty())
        must_sh("echo 'the stand-in program " BF2_TESTS_DIR "/standin/standin.py is missing' >&2; "
                "exit 1");
    // Not whatever python3 root's PATH finds: the account must run it too.
    must_sh("test -x /usr/bin/python3 || { echo '/usr/bin/python3 is missing' >&2; exit 1; }");
    must_sh("mkdir -p " + shell_str(srv_dir));
    write_file(srv_dir + "/standin.py", program);
    // exec: the game server's pid is the stand-in's own, as the stop script
    // signals that pid.
    write_file(srv_dir + "/start.sh",
               "#!/bin/sh\nexec /usr/bin/python3 \"${0%/*}/standin.py\" " + flags + " \"$@\"\n");
    std::string own = owner.empty() ? "" : " && chown -R " + owner + ": " + shell_str(srv_dir);
    must_sh("chmod 755 " + shell_str(srv_dir + "/start.sh") + own);
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
    const std::string text = read_file(path);
    char* end = nullptr;
    long pid = std::strtol(text.c_str(), &end, 10);
    return end != text.c_str() && pid > 0 ? pid : -1;
}

bool wait_until(const std::function<bool()>& done, double seconds)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return done();
        usleep(20000);
    }
    return true;
}

}  // namespace fixture

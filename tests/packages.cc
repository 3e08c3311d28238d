#include "packages.h"

#include "remote/shell.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

namespace fixture {

namespace {

// Serves its working directory; the log goes to stderr.
const char* const server_code = R"py(
import http.server, os, sys, time

class Handler(http.server.SimpleHTTPRequestHandler):
    def do_GET(self):
        if self.path.startswith('/hold/'):
            self.path = self.path[len('/hold'):]
            name = self.path[1:].split('?')[0]
            open(name + '.held', 'w').close()
            for _ in range(1200):
                if os.path.exists(name + '.release'):
                    break
                time.sleep(0.05)
        super().do_GET()

server = http.server.ThreadingHTTPServer((sys.argv[1], int(sys.argv[2])), Handler)
open('../ready', 'w').close()
server.serve_forever()
)py";

// Whether path appears within 30 s; false at once if pid has ended.
bool appears(const std::string& path, pid_t pid = -1)
{
    for (int i = 0; i < 1500; ++i) {
        if (access(path.c_str(), F_OK) == 0)
            return true;
        if (pid > 0 && waitpid(pid, nullptr, WNOHANG) == pid)
            return false;
        usleep(20000);
    }
    return false;
}

}  // namespace

const char* const installed_tree_listing =
    ".\n./bf2_lnxded.dynamic\n./bf2_lnxded.static\n./fixinstall.sh\n./fixinstall.trace\n"
    "./mods\n./mods/bf2\n./mods/bf2/init.con\n./start.sh\n";

void make_server_tree(const std::string& dir, const std::string& omit)
{
    must_sh(
        "mkdir -p " + shell_str(dir + "/bf2/mods/bf2") + " && cd " + shell_str(dir + "/bf2") +
        " && printf '#!/bin/sh\\necho started\\n' > start.sh" +
        " && printf '#!/bin/sh\\necho fixinstall ran > fixinstall.trace\\n' > fixinstall.sh" +
        " && echo dynamic server > bf2_lnxded.dynamic && echo static server > bf2_lnxded.static" +
        " && echo init > mods/bf2/init.con && chmod -R u=rwX,go=rX ." +
        (omit.empty() ? "" : " && rm " + shell_str(omit)));
}

void make_packages(const std::string& dir)
{
    make_server_tree(dir + "/full");
    make_server_tree(dir + "/nostatic", "bf2_lnxded.static");
    must_sh("cd " + shell_str(dir) + " && tar -cjf server.tar.bz2 -C full bf2" +
            " && tar -czf server.tar.gz -C full bf2 && tar -czf nostatic.tar.gz -C nostatic bf2" +
            " && (cd full && zip -qr ../server.zip bf2)" +
            " && makeself --nox11 full/bf2 server.run 'bf2 server' touch makeself_script_ran" +
            " >/dev/null && printf 'not an archive\\n' > unknown.bin && rm -rf full nostatic");
}

TPackageServer::TPackageServer(std::string address, int port)
    : address_(std::move(address)), port_(port)
{
    const std::string root = dir_.path() + "/www", log = dir_.path() + "/server.log";
    must_sh("mkdir " + shell_str(root) + " && chmod 755 " + shell_str(dir_.path()));
    make_packages(root);
    const std::string port_text = std::to_string(port_);
    const pid_t parent = getpid();
    pid_ = fork();
    if (pid_ == 0) {
        // Dies with the test run, however that ends.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (getppid() != parent || chdir(root.c_str()) != 0 || dup2(fd, 1) < 0 || dup2(fd, 2) < 0)
            _exit(127);
        execl("/usr/bin/python3", "python3", "-c", server_code, address_.c_str(), port_text.c_str(),
              static_cast<char*>(nullptr));
        std::perror("/usr/bin/python3");
        _exit(127);
    }
    if (pid_ < 0 || !appears(dir_.path() + "/ready", pid_)) {
        std::fprintf(stderr, "FIXTURE FAILURE: the HTTP server on %s did not start: %s\n",
                     url("").c_str(), read_file(log).c_str());
        std::fflush(stderr);
        std::abort();
    }
}

TPackageServer::~TPackageServer()
{
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
}

std::string TPackageServer::url(const std::string& path) const
{
    return "http://" + address_ + ":" + std::to_string(port_) + "/" + path;
}

void TPackageServer::add_file(const std::string& name, const std::string& from) const
{
    must_sh("cp " + shell_str(from) + " " + shell_str(dir_.path() + "/www/" + name));
}

bool TPackageServer::wait_held(const std::string& name) const
{
    return appears(dir_.path() + "/www/" + name + ".held");
}

void TPackageServer::release(const std::string& name) const
{
    write_file(dir_.path() + "/www/" + name + ".release", "");
}

std::string TPackageServer::requests() const { return read_file(dir_.path() + "/server.log"); }

}  // namespace fixture

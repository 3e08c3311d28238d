#include "packages.h"

#include "remote/shell.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>

namespace fixture {

namespace {

[[noreturn]] void die(const std::string& what)
{
    std::fprintf(stderr, "FIXTURE FAILURE: %s\n", what.c_str());
    abort_run();
}

const char* const python = "/usr/bin/python3";

const char* const server_code = R"py(
import http.server, os, sys, time
address, port, root, log = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4]

class Handler(http.server.SimpleHTTPRequestHandler):
    def __init__(self, *args, **kwargs):
        super().__init__(*args, directory=root, **kwargs)

    def do_GET(self):
        if self.path.startswith('/hold/'):
            name = self.path[len('/hold/'):]
            flag = os.path.join(root, name.split('?')[0] + '.release')
            open(os.path.join(root, name.split('?')[0] + '.held'), 'w').close()
            for _ in range(1200):
                if os.path.exists(flag):
                    break
                time.sleep(0.05)
            self.path = '/' + name
        super().do_GET()

    def log_request(self, code='-', size='-'):
        with open(log, 'a') as f:
            f.write('%s %s\n' % (self.requestline, int(code)))

    def log_message(self, *args):
        pass

http.server.ThreadingHTTPServer((address, port), Handler).serve_forever()
)py";

bool accepts(const std::string& address, int port)
{
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_port = htons(port);
    inet_pton(AF_INET, address.c_str(), &sin.sin_addr);
    bool ok = connect(fd, reinterpret_cast<sockaddr*>(&sin), sizeof sin) == 0;
    close(fd);
    return ok;
}

// A server left by a crashed run would still hold the port.
void kill_stale(const std::string& pid_path)
{
    std::ifstream in(pid_path);
    pid_t pid = 0;
    if (in >> pid && pid > 1) {
        std::string cmdline;
        std::ifstream("/proc/" + std::to_string(pid) + "/cmdline") >> cmdline;
        if (cmdline.find("python") != std::string::npos)
            kill(pid, SIGTERM);
        for (int i = 0; i < 50 && kill(pid, 0) == 0; ++i)
            usleep(20000);
    }
    std::remove(pid_path.c_str());
}

std::string stale_pid_path(const std::string& address, int port)
{
    return "/tmp/bf2-fixture-http-" + address + "-" + std::to_string(port) + ".pid";
}

}  // namespace

const char* const installed_tree_listing =
    ".\n"
    "./bf2_lnxded.dynamic\n"
    "./bf2_lnxded.static\n"
    "./fixinstall.sh\n"
    "./fixinstall.trace\n"
    "./mods\n"
    "./mods/bf2\n"
    "./mods/bf2/init.con\n"
    "./start.sh\n";

void make_server_tree(const std::string& dir, const std::string& omit)
{
    const std::string t = dir + "/bf2";
    must_sh("mkdir -p " + shell_str(t + "/mods/bf2"));
    const std::pair<const char*, const char*> files[] = {
        {"start.sh", "#!/bin/sh\necho started\n"},
        {"fixinstall.sh", "#!/bin/sh\necho fixinstall ran > fixinstall.trace\n"},
        {"bf2_lnxded.dynamic", "dynamic server\n"},
        {"bf2_lnxded.static", "static server\n"},
        {"mods/bf2/init.con", "init\n"},
    };
    for (const auto& [name, content] : files)
        if (name != omit)
            write_file(t + "/" + name, content);
    must_sh("chmod -R u=rwX,go=rX " + shell_str(t));
}

void make_packages(const std::string& dir)
{
    const std::string q = shell_str(dir);
    make_server_tree(dir + "/full");
    make_server_tree(dir + "/nostatic", "bf2_lnxded.static");
    must_sh("cd " + q + " && tar -cjf server.tar.bz2 -C full bf2"
            " && tar -czf server.tar.gz -C full bf2"
            " && tar -czf nostatic.tar.gz -C nostatic bf2"
            " && (cd full && zip -qr ../server.zip bf2)"
            " && makeself --nox11 full/bf2 server.run 'bf2 server' touch makeself_script_ran"
            " >makeself.out 2>&1"
            " && printf 'not an archive\\n' > unknown.bin"
            " && rm -rf full nostatic makeself.out");
    // The header must carry what the install script looks for.
    std::string head = must_sh("head -n 10 " + shell_str(dir + "/server.run"));
    if (head.find("Makeself") == std::string::npos)
        die("makeself wrote no Makeself header into server.run");
    if (must_sh("grep -c '^script=\"touch\"$' " + shell_str(dir + "/server.run")) != "1\n")
        die("server.run has no script= line naming touch");
}

TPackageServer::TPackageServer(std::string address, int port)
    : address_(std::move(address)), port_(port)
{
    if (access(python, X_OK) != 0)
        die(std::string("missing prerequisite ") + python);
    const std::string root = dir_.path() + "/www";
    must_sh("mkdir " + shell_str(root) + " && chmod 755 " + shell_str(dir_.path()));
    make_packages(root);

    const std::string pid_path = stale_pid_path(address_, port_);
    kill_stale(pid_path);

    pid_ = fork();
    if (pid_ < 0)
        die("fork for the HTTP server failed");
    if (pid_ == 0) {
        std::string err = dir_.path() + "/server.err";
        int fd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(fd, 1);
        dup2(fd, 2);
        std::string port_text = std::to_string(port_), log = dir_.path() + "/requests.log";
        execl(python, python, "-c", server_code, address_.c_str(), port_text.c_str(),
              root.c_str(), log.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    std::ofstream(pid_path) << pid_ << "\n";
    kill_on_abort(pid_);
    for (int i = 0; i < 500; ++i) {
        if (accepts(address_, port_))
            return;
        int status;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            die("the HTTP server on " + address_ + ":" + std::to_string(port_) +
                " died: " + read_file(dir_.path() + "/server.err"));
        }
        usleep(20000);
    }
    die("the HTTP server on " + address_ + ":" + std::to_string(port_) + " does not listen");
}

TPackageServer::~TPackageServer()
{
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
        forget_on_abort(pid_);
    }
    std::remove(stale_pid_path(address_, port_).c_str());
}

void TPackageServer::add_file(const std::string& name, const std::string& from) const
{
    must_sh("cp " + shell_str(from) + " " + shell_str(dir_.path() + "/www/" + name));
}

std::string TPackageServer::url(const std::string& path) const
{
    return "http://" + address_ + ":" + std::to_string(port_) + "/" + path;
}

void TPackageServer::release(const std::string& name) const
{
    write_file(dir_.path() + "/www/" + name + ".release", "");
}

bool TPackageServer::wait_held(const std::string& name) const
{
    const std::string flag = dir_.path() + "/www/" + name + ".held";
    for (int i = 0; i < 1500; ++i) {
        if (access(flag.c_str(), F_OK) == 0)
            return true;
        usleep(20000);
    }
    return false;
}

std::string TPackageServer::requests() const
{
    return read_file(dir_.path() + "/requests.log");
}

}  // namespace fixture

#include "process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace fixture {

namespace {

[[noreturn]] void die(const std::string& what)
{
    std::fprintf(stderr, "FIXTURE FAILURE: %s\n", what.c_str());
    std::fflush(stderr);
    std::abort();
}

}  // namespace

TProc run_process(const std::vector<std::string>& argv,
                  const std::map<std::string, std::optional<std::string>>& env,
                  const std::string& input, int timeout_s)
{
    int in_pipe[2], out_pipe[2], err_pipe[2];
    if (pipe2(in_pipe, O_CLOEXEC) || pipe2(out_pipe, O_CLOEXEC) || pipe2(err_pipe, O_CLOEXEC))
        die(std::string("pipe2: ") + std::strerror(errno));

    std::vector<std::string> env_strings;
    for (char** e = environ; *e; ++e) {
        std::string entry = *e;
        std::string name = entry.substr(0, entry.find('='));
        if (!env.count(name))
            env_strings.push_back(entry);
    }
    for (const auto& [name, value] : env)
        if (value)
            env_strings.push_back(name + "=" + *value);
    std::vector<char*> envp, args;
    for (auto& s : env_strings)
        envp.push_back(s.data());
    envp.push_back(nullptr);
    std::vector<std::string> argv_copy = argv;
    for (auto& s : argv_copy)
        args.push_back(s.data());
    args.push_back(nullptr);

    pid_t pid = fork();
    if (pid < 0)
        die(std::string("fork: ") + std::strerror(errno));
    if (pid == 0) {
        dup2(in_pipe[0], 0);
        dup2(out_pipe[1], 1);
        dup2(err_pipe[1], 2);
        setpgid(0, 0);
        execve(args[0], args.data(), envp.data());
        _exit(127);
    }
    close(in_pipe[0]);
    close(out_pipe[1]);
    close(err_pipe[1]);
    fcntl(in_pipe[1], F_SETFL, O_NONBLOCK);

    TProc result;
    size_t written = 0;
    int in_fd = in_pipe[1];
    if (input.empty()) {
        close(in_fd);
        in_fd = -1;
    }
    int fds[2] = {out_pipe[0], err_pipe[0]};
    std::string* sinks[2] = {&result.out, &result.err};
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_s);
    signal(SIGPIPE, SIG_IGN);

    while (fds[0] >= 0 || fds[1] >= 0) {
        pollfd pfds[3];
        int n = 0;
        for (int i = 0; i < 2; ++i)
            if (fds[i] >= 0)
                pfds[n++] = {fds[i], POLLIN, 0};
        if (in_fd >= 0)
            pfds[n++] = {in_fd, POLLOUT, 0};
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                        deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0) {
            result.timed_out = true;
            // Where it hung is worth more than that it hung.
            if (access("/usr/bin/gdb", X_OK) == 0) {
                TProc trace = run_process({"/usr/bin/gdb", "-p", std::to_string(pid), "-batch",
                                           "-ex", "thread apply all bt"},
                                          {}, "", 60);
                result.err += "\n[timed out; stack of the hung process]\n" + trace.out;
            }
            kill(-pid, SIGKILL);
            break;
        }
        if (poll(pfds, n, static_cast<int>(left)) < 0 && errno != EINTR)
            die(std::string("poll: ") + std::strerror(errno));
        for (int i = 0; i < n; ++i) {
            if (!pfds[i].revents)
                continue;
            if (pfds[i].fd == in_fd) {
                ssize_t w = write(in_fd, input.data() + written, input.size() - written);
                if (w > 0)
                    written += w;
                if (w < 0 && errno != EAGAIN) {
                    close(in_fd);
                    in_fd = -1;
                } else if (written == input.size()) {
                    close(in_fd);
                    in_fd = -1;
                }
                continue;
            }
            int k = pfds[i].fd == fds[0] ? 0 : 1;
            char buffer[65536];
            ssize_t r = read(fds[k], buffer, sizeof buffer);
            if (r > 0) {
                sinks[k]->append(buffer, r);
            } else if (r == 0 || errno != EINTR) {
                close(fds[k]);
                fds[k] = -1;
            }
        }
    }
    for (int fd : fds)
        if (fd >= 0)
            close(fd);
    if (in_fd >= 0)
        close(in_fd);
    int wstatus = 0;
    waitpid(pid, &wstatus, 0);
    result.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
    return result;
}

TProc sh(const std::string& script, const std::string& input, int timeout_s)
{
    return run_process({"/bin/sh", "-c", script}, {}, input, timeout_s);
}

std::string must_sh(const std::string& script)
{
    TProc r = sh(script);
    if (r.status != 0 || r.timed_out)
        die("command failed (status " + std::to_string(r.status) + "): " + script +
            "\nstdout: " + r.out + "\nstderr: " + r.err);
    return r.out;
}

TTempDir::TTempDir()
{
    char tmpl[] = "/tmp/bf2test.XXXXXX";
    if (!mkdtemp(tmpl))
        die(std::string("mkdtemp: ") + std::strerror(errno));
    path_ = tmpl;
}

TTempDir::~TTempDir()
{
    run_process({"/bin/rm", "-rf", path_});
}

std::string read_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

void write_file(const std::string& path, const std::string& content)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

}  // namespace fixture

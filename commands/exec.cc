#include "commands/exec.h"

#include "commands/output.h"
#include "commands/remote_script.h"
#include "opt/lookup.h"
#include "remote/error.h"
#include "remote/exec.h"
#include "remote/session.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

using zelto::opt::req_arg;

namespace {

struct TFileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

}  // namespace

bool cmd_exec(zelto::opt::TOParsing parsing)
{
    const std::string command = zelto::opt::value_of(parsing, "cmd");
    std::string input;
    {
        auto in = parsing("input", req_arg);
        if (in.found)
            input = in.entry->second.value;
        parsing.clear();  // "input" is optional
    }
    parsing.end();
    // The output goes out as it arrives; the error text, printed after it,
    // waits in a file, so that neither is held in memory whatever its size.
    std::unique_ptr<std::FILE, TFileCloser> err(std::tmpfile());
    if (!err)
        throw TUError(std::string("Unable to create a temporary file: ") + std::strerror(errno));
    init_ssh_session();
    char last = '\n';
    TStatusTail out([&](const char* p, size_t n) {
        if (n == 0)
            return;
        std::fwrite(p, 1, n, stdout);
        std::fflush(stdout);
        last = p[n - 1];
    });
    int status;
    try {
        // The caller wrote this command line for the remote shell: sent as
        // is, with a watchdog ahead of it.
        TInput in(input);
        const bool killed = ssh_exec_streams(
            watched(command), in, false, [&](const char* p, size_t n) { out.add(p, n); },
            [&](const char* p, size_t n) {
                if (std::fwrite(p, 1, n, err.get()) != n)
                    throw TUError(std::string("Unable to keep the error text: ") +
                                  std::strerror(errno));
            });
        status = out.finish(killed, false);
    } catch (const TUError&) {
        out.finish(true, false);  // no status line comes: what was held back is output
        if (last != '\n')
            print("\n");  // the error line stands on a line of its own
        throw;
    }
    std::rewind(err.get());
    char buffer[32768];
    while (size_t n = std::fread(buffer, 1, sizeof buffer, err.get()))
        std::fwrite(buffer, 1, n, stdout);
    print("\n" + std::to_string(status) + "\n");
    return true;
}

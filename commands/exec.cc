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

// An optional option's value, "" when absent.
std::string optional(zelto::opt::TOParsing& parsing, const std::string& name)
{
    auto r = parsing(name, req_arg);
    const std::string value = r.found ? r.entry->second.value : "";
    parsing.clear();
    return value;
}

std::string file_text(const std::string& path)
{
    std::string text;
    TInput file("", path);
    for (std::string_view chunk; !(chunk = file.pending()).empty(); file.consumed(chunk.size()))
        text += chunk;
    return text;
}

}  // namespace

bool cmd_exec(zelto::opt::TOParsing parsing)
{
    // Each text may come in a file of its own instead.
    const auto& given = parsing.opts().lopts();
    for (const std::string name : {"cmd", "input"})
        if (given.count(name) && given.count(name + "-file"))
            throw TUError(TCode::usage, "Conflicting long options '--" + name + "' and '--" + name + "-file'");
    const bool from_file = given.count("cmd-file");
    std::string command = zelto::opt::value_of(parsing, from_file ? "cmd-file" : "cmd");
    const std::string input = optional(parsing, "input");
    const std::string input_file = optional(parsing, "input-file");
    parsing.end();
    // The caller wrote this command line for the remote shell: sent as is,
    // or, from a file, read by the remote shell off the input's head.
    std::string head;
    if (from_file) {
        const std::string text = file_text(command);
        if (text.find('\0') != std::string::npos)
            throw TUError(TCode::local_file, "Command file holds a NUL byte");
        command = command_reader(text.size());
        head = reader_input(text);
    }
    TInput in = input_file.empty() ? TInput(head + input) : TInput(head, input_file);
    // The output goes out as it arrives; the error text, printed after it,
    // waits in a file, so that neither is held in memory whatever its size.
    std::unique_ptr<std::FILE, TFileCloser> err(std::tmpfile());
    if (!err)
        throw TUError(TCode::local_file, std::string("Unable to create a temporary file: ") + std::strerror(errno));
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
        const bool killed = ssh_exec_streams(
            watched(command), in, false, [&](const char* p, size_t n) { out.add(p, n); },
            [&](const char* p, size_t n) {
                if (std::fwrite(p, 1, n, err.get()) != n)
                    throw TUError(TCode::local_file, std::string("Unable to keep the error text: ") +
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

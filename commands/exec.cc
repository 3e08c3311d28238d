#include "commands/exec.h"

#include "commands/output.h"
#include "commands/programs.h"
#include "opt/lookup.h"
#include "remote/bound.h"
#include "remote/error.h"
#include "remote/exec.h"
#include "remote/io.h"
#include "remote/session.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

using zelto::opt::req_arg;

namespace {

// The first cap bytes of a stream, kept in an unnamed temporary file that
// goes with the process whatever ends it; the rest is counted and dropped,
// so that no remote side can fill the local disk.
class TSpool {
public:
    TSpool(const char* what, long long cap) : file_(std::tmpfile()), what_(what), cap_(cap)
    {
        if (!file_)
            throw TUError(TCode::local_file, std::string("Unable to create a temporary file: ") +
                                                 std::strerror(errno));
    }

    void add(const char* p, size_t n)
    {
        const size_t room = static_cast<size_t>(std::min<long long>(cap_ - kept_, n));
        if (std::fwrite(p, 1, room, file_.get()) != room)
            throw TUError(TCode::local_file,
                          std::string("Unable to keep the ") + what_ + ": " + std::strerror(errno));
        kept_ += room;
        dropped_ += n - room;
    }
    std::FILE* get() const { return file_.get(); }
    long long dropped() const { return dropped_; }

private:
    TFile file_;
    const char* what_;
    long long cap_, kept_ = 0, dropped_ = 0;
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
            throw TUError(TCode::usage,
                          "Conflicting long options '--" + name + "' and '--" + name + "-file'");
    const bool from_file = given.count("cmd-file");
    std::string command = zelto::opt::value_of(parsing, from_file ? "cmd-file" : "cmd");
    const std::string input = optional(parsing, "input");
    const std::string input_file = optional(parsing, "input-file");
    // Optional, so looked up without a report; a bad value is reported as
    // the option library reports one.
    auto max_output = parsing["max-output"];
    parsing.end();
    const long long cap = zelto::opt::number_or(max_output, 1LL << 62, 64 << 20);
    // The caller's text reaches the remote shell on its standard input,
    // ahead of the input, and runs there as a command line of its own would:
    // no command line shows it, and no text of it can end the wrapper early.
    const std::string text = from_file ? file_text(command) : command;
    if (text.find('\0') != std::string::npos)
        throw TUError(TCode::local_file, "Command file holds a NUL byte");
    const TCommandLine reader = caller_command(text);
    TInput in =
        input_file.empty() ? TInput(reader.input + input) : TInput(reader.input, input_file);
    // The output goes out as it arrives; the error text, printed after it,
    // waits in a file, so that neither is held in memory whatever its size.
    // With --json both wait, as the object comes whole or not at all.
    TSpool err("error text", cap), out_file("output", cap);
    init_ssh_session();
    TStatusTail out([&](const char* p, size_t n) {
        if (json_output())
            out_file.add(p, n);
        else
            pass_on({p, n});
    });
    int status;
    std::string signal;
    try {
        signal = ssh_exec_streams(
            open_channel(), reader.line, in, false, [&](const char* p, size_t n) { out.add(p, n); },
            [&](const char* p, size_t n) { err.add(p, n); });
        status = out.finish(!signal.empty(), false);
        // From here on neither the bound nor a signal may print inside the result.
        printing_begins();
    } catch (const TUError&) {
        out.finish(true, false);  // no status line comes: what was held back is output
        throw;
    }
    TResult result;
    result.number("status", status).file("stdout", out_file.get()).file("stderr", err.get());
    if (out_file.dropped())
        result.number("stdout_dropped", out_file.dropped());
    if (err.dropped())
        result.number("stderr_dropped", err.dropped());
    if (!signal.empty())
        result.field("signal", signal);
    // Raw by design: the command's own error text; its output went out as it came.
    report(result.text({TText::raw(err.get()), "\n", TText::number(status), "\n"}));
    return true;
}

#include "commands/secrets.h"

#include "remote/bound.h"
#include "remote/io.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>

namespace {

constexpr const char* names[] = {
    "BF2_PASSWD",        "BF2_KEY_PASSPHRASE", "BF2_SRV_PASSWD",  "BF2_REMOTE_ADMIN_PASSWD",
    "BF2_RCON_PASSWORD", "BF2_INSTALL_URL",    "BF2_CONSOLE_LINE"};
constexpr size_t max_size = 64 << 10;
// A pipe whose writer never closes it must not hold the run.
constexpr int wait_s = 30;

std::map<std::string, std::string> secrets;

TUError unreadable(const std::string& file, const std::string& reason)
{
    return TUError(TCode::local_file, "Unable to read the secrets file " + file + ": " + reason);
}

// The file's bytes, at most one beyond max_size: read once, a named pipe
// from the writer that opens it after the run did.
std::string read_secrets(const std::string& file)
{
    const TFd fd(open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    struct stat st;
    if (!fd || fstat(fd.get(), &st) != 0)
        throw unreadable(file, std::strerror(errno));
    if (S_ISREG(st.st_mode) && (st.st_mode & (S_IRGRP | S_IROTH)))
        throw TUError(TCode::usage, "Secrets file " + file + " is readable by group or others")
            .about("secrets-file");
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(wait_s);
    std::string text;
    char buffer[8192];
    while (text.size() <= max_size) {
        const ssize_t n =
            read(fd.get(), buffer, std::min(sizeof buffer, max_size + 1 - text.size()));
        if (n > 0) {
            text.append(buffer, n);
            continue;
        }
        // A FIFO reads as ended until its writer has opened it: only the
        // hang-up of a writer that came and went ends it.
        if (n == 0 && (!S_ISFIFO(st.st_mode) || (wait_fd(fd.get(), POLLIN, 0) & POLLHUP)))
            break;
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            throw unreadable(file, std::strerror(errno));
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            throw unreadable(file, "it did not end within " + std::to_string(wait_s) + " s");
        wait_fd(fd.get(), POLLIN, run_wait_ms(static_cast<int>(left.count())));
        check_run();
    }
    if (text.size() > max_size)
        throw TUError(TCode::usage, "Secrets file " + file + " is larger than 64 KiB")
            .about("secrets-file");
    return text;
}

}  // namespace

std::map<std::string, std::string> parse_secrets(const std::string& text, const std::string& file)
{
    std::map<std::string, std::string> found;
    size_t number = 0;
    for (size_t at = 0; at < text.size();) {
        const size_t end = std::min(text.find('\n', at), text.size());
        const std::string line = text.substr(at, end - at);
        at = end + 1;
        ++number;
        if (line.find_first_not_of(" \t") == std::string::npos || line.starts_with('#'))
            continue;
        const size_t equals = line.find('=');
        const std::string name = line.substr(0, equals);
        // A name of any other shape may be a value written by mistake; no
        // environment variable holds a NUL, nor may a secret.
        if (equals == std::string::npos ||
            line.find_first_of(std::string_view("\r\0", 2)) != std::string::npos || name.empty() ||
            name.find_first_not_of(
                "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_") !=
                std::string::npos)
            throw TUError(TCode::usage, "Secrets file " + file + " line " + std::to_string(number) +
                                            " is malformed")
                .about("secrets-file");
        if (std::find(std::begin(names), std::end(names), name) == std::end(names))
            throw TUError(TCode::usage, "Unknown secret " + name + " in " + file)
                .about("secrets-file");
        found[name] = line.substr(equals + 1);
    }
    return found;
}

void load_secrets(zelto::opt::TOParsing& parsing)
{
    auto given = parsing["secrets-file"];
    if (!given.found)
        return;
    const std::string& file = given.entry->second.value;
    if (file.empty())
        throw zelto::opt::TOParsing::TBadLOpt(given.entry);
    secrets = parse_secrets(read_secrets(file), file);
}

const char* secret(const char* name)
{
    const auto found = secrets.find(name);
    return found != secrets.end() ? found->second.c_str() : std::getenv(name);
}

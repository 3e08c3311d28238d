#include "commands/rcon.h"

#include "commands/checks.h"
#include "commands/output.h"
#include "commands/player_list.h"
#include "commands/programs.h"
#include "commands/secrets.h"
#include "opt/lookup.h"
#include "remote/error.h"
#include "remote/exec.h"
#include "remote/session.h"

#include <openssl/evp.h>

#include <algorithm>
#include <cstring>

using zelto::opt::req_arg;
using zelto::opt::TOParsing;

namespace {

constexpr size_t kGreetingCap = 4096;
constexpr size_t kReplyCap = 1 << 20;
constexpr const char* kSeedLine = "### Digest seed: ";
constexpr const char* kLoggedIn = "Authentication successful, rcon ready.\n";

[[noreturn]] void fail(const std::string& message)
{
    throw TUError(TCode::remote, message, "rcon");
}

// One connection to the console.  Each line sent begins with \x02, which
// makes the console end its whole reply with \x04.
class TConsole {
public:
    explicit TConsole(int port) : channel_(open_forward(port)) {}

    // Reads the greeting and logs in.
    void login(const std::string& password)
    {
        std::string seed;
        size_t end = 0;
        while ((seed = rcon_seed(in_, end)).empty()) {
            if (in_.size() > kGreetingCap || !read_more())
                fail("Unexpected rcon greeting");
        }
        if (end > kGreetingCap)
            fail("Unexpected rcon greeting");
        in_.erase(0, end);
        if (ask(rcon_login(seed, password)) != kLoggedIn)
            throw TUError(TCode::rcon_auth, "Rcon login failed");
    }

    // The reply to one line, without its \x04.
    std::string ask(const std::string& line)
    {
        send("\x02" + line + "\n");
        size_t end;
        while ((end = in_.find('\x04')) == std::string::npos) {
            if (in_.size() > kReplyCap)
                fail("Rcon reply exceeds 1 MiB");
            if (!read_more())
                fail("Rcon connection closed before the reply ended");
        }
        if (end > kReplyCap)
            fail("Rcon reply exceeds 1 MiB");
        std::string reply = in_.substr(0, end);
        in_.erase(0, end + 1);
        return reply;
    }

    void close()
    {
        TNonBlocking nonblocking(ssh_connection.session.get());
        check_connection(
            ssh_connection.until_done([&] { return libssh2_channel_close(channel_.get()); }));
    }

private:
    void send(const std::string& text)
    {
        TNonBlocking nonblocking(ssh_connection.session.get());
        for (size_t sent = 0; sent < text.size();) {
            const ssize_t n = ssh_connection.until_done([&] {
                return libssh2_channel_write_ex(channel_.get(), 0, text.data() + sent,
                                                text.size() - sent);
            });
            check_connection(n);
            if (n < 0)
                fail("Rcon connection closed before the reply ended");
            sent += n;
        }
    }

    // Appends what comes next; false once the console has closed.
    bool read_more()
    {
        TNonBlocking nonblocking(ssh_connection.session.get());
        char buffer[32768];
        const ssize_t n = ssh_connection.until_done(
            [&] { return libssh2_channel_read_ex(channel_.get(), 0, buffer, sizeof buffer); });
        check_connection(n);
        if (n <= 0)
            return false;
        in_.append(buffer, n);
        return true;
    }

    TChannel channel_;
    std::string in_;  // read, not yet taken
};

bool has_control(const std::string& text)
{
    return std::any_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; });
}

// The options every console command takes, the check that the port is the
// server's, and a console logged in to.
struct TTarget {
    std::string cfg_dir;
    int port = 0;
    std::string password{};

    // The options after --cfg-dir and --line, in the order they are reported.
    void read(TOParsing& parsing)
    {
        port = static_cast<int>(zelto::opt::number_or(parsing["rcon-port"], 65535, 4711));
        password =
            zelto::opt::value_or(parsing, "rcon-password", req_arg, secret("BF2_RCON_PASSWORD"));
    }

    // The reply to one console command.
    std::string exec(const std::string& command) const
    {
        init_ssh_session();
        run_program(programs::rcon_check, {{"CFGDIR", cfg_dir}, {"PORT", std::to_string(port)}});
        TConsole console(port);
        console.login(password);
        std::string reply = console.ask("exec " + command);
        console.close();
        return reply;
    }
};

}  // namespace

std::string rcon_login(const std::string& seed, const std::string& password)
{
    const std::string text = seed + password;
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (!EVP_Digest(text.data(), text.size(), digest, &size, EVP_md5(), nullptr))
        throw TUError(TCode::internal, "Undefined error");
    std::string line = "login ";
    for (unsigned int i = 0; i < size; ++i) {
        line += "0123456789abcdef"[digest[i] >> 4];
        line += "0123456789abcdef"[digest[i] & 15];
    }
    return line;
}

std::string rcon_seed(const std::string& text, size_t& end)
{
    const size_t line = text.starts_with(kSeedLine) ? 0 : text.find(std::string("\n") + kSeedLine);
    if (line == std::string::npos)
        return "";
    const size_t seed = text.find(kSeedLine, line) + std::strlen(kSeedLine);
    const size_t eol = text.find('\n', seed);
    if (eol == std::string::npos || eol + 1 >= text.size())
        return "";
    if (text[eol + 1] != '\n' || eol == seed)
        fail("Unexpected rcon greeting");
    end = eol + 2;
    return text.substr(seed, eol - seed);
}

bool rcon(TOParsing parsing)
{
    TTarget target{.cfg_dir = zelto::opt::value_of(parsing, "cfg-dir")};
    // A line may carry a password (an admin command): it may come from the
    // environment instead.
    const std::string line =
        zelto::opt::value_or(parsing, "line", req_arg, secret("BF2_CONSOLE_LINE"));
    target.read(parsing);
    parsing.end();
    chk_abs_path(target.cfg_dir, "cfg-dir");
    if (line.empty())
        throw TUError(TCode::usage, "Rcon line is empty").about("line");
    if (has_control(line))
        throw TUError(TCode::usage, "Rcon line holds a line break or control character")
            .about("line");
    // The console closes on 128 bytes without a line feed: "\x02exec " and
    // "\n" leave 120.
    if (line.size() > 120)
        throw TUError(TCode::usage, "Rcon line is longer than 120 bytes").about("line");
    const std::string reply = target.exec(line);
    // Raw by design, as the console gave it: a panel escapes it for display.
    report(TResult().field("reply", reply).text({TText::raw(reply)}));
    return true;
}

bool players(TOParsing parsing)
{
    TTarget target{.cfg_dir = zelto::opt::value_of(parsing, "cfg-dir")};
    target.read(parsing);
    parsing.end();
    chk_abs_path(target.cfg_dir, "cfg-dir");
    const std::vector<TPlayer> list = parse_players(target.exec("admin.listPlayers"));
    TResult result;
    std::vector<std::vector<std::string>> rows;
    for (const TPlayer& p : list) {
        rows.push_back({p.id, p.name, p.address, p.keyhash});
        result.text({"player: ", TText::line(p.name), " id: ", TText::line(p.id), " address: ",
                     TText::line(p.address), " keyhash: ", TText::line(p.keyhash), "\n"});
    }
    report(result.objects("players",
                          {{"id", TKind::number},
                           {"name", TKind::text},
                           {"address", TKind::text},
                           {"keyhash", TKind::text}},
                          rows));
    return true;
}

bool say(TOParsing parsing)
{
    TTarget target{.cfg_dir = zelto::opt::value_of(parsing, "cfg-dir")};
    const std::string message = zelto::opt::value_of(parsing, "line");
    target.read(parsing);
    parsing.end();
    chk_abs_path(target.cfg_dir, "cfg-dir");
    // Written between double quotes on one line of at most 128 bytes.
    if (message.find('"') != std::string::npos)
        throw TUError(TCode::usage, "Message holds a double quote").about("line");
    if (has_control(message))
        throw TUError(TCode::usage, "Message holds a control character").about("line");
    if (message.size() > 100)
        throw TUError(TCode::usage, "Message is longer than 100 bytes").about("line");
    target.exec("game.sayAll \"" + message + "\"");
    return true;
}

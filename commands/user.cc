#include "commands/user.h"

#include "commands/output.h"
#include "remote/error.h"
#include "opt/xtos.h"
#include "remote/exec.h"
#include "remote/session.h"
#include "commands/remote_script.h"

#include <crypt.h>
#include <sys/random.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

const char* const fixed_names[] = {"bf2", "bf", "battlefield", "battlefield2"};

// The kernel's generator: a password or a name drawn from a clock-seeded
// sequence could be recovered by trying the few thousand likely seeds.
uint32_t random_word()
{
    uint32_t word;
    for (;;) {
        ssize_t n = getrandom(&word, sizeof word, 0);
        if (n == static_cast<ssize_t>(sizeof word))
            return word;
        if (n < 0 && errno != EINTR)
            throw TUError(std::string("Failed to get random numbers: ") + std::strerror(errno));
    }
}

// 0..n-1, each equally likely: words from the incomplete top block are
// drawn again rather than folded onto the low values.
uint32_t random_below(uint32_t n)
{
    const uint64_t span = uint64_t{1} << 32;
    const uint64_t limit = span - span % n;
    for (;;) {
        uint32_t word = random_word();
        if (word < limit)
            return word % n;
    }
}

// isalnum of the "C" locale, whatever locale the process runs in.
bool is_password_char(int c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool is_salt_char(int c)
{
    return is_password_char(c) || c == '.' || c == '/';
}

// Each draw is a code from 33 to 127; codes outside the set are drawn again.
std::string draw_chars(size_t count, bool (*accept)(int))
{
    std::string text;
    while (text.size() < count) {
        int code = 33 + static_cast<int>(random_below(95));
        if (accept(code))
            text += static_cast<char>(code);
    }
    return text;
}

// The group is asked only when the user is free.
bool name_is_free(const std::string& name)
{
    return !exist_sys_user(name) && !exist_sys_group(name);
}

}  // namespace

std::string random_password()
{
    return draw_chars(10, is_password_char);
}

std::string random_salt()
{
    return draw_chars(16, is_salt_char);
}

std::string hash_password(const std::string& password)
{
    const std::string setting = "$6$" + random_salt();
    const char* hash = crypt(password.c_str(), setting.c_str());
    // libxcrypt reports failure with a "*0"/"*1" token rather than null;
    // handing that to useradd would lock the account behind a password
    // that never works.
    if (!hash || hash[0] == '*')
        throw TUError("Failed to encrypted password");
    return hash;
}

int TNameNumbers::next()
{
    if (left_ == 0)
        return 0;
    for (;;) {
        int number = static_cast<int>(random_below(last + 1));
        if (number >= first && !drawn_[number]) {
            drawn_[number] = true;
            --left_;
            return number;
        }
    }
}

std::string find_numbered_name(const std::function<bool(const std::string&)>& is_free)
{
    TNameNumbers numbers;
    int tried = 0;
    for (int number; (number = numbers.next()) != 0; ++tried) {
        std::string name = "bf2_" + zelto::xtos<int>(number);
        if (is_free(name))
            return name;
    }
    throw TUError("No free user name: bf2, bf, battlefield, battlefield2 and " +
                  zelto::xtos<int>(tried) + " tried names bf2_NNNN are taken");
}

bool exist_sys_user(const std::string& name)
{
    // A home left by a deleted account counts too: useradd would hand its
    // files and keys to the new account.
    const std::string q = shell_str(name);
    return ssh_exec("id " + q +
                        " >/dev/null 2>&1 || { H=$(useradd -D 2>/dev/null | sed -n "
                        "'s/^HOME=//p'); [ -e \"${H:-/home}/\"" +
                        q + " ] || [ -L \"${H:-/home}/\"" + q + " ]; }",
                    "", false)
               .status == 0;
}

bool exist_sys_group(const std::string& name)
{
    // Asked at every call: nothing is cached between candidates.
    const std::string system = ssh_exec("uname -s", "", false).out;
    std::string query;
    if (system == "FreeBSD\n")
        query = "pw groupshow " + shell_str(name);
    else if (system == "Linux\n")
        query = "groupmod " + shell_str(name);  // no changes asked: only looks it up
    else
        throw TUError("Unknown system: " + system);
    return ssh_exec(query, "", false).status == 0;
}

std::pair<std::string, std::string> create_sys_user(const std::string& name,
                                                    const std::string& password)
{
    const std::string hash = hash_password(password);
    TExecResult r = ssh_exec("useradd -c \"Zelto's BF2 module\" -m " + shell_str(name) + " -p " +
                                 shell_str(hash),
                             "", false);
    // A warning (a home or mail spool that already existed) is a failure
    // too: the account would not be the fresh one the caller is told of.
    if (r.status != 0 || !r.err.empty())
        throw TUError("Create system user '" + name + "' failed: " + r.err);
    return {name, password};
}

std::pair<std::string, std::string> get_new_user()
{
    const std::string password = random_password();
    for (const char* name : fixed_names)
        if (name_is_free(name))
            return create_sys_user(name, password);
    return create_sys_user(find_numbered_name(name_is_free), password);
}

bool create_user(zelto::opt::TOParsing parsing)
{
    parsing.end();
    init_ssh_session();
    auto [name, password] = get_new_user();
    print("login: \"" + name + "\"\n");
    print("password: \"" + password + "\"\n");
    return true;
}

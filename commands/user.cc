#include "commands/user.h"

#include "commands/output.h"
#include "remote/error.h"
#include "remote/io.h"
#include "remote/session.h"
#include "commands/programs.h"

#include <crypt.h>
#include <sys/random.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

namespace {

// The kernel's generator: a password or a name drawn from a clock-seeded
// sequence could be recovered by trying the few thousand likely seeds.
uint32_t random_word()
{
    uint32_t word;
    const auto draw = [&] { return getrandom(&word, sizeof word, 0); };
    try {
        while (retry_eintr("getrandom", draw) != static_cast<ssize_t>(sizeof word)) {}
    } catch (const TSysError& e) {
        e.reword(TCode::internal, "Failed to get random numbers");
    }
    return word;
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

bool is_salt_char(int c) { return is_password_char(c) || c == '.' || c == '/'; }

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

}  // namespace

std::string random_password() { return draw_chars(10, is_password_char); }

std::string random_salt() { return draw_chars(16, is_salt_char); }

std::string hash_password(const std::string& password)
{
    const std::string setting = "$6$" + random_salt();
    const char* hash = crypt(password.c_str(), setting.c_str());
    // libxcrypt reports failure with a "*0"/"*1" token rather than null;
    // handing that on would lock the account behind a password that never
    // works.
    if (!hash || hash[0] == '*')
        throw TUError(TCode::internal, "Failed to encrypted password");
    return hash;
}

std::string name_numbers()
{
    // Fisher-Yates: the number drawn goes to the end of those left.
    std::vector<int> numbers;
    for (int number = 1000; number <= 9999; ++number)
        numbers.push_back(number);
    std::string text;
    for (size_t left = numbers.size(); left > 0; --left) {
        std::swap(numbers[random_below(left)], numbers[left - 1]);
        text += std::to_string(numbers[left - 1]) + (left > 1 ? " " : "");
    }
    return text;
}

bool create_user(zelto::opt::TOParsing parsing)
{
    parsing.end();
    const std::string password = random_password();
    const std::string hash = hash_password(password);
    init_ssh_session();
    const std::string name =
        run_program(programs::create_user, {{"NUMBERS", name_numbers()}, {"HASH", hash}});
    report(TResult()
               .field("login", name)
               .field("password", password)
               .text({"login: \"", TText::line(name), "\"\npassword: \"", TText::line(password),
                      "\"\n"}));
    return true;
}

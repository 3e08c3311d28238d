// Provisioning a system account for a game server on the remote host: a
// free login name, a random password, and useradd with its SHA-512 crypt
// hash.  The printed login and password are the only record kept.
#pragma once

#include "opt/parsing.h"

#include <functional>
#include <string>
#include <utility>
#include <vector>

bool create_user(zelto::opt::TOParsing parsing);

// Finds a free name, creates the account; returns login and password.
std::pair<std::string, std::string> get_new_user();

// Hashes the password and runs useradd; returns name and password.
std::pair<std::string, std::string> create_sys_user(const std::string& name,
                                                    const std::string& password);

// Whether the name is taken by a user, or by a home directory where
// useradd would make the new one.
bool exist_sys_user(const std::string& name);
bool exist_sys_group(const std::string& name);

// The pieces below are pure or nearly so and are exposed for the tests.

// 10 characters from digits and ASCII letters, from getrandom.
std::string random_password();

// 16 characters from digits, ASCII letters, '.' and '/', from getrandom.
std::string random_salt();

// SHA-512 crypt: "$6$" + a fresh salt + "$" + hash.  Throws TUError
// "Failed to encrypted password" when crypt fails.
std::string hash_password(const std::string& password);

// The numbers 1000..9999 in random order, each drawn at most once, so a
// search over them ends.
class TNameNumbers {
public:
    static constexpr int first = 1000, last = 9999;
    // 0 once every number has been drawn.
    int next();

private:
    std::vector<bool> drawn_ = std::vector<bool>(last + 1);
    int left_ = last - first + 1;
};

// Tries distinct names "bf2_NNNN", each of the 9000 at most once, and
// returns the first that is_free accepts; throws TUError when none is.
std::string find_numbered_name(const std::function<bool(const std::string&)>& is_free);

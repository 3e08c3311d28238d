// Provisioning a system account for a game server on the remote host: a
// free login name, a random password, and the account with its SHA-512
// crypt hash, all in one remote script.  The printed login and password are
// the only record kept.
#pragma once

#include "opt/parsing.h"

#include <string>

bool create_user(zelto::opt::TOParsing parsing);

// The pieces below are pure or nearly so and are exposed for the tests.

// 10 characters from digits and ASCII letters, from getrandom.
std::string random_password();

// 16 characters from digits, ASCII letters, '.' and '/', from getrandom.
std::string random_salt();

// SHA-512 crypt: "$6$" + a fresh salt + "$" + hash.  Throws TUError
// "Failed to encrypted password" when crypt fails.
std::string hash_password(const std::string& password);

// The numbers 1000..9999, each once, in an order drawn from getrandom and
// blank-separated: the order in which the remote script tries the names
// bf2_NNNN, so that the search ends.
std::string name_numbers();
